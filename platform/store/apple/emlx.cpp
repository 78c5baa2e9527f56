// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/apple/emlx.h"

#include <glib.h>

#include <charconv>
#include <cstring>
#include <string>

namespace store::apple {

namespace {

constexpr std::size_t kMaxLengthLine = 64;

struct PlistReading {
  int depth = 0;
  int dictDepth = -1;  // the depth of the top-level <dict>'s children
  bool inKey = false, inInteger = false;
  bool flagsNext = false;  // the last key at the top level was "flags"
  std::string text;
  std::optional<std::int64_t> flags;
};

void Start(GMarkupParseContext*, const gchar* element, const gchar**, const gchar**, gpointer data,
           GError**) {
  auto* r = static_cast<PlistReading*>(data);
  ++r->depth;
  if (r->dictDepth < 0 && std::strcmp(element, "dict") == 0) r->dictDepth = r->depth + 1;
  if (r->depth != r->dictDepth) return;
  r->text.clear();
  r->inKey = std::strcmp(element, "key") == 0;
  r->inInteger = std::strcmp(element, "integer") == 0;
}

void End(GMarkupParseContext*, const gchar*, gpointer data, GError**) {
  auto* r = static_cast<PlistReading*>(data);
  if (r->depth == r->dictDepth) {
    if (r->inKey) {
      r->flagsNext = r->text == "flags";
    } else {
      if (r->inInteger && r->flagsNext && !r->flags) {
        std::int64_t v = 0;
        const char* end = r->text.data() + r->text.size();
        auto res = std::from_chars(r->text.data(), end, v);
        if (res.ec == std::errc() && res.ptr == end) r->flags = v;
      }
      r->flagsNext = false;
    }
    r->inKey = r->inInteger = false;
  }
  --r->depth;
}

void Text(GMarkupParseContext*, const gchar* text, gsize length, gpointer data, GError**) {
  auto* r = static_cast<PlistReading*>(data);
  if ((r->inKey || r->inInteger) && r->text.size() < 64) r->text.append(text, length);
}

}  // namespace

std::optional<EmlxFrame> ParseEmlxFrame(std::string_view bytes, std::size_t fileSize) {
  std::size_t eol = bytes.find('\n');
  if (eol == std::string_view::npos || eol > kMaxLengthLine) return std::nullopt;
  std::string_view line = bytes.substr(0, eol);
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
    line.remove_suffix(1);
  std::size_t length = 0;
  const char* end = line.data() + line.size();
  auto res = std::from_chars(line.data(), end, length);
  if (line.empty() || res.ec != std::errc() || res.ptr != end) return std::nullopt;
  std::size_t start = eol + 1;
  if (fileSize < start || length > fileSize - start) return std::nullopt;
  return EmlxFrame{start, length};
}

std::optional<std::int64_t> ParseEmlxFlags(std::string_view plist) {
  PlistReading reading;
  GMarkupParser parser{};
  parser.start_element = Start;
  parser.end_element = End;
  parser.text = Text;
  GMarkupParseContext* context = g_markup_parse_context_new(&parser, {}, &reading, nullptr);
  g_markup_parse_context_parse(context, plist.data(), static_cast<gssize>(plist.size()), nullptr) &&
      g_markup_parse_context_end_parse(context, nullptr);
  g_markup_parse_context_free(context);
  return reading.flags;
}

}  // namespace store::apple
