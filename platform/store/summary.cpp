#include "platform/store/summary.h"

#include <gmime/gmime.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

namespace store {
namespace {

struct GObjectUnref {
  void operator()(void* p) const {
    if (p) g_object_unref(p);
  }
};
template <class T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

GMimeParserOptions* Options() {
  // Raw 8-bit header text is taken as UTF-8 when it is valid, else as
  // Windows-1252 (a superset of Latin-1 that every byte maps into).
  static GMimeParserOptions* options = [] {
    EnsureGMime();
    GMimeParserOptions* o = g_mime_parser_options_new();
    static const char* charsets[] = {"UTF-8", "windows-1252", nullptr};
    g_mime_parser_options_set_fallback_charsets(o, charsets);
    return o;
  }();
  return options;
}

std::string ValidUtf8(const char* text) {
  if (g_utf8_validate(text, -1, nullptr)) return text;
  gchar* valid = g_utf8_make_valid(text, -1);
  std::string result(valid);
  g_free(valid);
  return result;
}

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && g_ascii_isspace(s[b])) ++b;
  while (e > b && g_ascii_isspace(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

void AppendDisplayed(InternetAddressList* list, std::string& out, bool firstOnly) {
  if (!list) return;
  int n = internet_address_list_length(list);
  for (int i = 0; i < n; ++i) {
    InternetAddress* ia = internet_address_list_get_address(list, i);
    if (INTERNET_ADDRESS_IS_GROUP(ia)) {
      AppendDisplayed(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia)), out,
                      firstOnly);
    } else if (INTERNET_ADDRESS_IS_MAILBOX(ia)) {
      const char* name = internet_address_get_name(ia);
      std::string shown = Trim(name ? name : "");
      if (shown.empty()) {
        const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia));
        shown = Trim(addr ? addr : "");
      }
      if (shown.empty()) continue;
      if (!out.empty()) out += "; ";
      out += ValidUtf8(shown.c_str());
    }
    if (firstOnly && !out.empty()) return;
  }
}

// The displayed form of an address header: null when the header is absent;
// the decoded header text when it holds no address we can show.
std::optional<std::string> Displayed(GMimeMessage* msg, GMimeAddressType type, const char* header,
                                     bool firstOnly) {
  const char* raw = g_mime_object_get_header(GMIME_OBJECT(msg), header);
  if (!raw) return std::nullopt;
  std::string out;
  AppendDisplayed(g_mime_message_get_addresses(msg, type), out, firstOnly);
  if (out.empty()) {
    gchar* decoded = g_mime_utils_header_decode_text(Options(), raw);
    out = Trim(ValidUtf8(decoded));
    g_free(decoded);
  }
  if (out.empty()) return std::nullopt;
  return out;
}

bool LooksLikeAttachment(GMimeMessage* msg) {
  GMimeObject* part = g_mime_message_get_mime_part(msg);
  if (!part) return false;
  const char* disposition = g_mime_object_get_disposition(part);
  if (disposition && g_ascii_strcasecmp(disposition, "attachment") == 0) return true;
  GMimeContentType* ct = g_mime_object_get_content_type(part);
  if (!ct) return false;
  if (g_mime_content_type_is_type(ct, "multipart", "mixed")) return true;
  for (const char* type : {"application", "image", "audio", "video"})
    if (g_mime_content_type_is_type(ct, type, "*")) {
      // Signed or encrypted text still reads as text.
      return !g_mime_content_type_is_type(ct, "application", "pkcs7-mime");
    }
  return false;
}

bool IsPrefixWord(std::string_view word) {
  for (const char* p : {"re", "fw", "fwd", "aw", "wg", "sv", "vs", "tr", "antw"})
    if (word.size() == std::strlen(p) && g_ascii_strncasecmp(word.data(), p, word.size()) == 0)
      return true;
  return false;
}

}  // namespace

void EnsureGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

std::string NormalizeSubject(std::string_view s) {
  while (true) {
    std::size_t i = 0;
    while (i < s.size() && g_ascii_isspace(s[i])) ++i;
    std::size_t w = i;
    while (w < s.size() && g_ascii_isalpha(s[w])) ++w;
    if (w == i || !IsPrefixWord(s.substr(i, w - i))) break;
    std::size_t j = w;
    while (j < s.size() && s[j] == ' ') ++j;
    if (j < s.size() && (s[j] == '[' || s[j] == '(')) {  // Re[2]: or Re(2):
      char close = s[j] == '[' ? ']' : ')';
      std::size_t k = j + 1;
      while (k < s.size() && g_ascii_isdigit(s[k])) ++k;
      if (k == j + 1 || k >= s.size() || s[k] != close) break;
      j = k + 1;
    }
    if (j >= s.size() || s[j] != ':') break;
    s = s.substr(j + 1);
  }
  return Trim(s);
}

Summary ParseHeaderBlock(std::string_view headers) {
  Summary sum;
  GMimeParserOptions* options = Options();
  GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(headers.data(), headers.size()));
  GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
  GPtr<GMimeMessage> msg(g_mime_parser_construct_message(parser.get(), options));
  if (!msg) return sum;

  if (const char* subject = g_mime_message_get_subject(msg.get())) {
    sum.subject = Trim(ValidUtf8(subject));
    sum.normalSubject = NormalizeSubject(*sum.subject);
  }
  sum.displayFrom = Displayed(msg.get(), GMIME_ADDRESS_TYPE_FROM, "From", true);
  sum.displayTo = Displayed(msg.get(), GMIME_ADDRESS_TYPE_TO, "To", false);
  if (const char* id = g_mime_object_get_header(GMIME_OBJECT(msg.get()), "Message-ID")) {
    std::string trimmed = Trim(ValidUtf8(id));
    if (!trimmed.empty()) sum.messageId = trimmed;
  }
  if (GDateTime* date = g_mime_message_get_date(msg.get()))
    sum.sentSeconds = g_date_time_to_unix(date);
  sum.attachment = LooksLikeAttachment(msg.get());
  return sum;
}

bool ReadHeaderBlock(int fd, std::string* out) {
  constexpr std::size_t kChunk = 8192;
  constexpr std::size_t kMax = 256 * 1024;
  out->clear();
  std::size_t scanned = 0;
  while (out->size() < kMax) {
    std::size_t old = out->size();
    out->resize(old + kChunk);
    ssize_t n;
    do {
      n = read(fd, out->data() + old, kChunk);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      out->resize(old);
      return false;
    }
    out->resize(old + static_cast<std::size_t>(n));
    // An empty line ends the header block: "\n\n" or "\n\r\n".
    std::size_t from = scanned >= 2 ? scanned - 2 : 0;
    if (scanned == 0 && out->size() >= 2 && (*out)[0] == '\r' && (*out)[1] == '\n') {
      out->clear();
      return true;
    }
    for (std::size_t i = from; i < out->size(); ++i) {
      if ((*out)[i] != '\n') continue;
      if (i == 0) {  // the file starts with the empty line: no headers
        out->clear();
        return true;
      }
      std::size_t next = i + 1;
      if (next < out->size() && (*out)[next] == '\r') ++next;
      if (next < out->size() && (*out)[next] == '\n') {
        out->resize(i + 1);
        return true;
      }
    }
    scanned = out->size();
    if (n == 0) break;
  }
  if (out->size() > kMax) out->resize(kMax);
  return true;
}

}  // namespace store
