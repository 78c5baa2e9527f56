// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/card_charsets.h"

#include "platform/com/codepage.h"

#include <glib.h>
#include <strings.h>

#include <cerrno>
#include <utility>
#include <vector>

namespace wab {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Converters to UTF-8 by charset name, opened once a thread: opening one
// costs far more than converting a value, and an old book declares the same
// charset on most of its values. A charset iconv does not know is
// remembered too (as null).
class Converters {
 public:
  ~Converters() {
    for (auto& [name, converter] : open_) {
      if (converter) g_iconv_close(converter);
    }
  }
  GIConv From(const char* charset) {
    for (auto& [name, converter] : open_) {
      if (!g_ascii_strcasecmp(name.c_str(), charset)) {
        // Back to the initial shift state a stateful charset left it in.
        if (converter) g_iconv(converter, nullptr, nullptr, nullptr, nullptr);
        return converter;
      }
    }
    GIConv converter = g_iconv_open("UTF-8", charset);
    if (converter == reinterpret_cast<GIConv>(-1)) converter = nullptr;
    if (open_.size() == kMax) {
      if (open_.front().second) g_iconv_close(open_.front().second);
      open_.erase(open_.begin());
    }
    open_.emplace_back(charset, converter);
    return converter;
  }

 private:
  static constexpr std::size_t kMax = 16;
  std::vector<std::pair<std::string, GIConv>> open_;
};

GIConv ConverterFrom(const char* charset) {
  thread_local Converters converters;
  return converters.From(charset);
}

// Converts with iconv, putting U+FFFD for each `unit` bytes that are not of
// `from` (a fault, or a character cut off at the end). False when iconv does
// not know `from`.
bool ConvertLeniently(std::string_view bytes, const char* from, std::size_t unit,
                      std::string* out) {
  GIConv converter = ConverterFrom(from);
  if (!converter) return false;
  out->clear();
  out->reserve(bytes.size() + bytes.size() / 2);
  char chunk[4096];
  auto* in = const_cast<gchar*>(bytes.data());
  gsize inLeft = bytes.size();
  bool flushing = false;
  while (true) {
    gchar* at = chunk;
    gsize outLeft = sizeof chunk;
    // Once the input is used up, a last call ends a stateful charset's shift.
    gsize result = flushing ? g_iconv(converter, nullptr, nullptr, &at, &outLeft)
                            : g_iconv(converter, &in, &inLeft, &at, &outLeft);
    int fault = result == static_cast<gsize>(-1) ? errno : 0;
    out->append(chunk, static_cast<std::size_t>(at - chunk));
    if (fault == E2BIG) continue;
    if (fault && !flushing && inLeft) {
      out->append(kReplacement);
      gsize skip = unit < inLeft ? unit : inLeft;
      in += skip;
      inLeft -= skip;
      continue;
    }
    if (flushing) break;
    flushing = true;
  }
  return true;
}

bool IsUtf8Name(std::string_view charset) {
  return (charset.size() == 5 && !strncasecmp(charset.data(), "UTF-8", 5)) ||
         (charset.size() == 4 && !strncasecmp(charset.data(), "UTF8", 4));
}

}  // namespace

std::string Utf8OrWindows1252(std::string_view bytes) {
  return codepage::Utf8OrWindows1252(bytes);
}

std::string DeclaredToUtf8(std::string_view bytes, std::string_view charset) {
  if (charset.empty() || IsUtf8Name(charset)) return Utf8OrWindows1252(bytes);
  if (codepage::ReadAsWindows1252(charset, bytes)) return codepage::Windows1252ToUtf8(bytes);
  std::string name(charset);
  std::string out;
  if (ConvertLeniently(bytes, name.c_str(), 1, &out)) return out;
  return Utf8OrWindows1252(bytes);
}

FileEncoding EncodingOf(std::string_view file) {
  if (file.size() >= 2 && file[0] == '\xFF' && file[1] == '\xFE')
    return FileEncoding::kUtf16LittleEndian;
  if (file.size() >= 2 && file[0] == '\xFE' && file[1] == '\xFF')
    return FileEncoding::kUtf16BigEndian;
  return FileEncoding::kBytes;
}

std::string Utf16ToUtf8(std::string_view bytes, FileEncoding encoding) {
  const char* from = encoding == FileEncoding::kUtf16BigEndian ? "UTF-16BE" : "UTF-16LE";
  std::string out;
  if (bytes.size() % 2) bytes.remove_suffix(1);  // half a code unit is nothing
  ConvertLeniently(bytes, from, 2, &out);
  return out;
}

std::string Utf8ToUtf16(std::string_view text, FileEncoding encoding) {
  const char* to = encoding == FileEncoding::kUtf16BigEndian ? "UTF-16BE" : "UTF-16LE";
  std::string valid = Utf8OrWindows1252(text);
  gsize written = 0;
  gchar* converted = g_convert(valid.data(), static_cast<gssize>(valid.size()), to, "UTF-8",
                               nullptr, &written, nullptr);
  std::string out = converted ? std::string(converted, written) : std::string();
  g_free(converted);
  return out;
}

}  // namespace wab
