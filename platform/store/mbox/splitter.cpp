// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/mbox/splitter.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif

namespace store::mbox {
namespace {

constexpr std::string_view kFrom = "From ";

// The line start for a "From " at `at`: back over the '>' before it. npos
// when no line starts there: the line holds other bytes before it, or starts
// before `pos`. `lineStart` begins a line whether or not a '\n' comes before it.
std::size_t LineOf(const char* b, std::size_t at, std::size_t pos, std::size_t lineStart) {
  std::size_t line = at;
  while (line > lineStart && b[line - 1] == '>') --line;
  if (line < pos || (line > lineStart && b[line - 1] != '\n')) return std::string_view::npos;
  return line;
}

// Whether the 5 bytes at `at` read "From ", for a candidate whose first and
// last bytes matched.
inline bool MiddleMatches(const char* b, std::size_t at) {
  return b[at + 1] == 'r' && b[at + 2] == 'o' && b[at + 3] == 'm';
}

// The scalar search from `i` on, for the bytes too few for a vector.
std::size_t ScanTail(const char* b, std::size_t size, std::size_t i, std::size_t pos,
                     std::size_t lineStart) {
  for (; i + kFrom.size() <= size; ++i) {
    if (b[i] != 'F' || b[i + 4] != ' ' || !MiddleMatches(b, i)) continue;
    if (std::size_t line = LineOf(b, i, pos, lineStart); line != std::string_view::npos)
      return line;
  }
  return std::string_view::npos;
}

#if defined(__x86_64__) || defined(__SSE2__)
// 32 candidate positions at a time: 'F' at i and ' ' at i + 4, as the
// vectorised searches of the C library look for a needle's first and last
// byte. "From:" headers, the commonest lines starting with 'F', fail at once.
__attribute__((target("avx2"))) std::size_t SearchAvx2(const char* b, std::size_t size,
                                                       std::size_t i, std::size_t pos,
                                                       std::size_t lineStart) {
  const __m256i f = _mm256_set1_epi8('F'), space = _mm256_set1_epi8(' ');
  for (; i + 36 <= size; i += 32) {
    // Ahead of the processor's own prefetching, which stops at the end of a
    // page: a mapping of the file is walked one page after another.
    _mm_prefetch(b + i + 1024, _MM_HINT_T0);
    const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
    const __m256i last = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i + 4));
    unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(
        _mm256_and_si256(_mm256_cmpeq_epi8(first, f), _mm256_cmpeq_epi8(last, space))));
    for (; mask; mask &= mask - 1) {
      const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
      if (!MiddleMatches(b, at)) continue;
      if (std::size_t line = LineOf(b, at, pos, lineStart); line != std::string_view::npos)
        return line;
    }
  }
  return ScanTail(b, size, i, pos, lineStart);
}

std::size_t SearchSse2(const char* b, std::size_t size, std::size_t i, std::size_t pos,
                       std::size_t lineStart) {
  const __m128i f = _mm_set1_epi8('F'), space = _mm_set1_epi8(' ');
  for (; i + 20 <= size; i += 16) {
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i + 4));
    unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(first, f), _mm_cmpeq_epi8(last, space))));
    for (; mask; mask &= mask - 1) {
      const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
      if (!MiddleMatches(b, at)) continue;
      if (std::size_t line = LineOf(b, at, pos, lineStart); line != std::string_view::npos)
        return line;
    }
  }
  return ScanTail(b, size, i, pos, lineStart);
}

using Search = std::size_t (*)(const char*, std::size_t, std::size_t, std::size_t, std::size_t);
const Search kSearch = [] {
  __builtin_cpu_init();  // this may run before the library's own initialisation
  return __builtin_cpu_supports("avx2") ? SearchAvx2 : SearchSse2;
}();
#else
const auto kSearch = ScanTail;
#endif

// The start of the next line at or after `pos` that reads "From " after any
// number of '>' (a separator or a quoted line: the only lines that matter),
// or npos. `lineStart` begins a line whether or not a '\n' comes before it.
// Such lines are rare: the bytes are searched for "From " itself and each
// one found is checked for what stands before it on its line.
std::size_t NextFromLine(std::string_view bytes, std::size_t pos, std::size_t lineStart) {
  if (pos >= bytes.size()) return std::string_view::npos;
  return kSearch(bytes.data(), bytes.size(), pos, pos, lineStart);
}

// The rest of the line after "From " at `at`, without its line end.
std::string_view EnvelopeRest(std::string_view bytes, std::size_t at) {
  std::size_t begin = at + kFrom.size();
  const void* nl = std::memchr(bytes.data() + begin, '\n', bytes.size() - begin);
  std::size_t end =
      nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - bytes.data()) : bytes.size();
  if (end > begin && bytes[end - 1] == '\r') --end;
  return bytes.substr(begin, end - begin);
}

// Where the empty line (LF or CR LF) that ends just before `pos` begins,
// when there is one that starts a line at or after `lineStart` (the first
// line of the region); npos otherwise.
std::size_t EmptyLineBefore(std::string_view bytes, std::size_t pos, std::size_t lineStart) {
  if (pos < lineStart + 1 || bytes[pos - 1] != '\n') return std::string_view::npos;
  std::size_t e = pos - 1;
  if (e >= lineStart + 1 && bytes[e - 1] == '\r') --e;
  if (e == lineStart || bytes[e - 1] == '\n') return e;
  // "\r\n" whose CR is the end of a line with text: the LF alone is no empty line.
  return std::string_view::npos;
}

bool Digits(std::string_view t) {
  if (t.empty()) return false;
  for (char c : t)
    if (c < '0' || c > '9') return false;
  return true;
}

int Number(std::string_view t) {
  int n = 0;
  for (char c : t) n = n * 10 + (c - '0');
  return n;
}

bool SameLetters(std::string_view a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if ((a[i] | 0x20) != b[i]) return false;
  return true;
}

int MonthOf(std::string_view t) {
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  if (t.size() < 3) return 0;
  for (int m = 0; m < 12; ++m)
    if (SameLetters(t.substr(0, 3), kMonths[m])) return m + 1;
  return 0;
}

bool IsWeekday(std::string_view t) {
  static const char* const kDays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
  if (t.size() < 3) return false;
  for (const char* d : kDays)
    if (SameLetters(t.substr(0, 3), d)) return true;
  return false;
}

// "H:MM" or "H:MM:SS" in seconds of the day.
std::optional<int> TimeOfDay(std::string_view t) {
  int parts[3] = {0, 0, 0};
  int count = 0;
  std::size_t pos = 0;
  while (count < 3) {
    std::size_t colon = t.find(':', pos);
    std::string_view part = t.substr(pos, colon == std::string_view::npos ? colon : colon - pos);
    if (!Digits(part) || part.size() > 2) return std::nullopt;
    parts[count++] = Number(part);
    if (colon == std::string_view::npos) break;
    pos = colon + 1;
  }
  if (count < 2 || pos > t.size()) return std::nullopt;
  if (parts[0] > 23 || parts[1] > 59 || parts[2] > 60) return std::nullopt;
  return parts[0] * 3600 + parts[1] * 60 + parts[2];
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::optional<std::int64_t> EnvelopeTime(std::string_view rest) {
  // The sender: one word ("-" from some writers), then the date's words.
  std::size_t pos = rest.find_first_not_of(" \t");
  if (pos == std::string_view::npos) return std::nullopt;
  pos = rest.find_first_of(" \t", pos);
  int month = 0, day = 0, year = 0, tokens = 0;
  std::optional<int> seconds;
  std::int64_t zone = 0;
  bool weekday = false, zoned = false;
  while (pos != std::string_view::npos) {
    std::size_t begin = rest.find_first_not_of(" \t", pos);
    if (begin == std::string_view::npos) break;
    pos = rest.find_first_of(" \t", begin);
    std::string_view t = rest.substr(begin, pos == std::string_view::npos ? pos : pos - begin);
    if (!t.empty() && t.back() == ',') t.remove_suffix(1);
    if (++tokens > 8) return std::nullopt;
    if (!weekday && !month && IsWeekday(t) && t.size() <= 9) {
      weekday = true;
    } else if (!month && MonthOf(t) && t.size() <= 9) {
      month = MonthOf(t);
    } else if (Digits(t) && t.size() == 4 && !year) {
      year = Number(t);
    } else if (Digits(t) && t.size() <= 2 && !day) {
      day = Number(t);
      if (day < 1 || day > 31) return std::nullopt;
    } else if (!seconds && (seconds = TimeOfDay(t))) {
    } else if (!zoned && t.size() == 5 && (t[0] == '+' || t[0] == '-') && Digits(t.substr(1))) {
      zoned = true;
      zone = (Number(t.substr(1, 2)) * 60 + Number(t.substr(3, 2))) * 60;
      if (t[0] == '-') zone = -zone;
    } else if (!t.empty() && t.size() <= 5 &&
               t.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string_view::npos) {
      // A zone's name (UTC, GMT, PDT): taken as UTC.
    } else {
      return std::nullopt;
    }
  }
  if (!month || !day || !year || !seconds) return std::nullopt;
  return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
         *seconds - zone;
}

Splitter::Splitter(std::string_view bytes, std::uint64_t start) : bytes_(bytes) {
  if (start > bytes.size()) start = bytes.size();
  if (start > 0 || bytes.substr(0, kFrom.size()) == kFrom) {
    first_ = start;
  } else {
    std::uint32_t ignored = 0;
    first_ = NextStart(0, 0, &ignored, false);
  }
  next_ = first_;
}

std::uint64_t Splitter::NextStart(std::uint64_t pos, std::uint64_t textStart, std::uint32_t* quoted,
                                  bool afterAnyLine) const {
  // Envelope dates that a writer could have put there: 1970 to 2199.
  constexpr std::int64_t kLatest = 7258118400;
  for (std::size_t r = NextFromLine(bytes_, pos, textStart); r != std::string_view::npos;
       r = NextFromLine(bytes_, r + 1, textStart)) {
    if (bytes_[r] == '>') {
      ++*quoted;
      continue;
    }
    const std::optional<std::int64_t> time = EnvelopeTime(EnvelopeRest(bytes_, r));
    if (!time) continue;
    if (EmptyLineBefore(bytes_, r, textStart) != std::string_view::npos) return r;
    if (afterAnyLine && *time >= 0 && *time < kLatest) return r;
  }
  return bytes_.size();
}

std::uint64_t CertainStart(std::string_view bytes, std::uint64_t pos) {
  // Three bytes before the line for the empty line ("\n\n", "\n\r\n"):
  // a line whose start is not in view cannot be told to follow one.
  pos = std::max<std::uint64_t>(pos, 2);
  for (std::size_t r = NextFromLine(bytes, pos, pos); r != std::string_view::npos;
       r = NextFromLine(bytes, r + 1, pos)) {
    if (bytes[r] == '>' || bytes[r - 1] != '\n') continue;
    const bool afterEmpty =
        bytes[r - 2] == '\n' || (r >= 3 && bytes[r - 2] == '\r' && bytes[r - 3] == '\n');
    if (afterEmpty && EnvelopeTime(EnvelopeRest(bytes, r))) return r;
  }
  return bytes.size();
}

bool Splitter::Next(Span* out) {
  if (next_ >= bytes_.size()) return false;
  Span s;
  s.from = next_;
  const void* nl = std::memchr(bytes_.data() + s.from, '\n', bytes_.size() - s.from);
  s.text = nl ? static_cast<std::uint64_t>(static_cast<const char*>(nl) - bytes_.data()) + 1
              : bytes_.size();
  s.end = NextStart(s.text, s.text, &s.quoted, true);
  std::size_t empty = EmptyLineBefore(bytes_, s.end, s.text);
  s.textEnd = empty == std::string_view::npos ? s.end : empty;
  next_ = s.end;
  *out = s;
  return true;
}

void QuotingPositions(std::string_view text, std::vector<std::uint64_t>* out) {
  for (std::size_t r = NextFromLine(text, 0, 0); r != std::string_view::npos;
       r = NextFromLine(text, r + 1, 0))
    if (text[r] == '>') out->push_back(r);
}

}  // namespace store::mbox
