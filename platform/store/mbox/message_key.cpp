// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/mbox/message_key.h"

#include <cstdio>
#include <cstring>

#include "platform/store/mbox/content_hash.h"

namespace store::mbox {
namespace {

bool NameIs(std::string_view name, std::string_view want) {
  if (name.size() != want.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if ((name[i] | 0x20) != (want[i] | 0x20)) return false;
  return true;
}

bool Volatile(std::string_view name) {
  if (name.size() >= 10 && NameIs(name.substr(0, 10), "x-mozilla-")) return true;
  for (std::string_view v : {"status", "x-status", "x-uid", "x-keywords", "content-length"})
    if (NameIs(name, v)) return true;
  return false;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool Holds(std::string_view value, char letter) {
  return value.find(letter) != std::string_view::npos;
}

}  // namespace

MessageFacts ReadFacts(std::string_view text) {
  MessageFacts facts;
  ContentHash hash;
  std::size_t kept = 0;  // the start of the bytes not hashed yet
  bool skipping = false;
  bool mozilla = false;
  DWORD mozillaFlags = 0, statusFlags = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const void* nl = std::memchr(text.data() + pos, '\n', text.size() - pos);
    std::size_t next =
        nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()) + 1 : text.size();
    std::string_view line = text.substr(pos, next - pos);
    if (line == "\n" || line == "\r\n") {  // the header block's end
      if (skipping) kept = pos;
      skipping = false;
      pos = next;
      break;
    }
    const bool continuation = line[0] == ' ' || line[0] == '\t';
    if (!continuation) {
      std::size_t colon = line.find(':');
      std::string_view name =
          colon == std::string_view::npos ? std::string_view() : line.substr(0, colon);
      bool drop = !name.empty() && Volatile(Trim(name));
      if (drop && !skipping) hash.Update(text.data() + kept, pos - kept);
      if (!drop && skipping) kept = pos;
      skipping = drop;
      if (drop) {
        std::string_view value = Trim(line.substr(colon + 1));
        std::string_view n = Trim(name);
        if (NameIs(n, "x-mozilla-status")) {
          unsigned bits = 0;
          std::string hex(value.substr(0, 8));
          if (std::sscanf(hex.c_str(), "%x", &bits) == 1) {
            mozilla = true;
            if (bits & 0x1) mozillaFlags |= MSG_FLAG_READ;
            if (bits & 0x2) mozillaFlags |= MSG_FLAG_REPLIED;
            if (bits & 0x4) mozillaFlags |= MSG_FLAG_FLAGGED;
            if (bits & 0x8) facts.deleted = true;
            if (bits & 0x400) mozillaFlags |= MSG_FLAG_PARTIAL;
          }
        } else if (NameIs(n, "status")) {
          if (Holds(value, 'R')) statusFlags |= MSG_FLAG_READ;
        } else if (NameIs(n, "x-status")) {
          if (Holds(value, 'A')) statusFlags |= MSG_FLAG_REPLIED;
          if (Holds(value, 'F')) statusFlags |= MSG_FLAG_FLAGGED;
          if (Holds(value, 'T')) statusFlags |= MSG_FLAG_DRAFT;
          if (Holds(value, 'D')) statusFlags |= MSG_FLAG_TRASHED;
        }
      }
    }
    pos = next;
  }
  if (skipping) kept = pos;  // a text that is all header ends in a dropped one
  facts.headerEnd = pos;
  hash.Update(text.data() + kept, text.size() - kept);
  facts.hash = hash.Digest();
  // Thunderbird's own header says what it shows; a Status line may be older.
  facts.flags =
      mozilla
          ? (mozillaFlags | (statusFlags & ~MSG_FLAG_READ & ~MSG_FLAG_REPLIED & ~MSG_FLAG_FLAGGED))
          : statusFlags;
  return facts;
}

std::string MessageKey(std::uint64_t hash, unsigned occurrence) {
  char key[40];
  std::snprintf(key, sizeof key, "%016llx.%u", static_cast<unsigned long long>(hash), occurrence);
  return key;
}

}  // namespace store::mbox
