// SPDX-License-Identifier: LGPL-2.1-or-later
// Writes TNEF streams (winmail.dat) to the published layout for tests:
// attributes with their checksums, file attachments, property lists.
#pragma once

#include <cstdint>
#include <string>

namespace mime::testing {

inline std::string Le(std::uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i) & 0xFF);
  return out;
}

class Tnef {
 public:
  Tnef() : bytes_(Le(0x223E9F78, 4) + Le(1, 2)) {
    Attr(1, 0x00089006, Le(0x00010000, 4));  // version
    Attr(1, 0x00069007, Le(1252, 4) + Le(0, 4));
  }
  Tnef& Attr(int level, std::uint32_t id, const std::string& data) {
    std::uint32_t sum = 0;
    for (unsigned char c : data) sum += c;
    bytes_ += Le(level, 1) + Le(id, 4) + Le(data.size(), 4) + data + Le(sum & 0xFFFF, 2);
    return *this;
  }
  Tnef& Class(const std::string& cls) { return Attr(1, 0x00078008, cls + '\0'); }
  Tnef& Subject(const std::string& subject) { return Attr(1, 0x00018004, subject + '\0'); }
  // A file attachment: its rendering record, title, date (2004-02-17
  // 11:25:35) and data.
  Tnef& File(const std::string& title, const std::string& data) {
    Attr(2, 0x00069002, Le(1, 2) + Le(0xFFFFFFFF, 4) + Le(0, 8));
    Attr(2, 0x00018010, title + '\0');
    Attr(2, 0x00038013,
         Le(2004, 2) + Le(2, 2) + Le(17, 2) + Le(11, 2) + Le(25, 2) + Le(35, 2) + Le(2, 2));
    return Attr(2, 0x0006800F, data);
  }
  // The attachment properties of the last attachment: `count` of them in `list`.
  Tnef& Props(const std::string& list, int count) {
    return Attr(2, 0x00069005, Le(count, 4) + list);
  }
  std::string bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// One counted value, padded to 4 bytes.
inline std::string Padded(const std::string& value) {
  return Le(1, 4) + Le(value.size(), 4) + value + std::string((4 - value.size() % 4) % 4, '\0');
}

// The long file name property, in UTF-16 (ASCII names only).
inline std::string LongName(const std::string& name) {
  std::string utf16;
  for (char c : name) utf16 += std::string{c, '\0'};
  return Le(0x001F, 2) + Le(0x3707, 2) + Padded(utf16 + std::string(2, '\0'));
}

// The two properties of an attachment that is a message: its method and the
// object (an interface id, then the message's own stream).
inline std::string EmbeddedMessage(const std::string& stream) {
  return Le(0x0003, 2) + Le(0x3705, 2) + Le(5, 4) + Le(0x000D, 2) + Le(0x3701, 2) +
         Padded(std::string(16, '\x07') + stream);
}

}  // namespace mime::testing
