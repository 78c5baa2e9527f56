// SPDX-License-Identifier: LGPL-2.1-or-later
// The layout read here, all integers little-endian:
//
//   stream     = signature (0x223E9F78) key (16 bits) attribute*
//   attribute  = level (8 bits: 1 message, 2 attachment) id (32 bits)
//                length (32 bits) data[length] checksum (16 bits)
//
// An attachment starts with its attAttachRenddata attribute; the attachment
// attributes after it (title, data, dates, and attAttachment, a list of MAPI
// properties) belong to it. A property list is a count and that many
// properties: a tag (type and id), a name for the named ids (0x8000 and up),
// and the value: fixed-size types padded to 4 bytes; strings, binaries and
// objects as a count of values, each a length, the bytes, padding to 4.
// Multi-valued properties are a count followed by values of the single form.
// An attachment that is a message carries it as an object property: a 16-byte
// interface id followed by a TNEF stream of its own.
#include "platform/mime/tnef.h"

#include <cstdio>
#include <cstring>

#include "platform/com/bstr.h"
#include "platform/com/codepage.h"
#include "platform/com/time.h"

// After the platform's headers: GLib defines TRUE and FALSE as macros.
#include <glib.h>

namespace mime::tnef {
namespace {

constexpr std::uint32_t kSignature = 0x223E9F78;
constexpr std::uint8_t kLevelMessage = 1;
constexpr std::uint8_t kLevelAttachment = 2;

// Attribute ids (the attribute's type in the high word).
constexpr std::uint32_t kAttSubject = 0x00018004;
constexpr std::uint32_t kAttMessageClass = 0x00078008;
constexpr std::uint32_t kAttAttachData = 0x0006800F;
constexpr std::uint32_t kAttAttachTitle = 0x00018010;
constexpr std::uint32_t kAttAttachModifyDate = 0x00038013;
constexpr std::uint32_t kAttAttachRenddata = 0x00069002;
constexpr std::uint32_t kAttMsgProps = 0x00069003;
constexpr std::uint32_t kAttAttachment = 0x00069005;
constexpr std::uint32_t kAttOemCodepage = 0x00069007;

// Property ids.
constexpr std::uint16_t kPropSubject = 0x0037;
constexpr std::uint16_t kPropMessageClass = 0x001A;
constexpr std::uint16_t kPropDisplayName = 0x3001;
constexpr std::uint16_t kPropLastModified = 0x3008;
constexpr std::uint16_t kPropAttachData = 0x3701;
constexpr std::uint16_t kPropAttachLongName = 0x3707;
constexpr std::uint16_t kPropAttachMimeTag = 0x370E;

// Property types.
constexpr std::uint16_t kTypeMulti = 0x1000;
constexpr std::uint16_t kTypeString8 = 0x001E;
constexpr std::uint16_t kTypeUnicode = 0x001F;
constexpr std::uint16_t kTypeBinary = 0x0102;
constexpr std::uint16_t kTypeObject = 0x000D;
constexpr std::uint16_t kTypeSysTime = 0x0040;

// The size of a fixed-size property type's value, 0 for a variable one, -1
// for a type this reader does not know (and so cannot step over).
int FixedSize(std::uint16_t type) {
  switch (type) {
    case 0x0002:  // short, padded
    case 0x0003:  // long
    case 0x0004:  // float
    case 0x000A:  // error
    case 0x000B:  // boolean, padded
      return 4;
    case 0x0005:  // double
    case 0x0006:  // currency
    case 0x0007:  // application time
    case 0x0014:  // 64-bit integer
    case kTypeSysTime:
      return 8;
    case 0x0048:  // class id
      return 16;
    case kTypeString8:
    case kTypeUnicode:
    case kTypeBinary:
    case kTypeObject:
      return 0;
    default:
      return -1;
  }
}

class Cursor {
 public:
  explicit Cursor(std::string_view bytes) : bytes_(bytes) {}
  std::size_t left() const { return bytes_.size() - at_; }
  bool Take(std::size_t n, std::string_view* out) {
    if (n > left()) return false;
    *out = bytes_.substr(at_, n);
    at_ += n;
    return true;
  }
  bool Skip(std::size_t n) {
    std::string_view ignored;
    return Take(n, &ignored);
  }
  bool U8(std::uint8_t* out) { return Int(out); }
  bool U16(std::uint16_t* out) { return Int(out); }
  bool U32(std::uint32_t* out) { return Int(out); }

 private:
  template <class T>
  bool Int(T* out) {
    std::string_view raw;
    if (!Take(sizeof(T), &raw)) return false;
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
      value |= static_cast<T>(static_cast<T>(static_cast<unsigned char>(raw[i])) << (8 * i));
    *out = value;
    return true;
  }

  std::string_view bytes_;
  std::size_t at_ = 0;
};

std::uint16_t Le16(std::string_view s, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) |
                                    static_cast<unsigned char>(s[at + 1]) << 8);
}

std::string_view UpToNul(std::string_view s) {
  std::size_t nul = s.find('\0');
  return nul == std::string_view::npos ? s : s.substr(0, nul);
}

// One property's first value (the one this reader uses).
struct Property {
  std::uint16_t id = 0, type = 0;
  std::string_view value;
};

class Reader {
 public:
  explicit Reader(const Limits& limits) : limits_(limits) {}

  bool ReadStream(std::string_view stream, int depth, Message* out);
  Problem problem() const { return problem_; }

 private:
  bool Fail(Problem problem) {
    if (problem_ == Problem::kNone) problem_ = problem;
    return false;
  }
  // Ends when the cursor runs out inside a structure: a stream cut short.
  bool Short() { return Fail(Problem::kTruncated); }

  template <class Sink>
  bool ReadProperties(std::string_view list, Sink&& sink);
  bool ReadAttribute(Cursor& in, int depth, Message* message);
  bool ApplyAttachmentProperty(const Property& p, int depth, Attachment* attachment);
  std::string Text8(std::string_view bytes) const;
  std::string PropertyText(const Property& p) const;

  const Limits& limits_;
  Problem problem_ = Problem::kNone;
  std::size_t attachments_ = 0;  // across nested messages
  std::uint32_t codepage_ = 1252;
};

std::string Reader::Text8(std::string_view bytes) const {
  bytes = UpToNul(bytes);
  // Windows code pages that are Latin-1 or ASCII in name only, and UTF-8.
  if (codepage_ == 1252 || codepage_ == 28591 || codepage_ == 20127 || codepage_ == 65001 ||
      codepage_ == 0)
    return codepage::Utf8OrWindows1252(bytes);
  char name[16];
  std::snprintf(name, sizeof name, "CP%u", static_cast<unsigned>(codepage_));
  gsize written = 0;
  gchar* converted = g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", name,
                               nullptr, &written, nullptr);
  if (!converted) return codepage::Utf8OrWindows1252(bytes);
  std::string out(converted, written);
  g_free(converted);
  return out;
}

std::string Reader::PropertyText(const Property& p) const {
  if (p.type == kTypeString8) return Text8(p.value);
  if (p.type != kTypeUnicode) return {};
  std::u16string units;
  for (std::size_t i = 0; i + 1 < p.value.size(); i += 2) {
    char16_t unit = Le16(p.value, i);
    if (unit == 0) break;
    units += unit;
  }
  return com::Utf16ToUtf8(units);
}

template <class Sink>
bool Reader::ReadProperties(std::string_view list, Sink&& sink) {
  Cursor in(list);
  std::uint32_t count = 0;
  if (!in.U32(&count)) return Short();
  // Every property takes at least 8 bytes: a count beyond that is a lie.
  if (count > limits_.maxProperties) return Fail(Problem::kTooLarge);
  if (count > in.left() / 8) return Fail(Problem::kDamaged);
  for (std::uint32_t i = 0; i < count; ++i) {
    Property p;
    if (!in.U16(&p.type) || !in.U16(&p.id)) return Short();
    if (p.id >= 0x8000) {  // a named property: a GUID and an id or a name
      std::uint32_t kind = 0, length = 0;
      if (!in.Skip(16) || !in.U32(&kind)) return Short();
      if (kind == 0) {
        if (!in.Skip(4)) return Short();
      } else if (kind == 1) {
        if (!in.U32(&length)) return Short();
        if (length > in.left()) return Short();
        if (!in.Skip(length + (4 - length % 4) % 4)) return Short();
      } else {
        return Fail(Problem::kDamaged);
      }
    }
    const bool multi = p.type & kTypeMulti;
    const std::uint16_t single = p.type & ~kTypeMulti;
    const int fixed = FixedSize(single);
    if (fixed < 0) return Fail(Problem::kDamaged);
    std::uint32_t values = 1;
    // Variable-size values always come counted; fixed-size ones only when multi-valued.
    if ((multi || fixed == 0) && !in.U32(&values)) return Short();
    if (values > in.left() / 4 + 1) return Fail(Problem::kDamaged);
    for (std::uint32_t v = 0; v < values; ++v) {
      std::string_view value;
      if (fixed > 0) {
        if (!in.Take(static_cast<std::size_t>(fixed), &value)) return Short();
      } else {
        std::uint32_t length = 0;
        if (!in.U32(&length)) return Short();
        if (!in.Take(length, &value)) return Short();
        if (!in.Skip((4 - length % 4) % 4)) return Short();
      }
      if (v == 0) {
        Property first = p;
        first.type = single;
        first.value = value;
        if (!sink(first)) return false;
      }
    }
  }
  return true;
}

std::optional<std::uint64_t> FileTimeOf(std::string_view eight) {
  std::uint64_t ticks = 0;
  for (int i = 7; i >= 0; --i) ticks = ticks << 8 | static_cast<unsigned char>(eight[i]);
  if (ticks == 0 || ticks >= (std::uint64_t{1} << 63)) return std::nullopt;
  return ticks;
}

// A TNEF date: year, month, day, hour, minute, second, day of the week.
std::optional<std::uint64_t> FileTimeOfDate(std::string_view data) {
  if (data.size() < 12) return std::nullopt;
  SYSTEMTIME st{};
  st.wYear = Le16(data, 0);
  st.wMonth = Le16(data, 2);
  st.wDay = Le16(data, 4);
  st.wHour = Le16(data, 6);
  st.wMinute = Le16(data, 8);
  st.wSecond = Le16(data, 10);
  FILETIME ft{};
  if (!SystemTimeToFileTime(&st, &ft)) return std::nullopt;
  return std::uint64_t{ft.dwHighDateTime} << 32 | ft.dwLowDateTime;
}

bool Reader::ApplyAttachmentProperty(const Property& p, int depth, Attachment* attachment) {
  switch (p.id) {
    case kPropAttachLongName:
      attachment->longName = PropertyText(p);
      break;
    case kPropDisplayName:
      if (attachment->title.empty()) attachment->title = PropertyText(p);
      break;
    case kPropAttachMimeTag:
      attachment->mimeType = PropertyText(p);
      break;
    case kPropLastModified:
      if (p.type == kTypeSysTime) {
        if (auto t = FileTimeOf(p.value)) attachment->modified = t;
      }
      break;
    case kPropAttachData:
      if (p.type == kTypeBinary) {
        if (attachment->data.empty()) attachment->data = p.value;
      } else if (p.type == kTypeObject && p.value.size() > 16) {
        // An interface id, then the object: a message is a TNEF stream.
        std::string_view inner = p.value.substr(16);
        Cursor sig(inner);
        std::uint32_t signature = 0;
        if (sig.U32(&signature) && signature == kSignature) {
          if (depth + 1 > limits_.maxDepth) return Fail(Problem::kTooLarge);
          auto embedded = std::make_shared<Message>();
          if (!ReadStream(inner, depth + 1, embedded.get())) return false;
          attachment->embedded = std::move(embedded);
          attachment->data = {};
        } else if (attachment->data.empty()) {
          attachment->data = p.value.substr(16);
        }
      }
      break;
    default:
      break;
  }
  return true;
}

bool Reader::ReadAttribute(Cursor& in, int depth, Message* message) {
  std::uint8_t level = 0;
  std::uint32_t id = 0, length = 0;
  std::uint16_t checksum = 0;
  std::string_view data;
  if (!in.U8(&level) || !in.U32(&id) || !in.U32(&length)) return Short();
  if (level != kLevelMessage && level != kLevelAttachment) return Fail(Problem::kDamaged);
  if (!in.Take(length, &data) || !in.U16(&checksum)) return Short();

  auto& attachments = message->attachments;
  if (level == kLevelMessage) {
    switch (id) {
      case kAttOemCodepage:
        if (data.size() >= 4) {
          Cursor c(data);
          c.U32(&codepage_);
        }
        break;
      case kAttMessageClass:
        message->messageClass = Text8(data);
        break;
      case kAttSubject:
        message->subject = Text8(data);
        break;
      case kAttMsgProps:
        // The message's own properties: only its class and subject matter here.
        return ReadProperties(data, [&](const Property& p) {
          if (p.id == kPropMessageClass && message->messageClass.empty())
            message->messageClass = PropertyText(p);
          if (p.id == kPropSubject) message->subject = PropertyText(p);
          return true;
        });
      default:
        break;
    }
    return true;
  }

  if (id == kAttAttachRenddata || attachments.empty()) {
    if (++attachments_ > limits_.maxAttachments) return Fail(Problem::kTooLarge);
    attachments.emplace_back();
    if (id == kAttAttachRenddata) return true;
  }
  Attachment& current = attachments.back();
  switch (id) {
    case kAttAttachTitle:
      current.title = Text8(data);
      break;
    case kAttAttachData:
      current.data = data;
      break;
    case kAttAttachModifyDate:
      if (!current.modified) current.modified = FileTimeOfDate(data);
      break;
    case kAttAttachment:
      return ReadProperties(
          data, [&](const Property& p) { return ApplyAttachmentProperty(p, depth, &current); });
    default:
      break;
  }
  return true;
}

bool Reader::ReadStream(std::string_view stream, int depth, Message* out) {
  Cursor in(stream);
  std::uint32_t signature = 0;
  std::uint16_t key = 0;
  if (!in.U32(&signature) || signature != kSignature) return Fail(Problem::kNotTnef);
  if (!in.U16(&key)) return Short();
  const std::uint32_t outerCodepage = codepage_;
  while (in.left() > 0) {
    if (!ReadAttribute(in, depth, out)) return false;
  }
  codepage_ = outerCodepage;
  return true;
}

bool IsCalendarClass(std::string_view cls) {
  for (std::string_view prefix : {"IPM.Microsoft Schedule.", "IPM.Schedule.", "IPM.Appointment"}) {
    if (cls.size() >= prefix.size() &&
        g_ascii_strncasecmp(cls.data(), prefix.data(), prefix.size()) == 0)
      return true;
  }
  return false;
}

// Files that the attachments hold, embedded messages' files included.
std::size_t CountFiles(const Message& message) {
  std::size_t files = 0;
  for (const Attachment& a : message.attachments) {
    if (a.embedded)
      files += 1 + CountFiles(*a.embedded);
    else if (!a.data.empty())
      ++files;
  }
  return files;
}

std::string ReasonFor(Problem problem, const Message& message) {
  switch (problem) {
    case Problem::kNone:
      return {};
    case Problem::kNotTnef:
      return "not a TNEF stream";
    case Problem::kTruncated:
      return "the stream is cut short";
    case Problem::kDamaged:
      return "the stream is damaged";
    case Problem::kTooLarge:
      return "more attachments or nesting than this program unpacks";
    case Problem::kNoAttachments:
      return IsCalendarClass(message.messageClass) ? "a calendar item with no attached files"
                                                   : "message text only, no attached files";
  }
  return {};
}

}  // namespace

Result Read(std::string_view stream, const Limits& limits) {
  Result result;
  Reader reader(limits);
  if (!reader.ReadStream(stream, 0, &result.message)) {
    result.problem = reader.problem();
    result.message.attachments.clear();
  } else if (CountFiles(result.message) == 0) {
    result.problem = Problem::kNoAttachments;
    result.message.attachments.clear();
  }
  result.reason = ReasonFor(result.problem, result.message);
  return result;
}

}  // namespace mime::tnef
