// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/thunderbird/prefs_js.h"

#include <cstdint>
#include <optional>

namespace store::thunderbird {
namespace {

void AppendUtf8(std::uint32_t cp, std::string* out) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the statements of one file; every step moves forward, so the work is
// linear in the text.
class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}

  Prefs Run() {
    Prefs prefs;
    while (SkipSpaceAndComments()) {
      if (prefs.values.size() >= kMaxPrefs) {
        prefs.damaged = true;
        break;
      }
      // A statement that does not read is dropped up to the end of the line
      // it began on, so the next line is read even when this one ended early.
      std::size_t start = i_;
      if (!Statement(&prefs)) {
        prefs.damaged = true;
        i_ = start;
        SkipLine();
      }
    }
    if (broken_) prefs.damaged = true;
    return prefs;
  }

 private:
  bool AtEnd() const { return i_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[i_]; }

  // False at the end of the text.
  bool SkipSpaceAndComments() {
    while (!AtEnd()) {
      char c = s_[i_];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
        ++i_;
      } else if (c == '#' || s_.substr(i_, 2) == "//") {
        SkipLine();
      } else if (s_.substr(i_, 2) == "/*") {
        std::size_t end = s_.find("*/", i_ + 2);
        if (end == std::string_view::npos) {
          broken_ = true;  // an unclosed comment runs to the end
          i_ = s_.size();
        } else {
          i_ = end + 2;
        }
      } else {
        return true;
      }
    }
    return false;
  }

  void SkipLine() {
    std::size_t end = s_.find('\n', i_);
    i_ = end == std::string_view::npos ? s_.size() : end + 1;
  }

  bool Expect(char c) {
    SkipSpaceAndComments();
    if (Peek() != c) return false;
    ++i_;
    return true;
  }

  std::string_view Word() {
    std::size_t b = i_;
    while (!AtEnd()) {
      char c = s_[i_];
      if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
            (c >= '0' && c <= '9') || c == '-' || c == '+'))
        break;
      ++i_;
    }
    return s_.substr(b, i_ - b);
  }

  std::optional<std::string> String() {
    SkipSpaceAndComments();
    char quote = Peek();
    if (quote != '"' && quote != '\'') return std::nullopt;
    ++i_;
    std::string out;
    while (!AtEnd()) {
      char c = s_[i_++];
      if (c == quote) return out;
      if (c == '\n') return std::nullopt;  // strings do not span lines
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (AtEnd()) return std::nullopt;
      char e = s_[i_++];
      switch (e) {
        case 'n':
          out.push_back('\n');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'x': {
          std::optional<std::uint32_t> v = Hex(2);
          if (!v) return std::nullopt;
          AppendUtf8(*v, &out);
          break;
        }
        case 'u': {
          std::optional<std::uint32_t> v = Hex(4);
          if (!v) return std::nullopt;
          std::uint32_t cp = *v;
          // A surrogate pair written as two escapes.
          if (cp >= 0xD800 && cp <= 0xDBFF && s_.substr(i_, 2) == "\\u") {
            std::size_t save = i_;
            i_ += 2;
            std::optional<std::uint32_t> low = Hex(4);
            if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
              cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
            } else {
              i_ = save;
            }
          }
          AppendUtf8(cp, &out);
          break;
        }
        default:
          out.push_back(e);
          break;  // \\, \", \' and anything else: the character
      }
    }
    return std::nullopt;
  }

  std::optional<std::uint32_t> Hex(int digits) {
    if (s_.size() - i_ < static_cast<std::size_t>(digits)) return std::nullopt;
    std::uint32_t v = 0;
    for (int k = 0; k < digits; ++k) {
      int d = HexDigit(s_[i_ + k]);
      if (d < 0) return std::nullopt;
      v = v * 16 + static_cast<std::uint32_t>(d);
    }
    i_ += digits;
    return v;
  }

  std::optional<std::string> Value() {
    SkipSpaceAndComments();
    if (Peek() == '"' || Peek() == '\'') return String();
    std::string_view w = Word();
    if (w == "true" || w == "false") return std::string(w);
    std::size_t digits = (!w.empty() && (w[0] == '-' || w[0] == '+')) ? 1 : 0;
    if (w.size() == digits || w.size() > digits + 10) return std::nullopt;
    for (std::size_t k = digits; k < w.size(); ++k)
      if (w[k] < '0' || w[k] > '9') return std::nullopt;
    return std::string(w[0] == '+' ? w.substr(1) : w);
  }

  // pref|user_pref|sticky_pref ( "name" , value [, attributes] ) ;
  bool Statement(Prefs* prefs) {
    std::string_view fn = Word();
    if (fn != "user_pref" && fn != "pref" && fn != "sticky_pref") return false;
    if (!Expect('(')) return false;
    std::optional<std::string> name = String();
    if (!name || !Expect(',')) return false;
    std::optional<std::string> value = Value();
    if (!value) return false;
    if (Expect(',')) {  // a default pref's attributes ("locked", "sticky")
      SkipSpaceAndComments();
      Word();
    }
    if (!Expect(')') || !Expect(';')) return false;
    prefs->values[std::move(*name)] = std::move(*value);
    return true;
  }

  std::string_view s_;
  std::size_t i_ = 0;
  bool broken_ = false;
};

}  // namespace

Prefs ParsePrefs(std::string_view text) {
  return Reader(text).Run();
}

}  // namespace store::thunderbird
