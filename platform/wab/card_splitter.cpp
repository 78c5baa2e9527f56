#include "platform/wab/card_splitter.h"

#include <strings.h>

#include <algorithm>

namespace wab {
namespace {

// A line without its terminator, and where the next line starts.
struct Line {
  std::string_view text;
  std::size_t next;
};

Line LineAt(std::string_view bytes, std::size_t pos) {
  std::size_t end = bytes.find('\n', pos);
  std::size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
  std::size_t stop = end == std::string_view::npos ? bytes.size() : end;
  if (stop > pos && bytes[stop - 1] == '\r') --stop;
  return {bytes.substr(pos, stop - pos), next};
}

bool EqualsIgnoringCase(std::string_view text, std::string_view word) {
  return text.size() == word.size() && strncasecmp(text.data(), word.data(), word.size()) == 0;
}

// "BEGIN:VCARD" / "END:VCARD", ignoring case and trailing blanks.
bool IsMarker(std::string_view line, std::string_view marker) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  return EqualsIgnoringCase(line, marker);
}

bool ContainsIgnoringCase(std::string_view text, std::string_view word) {
  if (word.size() > text.size()) return false;
  for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
    if (strncasecmp(text.data() + i, word.data(), word.size()) == 0) return true;
  }
  return false;
}

}  // namespace

std::vector<CardSpan> SplitCards(std::string_view file) {
  std::vector<CardSpan> cards;
  std::size_t pos = 0;
  if (file.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  constexpr std::size_t kNone = std::string_view::npos;
  std::size_t start = kNone;  // where the open card began
  while (pos < file.size()) {
    Line line = LineAt(file, pos);
    if (IsMarker(line.text, "BEGIN:VCARD")) {
      start = pos;
    } else if (start != kNone && IsMarker(line.text, "END:VCARD")) {
      cards.push_back({start, line.next - start});
      start = kNone;
    }
    pos = line.next;
  }
  return cards;
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
    bool quotedPrintable = !line.text.empty() && line.text[0] != ' ' && line.text[0] != '\t' &&
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

std::string DropMalformedGroupedNames(std::string_view card) {
  auto nameChar = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  };
  auto continues = [&](std::size_t at) {
    return at < card.size() && (card[at] == ' ' || card[at] == '\t');
  };
  std::string out;
  out.reserve(card.size());
  std::size_t pos = 0;
  while (pos < card.size()) {
    // One property: its first line and the folded lines after it. The name
    // is read as the library reads it, across folds, up to ';' or ':'.
    Line line = LineAt(card, pos);
    std::string name(line.text.substr(0, line.text.find_first_of(";:")));
    bool ended = name.size() < line.text.size();
    std::size_t end = line.next;
    while (continues(end)) {
      Line more = LineAt(card, end);
      if (!ended) {
        std::string_view rest = more.text.substr(1);
        std::size_t stop = rest.find_first_of(";:");
        name += rest.substr(0, stop);
        ended = stop != std::string_view::npos;
      }
      end = more.next;
    }
    bool grouped = name.find('.') != std::string::npos;
    bool malformed =
        grouped && (!ended || name.back() == '.' ||
                    std::find_if_not(name.begin(), name.end(), nameChar) != name.end());
    if (!malformed) out.append(card.substr(pos, end - pos));
    pos = end;
  }
  return out;
}

// Whether the preparations can change the card: a NUL, a lone CR, a soft line
// break ("=" at a line end), or a grouped name (a dot before the first colon
// of a line). Most cards have none and are handed over as they are.
bool NeedsPreparation(std::string_view card) {
  std::size_t pos = 0;
  while (pos < card.size()) {
    std::size_t end = card.find('\n', pos);
    if (end == std::string_view::npos) end = card.size();
    std::string_view line = card.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\r') != std::string_view::npos) return true;
    if (line.find('\0') != std::string_view::npos) return true;
    if (!line.empty() && line.back() == '=') return true;
    std::size_t colon = line.find(':');
    if (line.substr(0, colon).find('.') != std::string_view::npos) return true;
    pos = end + 1;
  }
  return false;
}

std::string PrepareForLibrary(std::string_view card) {
  if (!NeedsPreparation(card)) return std::string(card);
  // The library ends a line at a lone CR too; give such lines a whole break
  // so that the lines seen here are the lines it sees.
  std::string lines;
  lines.reserve(card.size());
  for (std::size_t i = 0; i < card.size(); ++i) {
    // The library reads text up to a NUL; the card's remaining lines (its END
    // among them) must not be cut off behind one, so NULs are left out.
    if (card[i] == '\0') continue;
    lines += card[i];
    if (card[i] == '\r' && (i + 1 == card.size() || card[i + 1] != '\n')) lines += '\n';
  }
  return DropMalformedGroupedNames(JoinSoftLineBreaks(lines));
}

}  // namespace wab
