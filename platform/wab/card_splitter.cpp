// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/card_splitter.h"

#include <glib.h>
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "platform/wab/card_charsets.h"

namespace wab {
namespace {

// Where a line of `count` units that starts at `pos` stops, and where the next
// one starts. CR LF, LF, CR CR LF (as iOS writes) and a lone CR end a line.
struct LineBounds {
  std::size_t stop;
  std::size_t next;
};

template <class Unit>
LineBounds BoundsAt(std::size_t count, Unit unit, std::size_t pos) {
  std::size_t stop = pos;
  while (stop < count && unit(stop) != '\n' && unit(stop) != '\r') ++stop;
  std::size_t next = stop;
  if (next == count) return {stop, next};
  if (unit(next) == '\n') return {stop, next + 1};
  if (next + 1 < count && unit(next + 1) == '\n') return {stop, next + 2};
  if (next + 2 < count && unit(next + 1) == '\r' && unit(next + 2) == '\n') return {stop, next + 3};
  return {stop, next + 1};
}

// A line without its terminator, and where the next line starts.
struct Line {
  std::string_view text;
  std::size_t next;
};

Line LineAt(std::string_view bytes, std::size_t pos) {
  const char* data = bytes.data();
  LineBounds b = BoundsAt(
      bytes.size(), [data](std::size_t i) { return data[i]; }, pos);
  return {bytes.substr(pos, b.stop - pos), b.next};
}

bool EqualsIgnoringCase(std::string_view text, std::string_view word) {
  return text.size() == word.size() && strncasecmp(text.data(), word.data(), word.size()) == 0;
}

bool ContainsIgnoringCase(std::string_view text, std::string_view word) {
  if (word.size() > text.size()) return false;
  for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
    if (strncasecmp(text.data() + i, word.data(), word.size()) == 0) return true;
  }
  return false;
}

// "BEGIN:VCARD" / "END:VCARD", ignoring case and trailing blanks.
bool IsMarker(std::string_view line, std::string_view marker) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  return EqualsIgnoringCase(line, marker);
}

// Splits `count` units (bytes, or UTF-16 code units) into cards; spans count
// units. `bom` is the length in units of a byte-order mark at a position, 0
// when there is none.
template <class Unit, class Bom>
std::vector<CardSpan> SplitUnits(std::size_t count, Unit unit, Bom bom) {
  std::vector<CardSpan> cards;
  constexpr std::size_t kNone = std::string_view::npos;
  std::size_t start = kNone;  // where the open card began
  std::string text;           // a line short enough to be a marker, in ASCII
  for (std::size_t pos = 0; pos < count;) {
    std::size_t first = pos + bom(pos);
    LineBounds b = BoundsAt(count, unit, first);
    text.clear();
    if (b.stop - first <= 32) {
      for (std::size_t i = first; i < b.stop; ++i) {
        auto c = unit(i);
        text += c >= 0 && c < 0x80 ? static_cast<char>(c) : '\x7F';
      }
      if (IsMarker(text, "BEGIN:VCARD")) {
        start = first;
      } else if (start != kNone && IsMarker(text, "END:VCARD")) {
        cards.push_back({start, b.next - start});
        start = kNone;
      }
    }
    pos = b.next;
  }
  return cards;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Where a property's value starts: at the first colon that is not inside a
// quoted parameter value; npos for a line without one (the library leaks on
// a quote left open).
std::size_t ValueColon(std::string_view property) {
  bool quoted = false;
  bool inParameters = false;
  for (std::size_t i = 0; i < property.size(); ++i) {
    char c = property[i];
    if (c == ';') inParameters = true;
    if (c == '"' && inParameters) quoted = !quoted;
    if (c == ':' && !quoted) return i;
  }
  return std::string_view::npos;  // none, or only inside a quote left open
}

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.';
}

// A property name the library reads safely: name characters only, and for a
// grouped name ("item1.EMAIL") no empty group or name around a dot.
bool IsReadableName(std::string_view name) {
  return !name.empty() && name.front() != '.' && name.back() != '.' &&
         name.find("..") == std::string_view::npos &&
         std::all_of(name.begin(), name.end(), IsNameChar);
}

// What a property's parameters say of its value.
struct ValueForm {
  bool encoded = false;  // quoted-printable or base64: the library decodes it
  bool base64 = false;
  bool hasCharset = false;
  std::string_view charset;
};

// The parameters of a property head ("NAME;P=V;BARE"); calls `each` with
// each parameter's text.
template <class Fn>
void ForEachParameter(std::string_view head, Fn each) {
  std::size_t start = head.find(';');
  if (start == std::string_view::npos) return;
  bool quoted = false;
  for (std::size_t i = ++start; i <= head.size(); ++i) {
    if (i < head.size() && head[i] == '"') quoted = !quoted;
    if (i == head.size() || (head[i] == ';' && !quoted)) {
      each(head.substr(start, i - start));
      start = i + 1;
    }
  }
}

// A parameter the library reads safely: a name, and after an "=" a
// comma-separated list of plain or quoted values without control characters.
// It loses memory on a second "=" ("TYPE=a=b"), a comma in the name
// ("A,B=c"), a quote left open or a stray one, and misreads the lines after
// some of these.
bool IsReadableParameter(std::string_view parameter) {
  std::size_t equals = parameter.find('=');
  std::string_view key = parameter.substr(0, equals);
  if (key.empty() || key.find('.') != std::string_view::npos ||
      !std::all_of(key.begin(), key.end(), IsNameChar))
    return false;
  if (equals == std::string_view::npos) return true;
  bool quoted = false;
  bool itemStart = true;  // at the start of a value of the list
  bool closed = false;    // just after a quoted value's closing quote
  for (char c : parameter.substr(equals + 1)) {
    auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7F) return false;
    if (c == '"') {
      if (!quoted && !itemStart) return false;
      quoted = !quoted;
      closed = !quoted;
      itemStart = false;
      continue;
    }
    if (quoted) continue;
    if (c == ',') {
      itemStart = true;
      closed = false;
      continue;
    }
    if (closed || c == '=') return false;
    itemStart = false;
  }
  return !quoted;
}

std::string_view Unquoted(std::string_view text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
    return text.substr(1, text.size() - 2);
  return text;
}

ValueForm FormOf(std::string_view head) {
  ValueForm form;
  ForEachParameter(head, [&](std::string_view parameter) {
    std::size_t equals = parameter.find('=');
    std::string_view key = parameter.substr(0, equals);
    std::string_view value =
        equals == std::string_view::npos ? parameter : Unquoted(parameter.substr(equals + 1));
    if (equals != std::string_view::npos && EqualsIgnoringCase(key, "CHARSET")) {
      form.hasCharset = true;
      form.charset = value;
      return;
    }
    if (equals != std::string_view::npos && !EqualsIgnoringCase(key, "ENCODING")) return;
    // ENCODING=…, or the bare 2.1 spelling of an encoding.
    if (EqualsIgnoringCase(value, "QUOTED-PRINTABLE")) form.encoded = true;
    if (EqualsIgnoringCase(value, "BASE64") ||
        (equals != std::string_view::npos && EqualsIgnoringCase(value, "B")))
      form.encoded = form.base64 = true;
  });
  return form;
}

// The head without the parameters the library cannot read and, when
// `dropCharset`, without its CHARSET (the value is UTF-8 already). False
// when the property's name cannot be read: the property is left out.
bool CleanHead(std::string_view head, bool dropCharset, std::string* out) {
  std::string_view name = head.substr(0, head.find(';'));
  if (!IsReadableName(name)) return false;
  out->assign(name);
  ForEachParameter(head, [&](std::string_view parameter) {
    std::size_t equals = parameter.find('=');
    bool charset = equals != std::string_view::npos &&
                   EqualsIgnoringCase(parameter.substr(0, equals), "CHARSET");
    if ((charset && dropCharset) || !IsReadableParameter(parameter)) return;
    out->push_back(';');
    out->append(parameter);
  });
  return true;
}

// Appends one unfolded property as its own CR LF line, or nothing when the
// library cannot take it.
void AppendProperty(std::string_view property, bool textIsUnicode, std::string* out) {
  std::size_t colon = ValueColon(property);
  if (colon == std::string_view::npos) return;
  std::string_view head = property.substr(0, colon);
  ValueForm form = FormOf(head);
  std::string clean;
  if (!CleanHead(head, !form.encoded, &clean)) return;
  std::string_view value = property.substr(colon + 1);
  // Everything the library reads is valid UTF-8: it misreads the lines after
  // text that is not (parameters and encoded values included).
  out->append(Utf8OrWindows1252(clean));
  out->push_back(':');
  if (form.encoded || textIsUnicode)
    out->append(Utf8OrWindows1252(value));
  else if (form.hasCharset)
    out->append(DeclaredToUtf8(value, form.charset));
  else
    out->append(Utf8OrWindows1252(value));
  out->append("\r\n");
}

// The card's properties, each unfolded onto one CR LF line (see
// PrepareForLibrary); `card` has CR LF lines.
std::string UnfoldProperties(std::string_view card, bool textIsUnicode) {
  std::string out;
  out.reserve(card.size());
  std::string property;
  bool base64 = false;  // the property is a base64 value: bare lines go on
  bool begin = false;   // the property is the BEGIN line: nothing folds into it
  auto flush = [&] {
    AppendProperty(property, textIsUnicode, &out);
    property.clear();
  };
  for (std::size_t pos = 0; pos < card.size();) {
    Line line = LineAt(card, pos);
    pos = line.next;
    std::string_view text = line.text;
    bool folded = !text.empty() && IsBlank(text[0]);
    bool bareBase64 = base64 && !text.empty() && text.find(':') == std::string_view::npos;
    if (folded || bareBase64) {
      if (begin) continue;
      // Base64 continues with whatever blanks lead its lines; a folded line
      // loses the one blank the fold put there.
      if (base64) {
        while (!text.empty() && IsBlank(text[0])) text.remove_prefix(1);
      } else {
        text.remove_prefix(1);
      }
      property.append(text);
      continue;
    }
    flush();
    property.assign(text);
    begin = IsMarker(text, "BEGIN:VCARD");
    std::size_t colon = ValueColon(text);
    base64 = colon != std::string_view::npos && FormOf(text.substr(0, colon)).base64;
  }
  flush();
  return out;
}

// Whether the preparations can change the card. Most cards need none and are
// handed over as they are: lines ending in CR LF or LF, no NUL, no soft line
// break, no line without a colon, nothing but plain names and parameters
// before a line's colon (no group, CHARSET or quote), and valid UTF-8
// throughout.
bool NeedsPreparation(std::string_view card) {
  bool ascii = true;
  for (std::size_t pos = 0; pos < card.size();) {
    Line line = LineAt(card, pos);
    std::size_t stop = pos + line.text.size();
    std::size_t terminator = line.next - stop;
    if (terminator == 3 || (terminator == 1 && card[stop] == '\r')) return true;
    std::string_view text = line.text;
    pos = line.next;
    if (text.empty() || text.back() == '=') return true;
    if (std::memchr(text.data(), '\0', text.size())) return true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (IsBlank(text[0])) continue;
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return true;
    // A head of plain names and parameters only: no group, CHARSET, quote,
    // blank or other character that asks for a closer look.
    std::string_view head = text.substr(0, colon);
    if (head.empty() || ContainsIgnoringCase(head, "CHARSET")) return true;
    bool equals = false;  // in the current parameter
    bool comma = false;
    for (char c : head) {
      if (c == ';') equals = comma = false;
      if (c == '=' && (equals || comma)) return true;
      equals = equals || c == '=';
      comma = comma || (c == ',' && !equals);
      if (c != ';' && c != '=' && c != ',' && (c == '.' || !IsNameChar(c))) return true;
    }
  }
  return !ascii && !g_utf8_validate(card.data(), static_cast<gssize>(card.size()), nullptr);
}

}  // namespace

std::vector<CardSpan> SplitCards(std::string_view file) {
  FileEncoding encoding = EncodingOf(file);
  const char* data = file.data();
  if (encoding == FileEncoding::kBytes) {
    return SplitUnits(
        file.size(), [data](std::size_t i) { return static_cast<int>(data[i]); },
        [file](std::size_t i) { return file.substr(i, 3) == "\xEF\xBB\xBF" ? 3 : 0; });
  }
  bool big = encoding == FileEncoding::kUtf16BigEndian;
  auto unit = [data, big](std::size_t i) {
    auto hi = static_cast<unsigned char>(data[2 * i + (big ? 0 : 1)]);
    auto lo = static_cast<unsigned char>(data[2 * i + (big ? 1 : 0)]);
    return (hi << 8) | lo;
  };
  std::size_t count = file.size() / 2;
  std::vector<CardSpan> cards = SplitUnits(
      count, unit, [&](std::size_t i) { return i < count && unit(i) == 0xFEFF ? 1 : 0; });
  for (CardSpan& span : cards) {
    span.offset *= 2;
    span.length *= 2;
  }
  return cards;
}

std::string CardTextOf(std::string_view file, const CardSpan& span) {
  std::string_view bytes = file.substr(span.offset, span.length);
  FileEncoding encoding = EncodingOf(file);
  if (encoding == FileEncoding::kBytes) return std::string(bytes);
  return Utf16ToUtf8(bytes, encoding);
}

std::string JoinSoftLineBreaks(std::string_view card) {
  std::string out;
  out.reserve(card.size());
  std::size_t pos = 0;
  while (pos < card.size()) {
    Line line = LineAt(card, pos);
    // Only the first line of a property names its parameters: a property
    // line starts with a non-blank character and holds a colon.
    std::string_view head = line.text.substr(0, line.text.find(':'));
    bool quotedPrintable = !line.text.empty() && !IsBlank(line.text[0]) &&
                           line.text.find(':') != std::string_view::npos &&
                           ContainsIgnoringCase(head, "QUOTED-PRINTABLE");
    if (!quotedPrintable) {
      out.append(card.substr(pos, line.next - pos));
      pos = line.next;
      continue;
    }
    // Append the value's lines while each ends in a soft break.
    while (true) {
      if (!line.text.empty() && line.text.back() == '=' && line.next < card.size() &&
          !IsMarker(LineAt(card, line.next).text, "END:VCARD")) {
        out.append(line.text.substr(0, line.text.size() - 1));
        pos = line.next;
        line = LineAt(card, pos);
        continue;
      }
      out.append(card.substr(pos, line.next - pos));
      pos = line.next;
      break;
    }
  }
  return out;
}

std::string PrepareForLibrary(std::string_view card, bool textIsUnicode) {
  if (!NeedsPreparation(card)) return std::string(card);
  std::string lines;
  lines.reserve(card.size() + card.size() / 16);
  for (std::size_t pos = 0; pos < card.size();) {
    Line line = LineAt(card, pos);
    for (char c : line.text) {
      if (c != '\0') lines += c;
    }
    lines += "\r\n";
    pos = line.next;
  }
  return UnfoldProperties(JoinSoftLineBreaks(lines), textIsUnicode);
}

}  // namespace wab
