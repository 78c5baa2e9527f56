// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/engine/summary.h"

#include <dlfcn.h>
#include <gmime/gmime.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/mime/address_groups.h"
#include "platform/mime/header_charsets.h"
#include "platform/mime/top_headers.h"

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

// Appends the shown form of every mailbox of `list`, group members in place
// of their group, "; " between them. Walks without recursion: the nesting of
// groups comes from the mail.
void AppendDisplayed(InternetAddressList* list, std::string& out, bool firstOnly) {
  if (!list) return;
  std::vector<std::pair<InternetAddressList*, int>> todo{{list, 0}};  // a list, the next index
  while (!todo.empty()) {
    auto& [current, next] = todo.back();
    if (next >= internet_address_list_length(current)) {
      todo.pop_back();
      continue;
    }
    InternetAddress* ia = internet_address_list_get_address(current, next++);
    if (INTERNET_ADDRESS_IS_GROUP(ia)) {
      if (InternetAddressList* members =
              internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia)))
        todo.emplace_back(members, 0);
      continue;
    }
    if (!INTERNET_ADDRESS_IS_MAILBOX(ia)) continue;
    const char* name = internet_address_get_name(ia);
    std::string shown = Trim(name ? name : "");
    if (shown.empty()) {
      const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia));
      shown = Trim(addr ? addr : "");
    }
    if (shown.empty()) continue;
    if (!out.empty()) out += "; ";
    out += ValidUtf8(shown.c_str());
    if (firstOnly) return;
  }
}

std::string DecodeText(const std::string& raw) {
  // Plain ASCII without encoded words decodes to itself.
  bool plain =
      raw.find("=?") == std::string::npos && std::all_of(raw.begin(), raw.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x80 && c != '\0';
      });
  if (plain) return Trim(raw);
  return Trim(mime::DecodeHeaderText(raw, [](const std::string& text) {
    gchar* decoded = g_mime_utils_header_decode_text(Options(), text.c_str());
    std::string out = ValidUtf8(decoded ? decoded : "");
    g_free(decoded);
    return out;
  }));
}

// The displayed form of an address header; the decoded header text when it
// holds no address we can show; null when that is empty too.
std::optional<std::string> Displayed(const std::string& raw, bool firstOnly) {
  std::string out;
  // GMime parses nested groups recursively: flatten a header that nests deep.
  const std::string safe = mime::FlattenAddressGroups(raw);
  out = mime::DecodeHeaderText(safe, [&](const std::string& text) {
    std::string shown;
    GPtr<InternetAddressList> list(internet_address_list_parse(Options(), text.c_str()));
    AppendDisplayed(list.get(), shown, firstOnly);
    return shown;
  });
  if (out.empty()) out = DecodeText(safe);
  if (out.empty()) return std::nullopt;
  return out;
}

bool LooksLikeAttachment(const std::optional<std::string>& type,
                         const std::optional<std::string>& disposition) {
  if (disposition) {
    GPtr<GMimeContentDisposition> d(
        g_mime_content_disposition_parse(Options(), disposition->c_str()));
    const char* value = d ? g_mime_content_disposition_get_disposition(d.get()) : nullptr;
    if (value && g_ascii_strcasecmp(value, "attachment") == 0) return true;
  }
  if (!type) return false;
  if (g_ascii_strncasecmp(type->c_str(), "text/", 5) == 0) return false;  // the common case
  if (mime::detail::BareTextAsPlain(*type)) return false;
  GPtr<GMimeContentType> ct(g_mime_content_type_parse(Options(), type->c_str()));
  if (!ct) return false;
  if (g_mime_content_type_is_type(ct.get(), "multipart", "mixed")) return true;
  for (const char* media : {"application", "image", "audio", "video"})
    if (g_mime_content_type_is_type(ct.get(), media, "*")) {
      // Signed or encrypted text still reads as text.
      return !g_mime_content_type_is_type(ct.get(), "application", "pkcs7-mime");
    }
  return false;
}

// The fields of a header block that a summary needs, unfolded, first
// occurrence of each. Splitting fields is all we do here: every field's
// content is decoded by GMime.
struct Fields {
  std::optional<std::string> subject, from, to, date, messageId, contentType, disposition;
};

Fields SplitFields(std::string_view block) {
  Fields f;
  std::optional<std::string>* current = nullptr;
  std::size_t pos = 0;
  while (pos < block.size()) {
    std::size_t eol = block.find('\n', pos);
    std::size_t next = eol == std::string_view::npos ? block.size() : eol + 1;
    std::string_view line = block.substr(pos, next - pos);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    pos = next;
    if (line.empty()) break;
    if (line[0] == ' ' || line[0] == '\t') {  // a folded continuation
      if (current) (*current)->append(line);
      continue;
    }
    current = nullptr;
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view name = line.substr(0, colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    auto is = [&](const char* want) {
      return name.size() == std::strlen(want) &&
             g_ascii_strncasecmp(name.data(), want, name.size()) == 0;
    };
    std::optional<std::string>* slot = is("Subject")               ? &f.subject
                                       : is("From")                ? &f.from
                                       : is("To")                  ? &f.to
                                       : is("Date")                ? &f.date
                                       : is("Message-ID")          ? &f.messageId
                                       : is("Content-Type")        ? &f.contentType
                                       : is("Content-Disposition") ? &f.disposition
                                                                   : nullptr;
    if (!slot || *slot) continue;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value[0] == ' ' || value[0] == '\t')) value.remove_prefix(1);
    slot->emplace(value);
    current = slot;
  }
  return f;
}

std::optional<std::int64_t> DecodeDateAsIs(const std::string& text) {
  GDateTime* date = g_mime_utils_header_decode_date(text.c_str());
  if (!date) return std::nullopt;
  std::int64_t seconds = g_date_time_to_unix(date);
  g_date_time_unref(date);
  return seconds;
}

// GMime reads no date before 1970, yet old mail and test messages carry such
// dates, and the store's times reach back to 1601. The Gregorian calendar
// repeats every 400 years, weekdays included: such a date is read 400 years
// later and moved back.
std::optional<std::int64_t> DecodeDate(const std::string& text) {
  if (auto seconds = DecodeDateAsIs(text)) return seconds;
  constexpr std::int64_t k400Years = 146097LL * 86400;
  for (std::size_t i = 0; i + 4 <= text.size(); ++i) {
    const bool alone = (i == 0 || !g_ascii_isdigit(text[i - 1])) &&
                       (i + 4 == text.size() || !g_ascii_isdigit(text[i + 4]));
    if (!alone || !std::all_of(text.begin() + i, text.begin() + i + 4,
                               [](char c) { return g_ascii_isdigit(c); }))
      continue;
    const int year = std::stoi(text.substr(i, 4));
    if (year < 1601 || year >= 1970) continue;
    std::string later = text;
    later.replace(i, 4, std::to_string(year + 400));
    if (auto seconds = DecodeDateAsIs(later)) return *seconds - k400Years;
    return std::nullopt;
  }
  return std::nullopt;
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
  std::call_once(once, [] {
    g_mime_init();
    // GMime registers its types with GObject, which stays loaded for good: a
    // GMime unloaded with this module and loaded again would register them
    // twice. Keep it loaded (RTLD_NODELETE) once initialised.
    dlopen("libgmime-3.0.so.0", RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
  });
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

std::optional<std::string> AddressCache::Displayed(const std::string& raw, bool firstOnly) {
  // Long lines (mailing-list recipients, hostile input) are rare and would
  // make the cache large: those are parsed every time.
  if (raw.size() > kMaxRawLength) return store::Displayed(raw, firstOnly);
  auto& known = known_[firstOnly ? 1 : 0];
  if (auto it = known.find(raw); it != known.end()) return it->second;
  std::optional<std::string> shown = store::Displayed(raw, firstOnly);
  if (known.size() >= kMaxEntries) known.clear();
  known.emplace(raw, shown);
  return shown;
}

Summary ParseHeaderBlock(std::string_view headers, AddressCache* cache) {
  Summary sum;
  Fields f = SplitFields(headers);
  if (f.subject) {
    sum.subject = DecodeText(*f.subject);
    sum.normalSubject = NormalizeSubject(*sum.subject);
  }
  auto displayed = [&](const std::string& raw, bool firstOnly) {
    return cache ? cache->Displayed(raw, firstOnly) : Displayed(raw, firstOnly);
  };
  if (f.from) sum.displayFrom = displayed(*f.from, true);
  if (f.to) sum.displayTo = displayed(*f.to, false);
  if (f.messageId) {
    std::string id = Trim(ValidUtf8(f.messageId->c_str()));
    if (!id.empty()) sum.messageId = id;
  }
  if (f.date) sum.sentSeconds = DecodeDate(*f.date);
  sum.attachment = LooksLikeAttachment(f.contentType, f.disposition);
  return sum;
}

bool ReadHeaderBlock(int fd, std::string* out) {
  // Most header blocks fit in the first page; read more only when they do not.
  constexpr std::size_t kFirst = 4096;
  constexpr std::size_t kMax = 256 * 1024;
  thread_local char buf[kFirst];
  out->clear();
  std::size_t chunk = kFirst;
  while (out->size() < kMax) {
    ssize_t n;
    do {
      n = read(fd, buf, std::min(chunk, sizeof buf));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    std::size_t scanFrom = out->size() >= 2 ? out->size() - 2 : 0;
    out->append(buf, static_cast<std::size_t>(n));
    if (scanFrom == 0 && out->size() >= 1 && (*out)[0] == '\n') {  // no headers at all
      out->clear();
      return true;
    }
    if (scanFrom == 0 && out->size() >= 2 && (*out)[0] == '\r' && (*out)[1] == '\n') {
      out->clear();
      return true;
    }
    // An empty line ends the header block: "\n\n" or "\n\r\n".
    for (std::size_t i = out->find('\n', scanFrom); i != std::string::npos;
         i = out->find('\n', i + 1)) {
      std::size_t next = i + 1;
      if (next < out->size() && (*out)[next] == '\r') ++next;
      if (next < out->size() && (*out)[next] == '\n') {
        out->resize(i + 1);
        return true;
      }
    }
    if (n == 0) break;
  }
  if (out->size() > kMax) out->resize(kMax);
  return true;
}

}  // namespace store
