// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/mime/address_groups.h"

#include <strings.h>
#include <algorithm>
#include <cstring>

namespace mime {
namespace {

// Longer line starts are no address header name.
constexpr std::size_t kMaxHeadLength = 32;

constexpr std::size_t kNotAddress = 0;
constexpr std::size_t kUndecided = static_cast<std::size_t>(-1);

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// Whether a line that starts with `length` bytes ending in `c` (not ':') may
// still be an address header: its name starts with one of their first
// letters (most lines, base64 above all, are settled at their first byte),
// is made of name characters and blanks, and is short.
bool IsHeadChar(char c, std::size_t length) {
  if (length == 1) return std::strchr("FfSsRrTtCcBb", c) != nullptr;
  return length < kMaxHeadLength && (IsNameChar(c) || c == ' ' || c == '\t');
}

// Looks at the start of a line that does not begin with a space or tab:
// the offset just past the ':' of an address header name, kNotAddress when the
// line is something else, kUndecided when `head` is too short to tell.
std::size_t AddressValueStart(std::string_view head) {
  std::size_t nameEnd = 0;
  while (nameEnd < head.size() && IsNameChar(head[nameEnd])) ++nameEnd;
  std::size_t i = nameEnd;
  while (i < head.size() && (head[i] == ' ' || head[i] == '\t')) ++i;
  if (i == head.size()) return head.size() >= kMaxHeadLength ? kNotAddress : kUndecided;
  if (head[i] != ':' || nameEnd == 0) return kNotAddress;
  return IsAddressHeaderName(head.substr(0, nameEnd)) ? i + 1 : kNotAddress;
}

}  // namespace

bool IsAddressHeaderName(std::string_view name) {
  for (const char* known : {"From", "Sender", "Reply-To", "To", "Cc", "Bcc"}) {
    if (name.size() == std::strlen(known) && strncasecmp(name.data(), known, name.size()) == 0)
      return true;
  }
  return false;
}

bool AddressValueTooDeep(std::string_view value) {
  return static_cast<std::size_t>(std::count(value.begin(), value.end(), ':')) > kMaxAddressColons;
}

std::string FlattenAddressGroups(std::string_view value) {
  if (!AddressValueTooDeep(value)) return std::string(value);
  std::string out;
  out.reserve(value.size());
  int depth = 0;              // groups open and kept
  std::size_t lifted = 0;     // groups open and dropped, inside the kept ones
  std::size_t itemStart = 0;  // where the current list item starts in `out`
  bool quoted = false, angle = false;
  int comment = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    char c = value[i] == '\r' || value[i] == '\n' ? ' ' : value[i];
    if (quoted || comment > 0) {
      out += c;
      if (c == '\\' && i + 1 < value.size()) {
        char next = value[++i];
        out += next == '\r' || next == '\n' ? ' ' : next;
      } else if (quoted && c == '"') {
        quoted = false;
      } else if (!quoted && c == '(') {
        ++comment;
      } else if (!quoted && c == ')') {
        --comment;
      }
      continue;
    }
    if (angle) {
      out += c;
      angle = c != '>';
      continue;
    }
    switch (c) {
      case '"':
        quoted = true;
        out += c;
        break;
      case '(':
        comment = 1;
        out += c;
        break;
      case '<':
        angle = true;
        out += c;
        break;
      case ',':
        out += c;
        itemStart = out.size();
        break;
      case ':':
        if (depth < kMaxAddressGroupDepth) {
          ++depth;
          out += c;
        } else {
          out.resize(itemStart);  // the group's name goes with it
          ++lifted;
        }
        itemStart = out.size();
        break;
      case ';':
        if (lifted > 0) {
          --lifted;
          out += ',';  // its members stay apart from what follows
        } else {
          if (depth > 0) --depth;
          out += c;
        }
        itemStart = out.size();
        break;
      default:
        out += c;
    }
  }
  // Quoted names, comments and routes may still hold any number of ':'; the
  // parser could take them for groups if it reads them otherwise than we do.
  std::size_t colons = 0;
  for (char& c : out) {
    if (c == ':' && ++colons > kMaxAddressColons) c = ' ';
  }
  return out;
}

void DeepAddressScanner::StartLine(std::string_view head) {
  // `head` ends in the first ':' of the line.
  const std::size_t start = AddressValueStart(head);
  inHead_ = false;
  inAddress_ = start != kNotAddress && start != kUndecided;
  colons_ = 0;
}

std::size_t DeepAddressScanner::Feed(const char* data, std::size_t size) {
  if (found_) return 0;
  std::size_t i = 0;
  while (i < size) {
    if (atLineStart_) {
      atLineStart_ = false;
      // A continuation line goes on with the header before it.
      if (data[i] != ' ' && data[i] != '\t') {
        inAddress_ = false;
        inHead_ = true;
        head_.clear();
      }
    }
    if (inHead_) {
      const char c = data[i++];
      if (c == '\n') {
        inHead_ = false;
        atLineStart_ = true;
        continue;
      }
      head_ += c;
      if (c == ':') {
        StartLine(head_);  // decides: an address header or not
      } else if (!IsHeadChar(c, head_.size())) {
        inHead_ = false;  // no header name, or not one of ours
      }
      continue;
    }
    const char* newline = static_cast<const char*>(std::memchr(data + i, '\n', size - i));
    std::size_t end = newline ? static_cast<std::size_t>(newline - data) : size;
    if (inAddress_) {
      for (std::size_t j = i; j < end; ++j) {
        if (data[j] == ':' && ++colons_ > kMaxAddressColons) {
          found_ = true;
          return j;
        }
      }
    }
    i = end;
    if (newline) {
      atLineStart_ = true;
      ++i;
    }
  }
  return size;
}

std::string FlattenDeepAddressHeaders(std::string_view message) {
  std::string out;
  out.reserve(message.size());
  std::size_t pos = 0;
  while (pos < message.size()) {
    std::size_t newline = message.find('\n', pos);
    std::size_t lineEnd = newline == std::string_view::npos ? message.size() : newline + 1;
    std::size_t start = message[pos] == ' ' || message[pos] == '\t'
                            ? kNotAddress
                            : AddressValueStart(message.substr(pos, lineEnd - pos));
    if (start == kNotAddress || start == kUndecided) {
      out.append(message.substr(pos, lineEnd - pos));
      pos = lineEnd;
      continue;
    }
    // The header with its continuation lines, up to its last line break.
    std::size_t end = lineEnd;
    while (end < message.size() && (message[end] == ' ' || message[end] == '\t')) {
      std::size_t next = message.find('\n', end);
      end = next == std::string_view::npos ? message.size() : next + 1;
    }
    std::size_t valueEnd = end;
    std::string_view lineBreak;
    if (valueEnd > pos && message[valueEnd - 1] == '\n') {
      --valueEnd;
      lineBreak = "\n";
      if (valueEnd > pos && message[valueEnd - 1] == '\r') {
        --valueEnd;
        lineBreak = "\r\n";
      }
    }
    std::string_view value = message.substr(pos + start, valueEnd - pos - start);
    out.append(message.substr(pos, start));
    out += FlattenAddressGroups(value);
    out.append(lineBreak);
    pos = end;
  }
  return out;
}

}  // namespace mime
