// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/mime/top_headers.h"

#include <gmime/gmime.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace mime::detail {
namespace {

constexpr std::size_t kPage = 4096;
constexpr std::size_t kMaxBlock = 64 * 1024;

bool NameIs(std::string_view name, const char* want) {
  return name.size() == std::strlen(want) && strncasecmp(name.data(), want, name.size()) == 0;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && g_ascii_isspace(s.front())) s.remove_prefix(1);
  while (!s.empty() && g_ascii_isspace(s.back())) s.remove_suffix(1);
  return s;
}

bool ParseIsTextWithoutName(const std::string& value) {
  const std::optional<std::string> plain = BareTextAsPlain(value);
  GMimeContentType* ct = g_mime_content_type_parse(nullptr, plain ? plain->c_str() : value.c_str());
  if (!ct) return false;
  const bool text = g_mime_content_type_is_type(ct, "text", "plain") ||
                    g_mime_content_type_is_type(ct, "text", "html");
  const char* name = g_mime_content_type_get_parameter(ct, "name");
  g_object_unref(ct);
  return text && !name;
}

// The messages of a folder mostly carry the same few Content-Type values, and
// the parse (a GObject and its parameter list) cost a fifth of answering a
// small message: the last few answers are kept, per thread.
bool IsTextWithoutName(const std::string& value) {
  struct Answer {
    std::string value;
    bool text = false;
  };
  thread_local Answer recent[4];
  thread_local unsigned next = 0;
  for (const Answer& a : recent)
    if (!a.value.empty() && a.value == value) return a.text;
  Answer& slot = recent[next++ % 4];
  slot.text = ParseIsTextWithoutName(value);
  slot.value = value;
  return slot.text;
}

bool IsPlainEncoding(std::string_view value) {
  value = Trim(value);
  for (const char* known : {"7bit", "8bit", "binary", "quoted-printable", "base64"})
    if (NameIs(value, known)) return true;
  return false;
}

}  // namespace

std::optional<std::string> BareTextAsPlain(std::string_view value) {
  value = Trim(value);
  if (value.size() < 4 || strncasecmp(value.data(), "text", 4) != 0) return std::nullopt;
  std::string_view rest = value.substr(4);
  std::string_view after = Trim(rest);
  if (!after.empty() && after.front() != ';') return std::nullopt;
  return "text/plain" + std::string(rest);
}

bool ReadTopHeaderBlock(int fd, std::string* out) {
  return ReadTopHeaderBlock(
      [fd](char* buf, std::size_t len, std::size_t at) -> long {
        ssize_t n;
        do {
          n = ::pread(fd, buf, len, static_cast<off_t>(at));
        } while (n < 0 && errno == EINTR);
        return n;
      },
      out);
}

bool ReadTopHeaderBlock(const std::function<long(char* buf, std::size_t len, std::size_t at)>& read,
                        std::string* out) {
  out->clear();
  char page[kPage];
  while (out->size() < kMaxBlock) {
    long n = read(page, sizeof page, out->size());
    if (n <= 0) return false;
    const std::size_t from = out->size() > 2 ? out->size() - 2 : 0;
    out->append(page, static_cast<std::size_t>(n));
    for (std::size_t i = out->find('\n', from); i != std::string::npos;
         i = out->find('\n', i + 1)) {
      std::size_t next = i + 1;
      if (next < out->size() && (*out)[next] == '\r') ++next;
      if (next < out->size() && (*out)[next] == '\n') {
        out->resize(next + 1);
        return true;
      }
    }
  }
  return false;
}

bool IsSingleTextPart(std::string_view block) {
  if (block.find('\0') != std::string_view::npos) return false;
  std::optional<std::string> type, encoding;
  std::optional<std::string>* current = nullptr;
  bool first = true;
  std::size_t pos = 0;
  while (pos < block.size()) {
    std::size_t eol = block.find('\n', pos);
    if (eol == std::string_view::npos) return false;
    std::string_view line = block.substr(pos, eol - pos);
    pos = eol + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {  // the block's end
      return !first && pos == block.size() && (!type || IsTextWithoutName(*type)) &&
             (!encoding || IsPlainEncoding(*encoding));
    }
    if (line.front() == ' ' || line.front() == '\t') {
      if (first) return false;
      if (current) (*current)->append(" ").append(line);
      continue;
    }
    first = false;
    current = nullptr;
    std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) return false;
    std::string_view name = line.substr(0, colon);
    for (char c : name)
      if (c <= ' ' || c > '~') return false;
    if (NameIs(name, "Content-Disposition")) return false;
    if (NameIs(name, "Content-Type")) current = &type;
    if (NameIs(name, "Content-Transfer-Encoding")) current = &encoding;
    if (!current) continue;
    if (*current) return false;  // given twice
    current->emplace(line.substr(colon + 1));
  }
  return false;
}

}  // namespace mime::detail
