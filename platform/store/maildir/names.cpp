// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/maildir/names.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

#include "platform/com/hresult.h"
#include "platform/store/store.h"

namespace store::maildir {
namespace {

constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

int B64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == ',') return 63;
  return -1;
}

bool Literal(gunichar c) {
  return c >= 0x20 && c <= 0x7e && c != '.' && c != '/';
}

void FlushRun(std::vector<char16_t>& run, std::string& out) {
  if (run.empty()) return;
  out += '&';
  std::uint32_t bits = 0;
  int nbits = 0;
  for (char16_t u : run) {
    for (int shift : {8, 0}) {
      bits = (bits << 8) | ((u >> shift) & 0xFF);
      nbits += 8;
      while (nbits >= 6) {
        nbits -= 6;
        out += kB64[(bits >> nbits) & 0x3F];
      }
    }
  }
  if (nbits > 0) out += kB64[(bits << (6 - nbits)) & 0x3F];
  out += '-';
  run.clear();
}

void AppendUtf8(gunichar c, std::string& out) {
  char buf[8];
  int n = g_unichar_to_utf8(c, buf);
  out.append(buf, n);
}

}  // namespace

std::string EncodeName(std::string_view utf8) {
  std::string out;
  std::vector<char16_t> run;
  const char* p = utf8.data();
  const char* end = p + utf8.size();
  while (p < end) {
    gunichar c = g_utf8_get_char_validated(p, end - p);
    if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
      c = 0xFFFD;  // callers validate first; never emit broken text
      ++p;
    } else {
      p = g_utf8_next_char(p);
    }
    if (Literal(c)) {
      FlushRun(run, out);
      if (c == '&')
        out += "&-";
      else
        out += static_cast<char>(c);
    } else if (c >= 0x10000) {
      c -= 0x10000;
      run.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      run.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      run.push_back(static_cast<char16_t>(c));
    }
  }
  FlushRun(run, out);
  return out;
}

std::optional<std::string> DecodeName(std::string_view in) {
  std::string out;
  for (std::size_t i = 0; i < in.size();) {
    char c = in[i];
    if (c != '&') {
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e)
        return std::nullopt;
      out += c;
      ++i;
      continue;
    }
    std::size_t close = in.find('-', i + 1);
    if (close == std::string_view::npos) return std::nullopt;
    if (close == i + 1) {
      out += '&';
      i = close + 1;
      continue;
    }
    std::uint32_t bits = 0;
    int nbits = 0;
    std::vector<char16_t> units;
    for (std::size_t j = i + 1; j < close; ++j) {
      int v = B64Value(in[j]);
      if (v < 0) return std::nullopt;
      bits = (bits << 6) | static_cast<std::uint32_t>(v);
      nbits += 6;
      if (nbits >= 16) {
        nbits -= 16;
        units.push_back(static_cast<char16_t>((bits >> nbits) & 0xFFFF));
      }
    }
    if (nbits >= 6 || (bits & ((1u << nbits) - 1)) != 0) return std::nullopt;
    for (std::size_t k = 0; k < units.size(); ++k) {
      gunichar u = units[k];
      if (u >= 0xD800 && u <= 0xDBFF) {
        if (k + 1 >= units.size() || units[k + 1] < 0xDC00 || units[k + 1] > 0xDFFF)
          return std::nullopt;
        u = 0x10000 + ((u - 0xD800) << 10) + (units[++k] - 0xDC00);
      } else if (u >= 0xDC00 && u <= 0xDFFF) {
        return std::nullopt;
      }
      if (u == 0) return std::nullopt;
      AppendUtf8(u, out);
    }
    i = close + 1;
  }
  return out;
}

std::string DisplayName(std::string_view onDisk) {
  if (auto decoded = DecodeName(onDisk)) return *decoded;
  return ValidUtf8(onDisk);
}

std::string ValidUtf8(std::string_view bytes) {
  // An empty view may have no data at all (a NULL read from a database),
  // and GLib answers that with NULL.
  if (bytes.empty()) return {};
  gchar* valid = g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size()));
  std::string result(valid);
  g_free(valid);
  return result;
}

std::optional<std::vector<std::string>> SplitFolderDir(std::string_view dir) {
  std::vector<std::string> parts;
  if (dir.empty()) return parts;
  if (dir.size() < 2 || dir[0] != '.' || dir == "..") return std::nullopt;
  std::string_view rest = dir.substr(1);
  while (true) {
    std::size_t dot = rest.find('.');
    std::string_view part = rest.substr(0, dot);
    if (part.empty()) return std::nullopt;
    parts.emplace_back(part);
    if (dot == std::string_view::npos) break;
    rest = rest.substr(dot + 1);
  }
  return parts;
}

FileName ParseFileName(std::string_view name) {
  FileName f;
  std::size_t mark = name.find(":2,");
  if (mark == std::string_view::npos) {
    f.uniq = name;
    return f;
  }
  f.uniq = name.substr(0, mark);
  f.info = name.substr(mark + 3);
  f.hasInfo = true;
  return f;
}

std::string_view MessageKey(std::string_view uniq, std::string* buffer) {
  // ",U=" and digits, up to the next "," or the end.
  auto uidAt = [&](std::size_t pos, std::size_t* end) {
    if (uniq.compare(pos, 3, ",U=") != 0) return false;
    std::size_t i = pos + 3;
    while (i < uniq.size() && uniq[i] >= '0' && uniq[i] <= '9') ++i;
    if (i == pos + 3 || (i < uniq.size() && uniq[i] != ',')) return false;
    *end = i;
    return true;
  };
  std::size_t pos = uniq.find(",U=");
  if (pos == std::string_view::npos) return uniq;
  buffer->clear();
  std::size_t copied = 0;
  for (; pos != std::string_view::npos; pos = uniq.find(",U=", pos + 1)) {
    std::size_t end;
    if (pos < copied || !uidAt(pos, &end)) continue;
    buffer->append(uniq.substr(copied, pos - copied));
    copied = end;
  }
  if (copied == 0) return uniq;
  buffer->append(uniq.substr(copied));
  return *buffer;
}

namespace {
struct FlagLetter {
  char letter;
  DWORD flag;
};
constexpr FlagLetter kLetters[] = {
    {'D', MSG_FLAG_DRAFT},   {'F', MSG_FLAG_FLAGGED}, {'P', MSG_FLAG_PASSED},
    {'R', MSG_FLAG_REPLIED}, {'S', MSG_FLAG_READ},    {'T', MSG_FLAG_TRASHED},
};
}  // namespace

DWORD FlagsFromInfo(std::string_view info) {
  DWORD flags = 0;
  for (char c : info)
    for (const auto& l : kLetters)
      if (l.letter == c) flags |= l.flag;
  return flags;
}

std::string InfoWithFlags(std::string_view oldInfo, DWORD flags) {
  std::string letters;
  for (char c : oldInfo) {
    bool known = std::any_of(std::begin(kLetters), std::end(kLetters),
                             [c](const FlagLetter& l) { return l.letter == c; });
    if (!known && c != ',' && letters.find(c) == std::string::npos) letters += c;
  }
  for (const auto& l : kLetters)
    if (flags & l.flag) letters += l.letter;
  std::sort(letters.begin(), letters.end());
  return letters;
}

std::string CurName(std::string_view uniq, std::string_view info) {
  std::string name(uniq);
  name += ":2,";
  name += info;
  return name;
}

std::string NewUniqueName() {
  static std::atomic<unsigned> counter{0};
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  char host[256] = "localhost";
  gethostname(host, sizeof host - 1);
  host[sizeof host - 1] = '\0';
  std::string safeHost;
  for (const char* h = host; *h; ++h) {
    if (*h == '/')
      safeHost += "\\057";
    else if (*h == ':')
      safeHost += "\\072";
    else
      safeHost += *h;
  }
  char buf[128];
  std::snprintf(buf, sizeof buf, "%lld.M%06ldP%dQ%uR%016llx.", static_cast<long long>(tv.tv_sec),
                static_cast<long>(tv.tv_usec), static_cast<int>(getpid()), ++counter,
                static_cast<unsigned long long>(rng()));
  return buf + safeHost;
}

std::optional<std::int64_t> DeliverySeconds(std::string_view uniq) {
  std::size_t dot = uniq.find('.');
  if (dot == 0 || dot == std::string_view::npos || dot > 12) return std::nullopt;
  std::int64_t value = 0;
  for (std::size_t i = 0; i < dot; ++i) {
    if (uniq[i] < '0' || uniq[i] > '9') return std::nullopt;
    value = value * 10 + (uniq[i] - '0');
  }
  return value;
}

}  // namespace store::maildir
