// Splits the bytes of a vCard file into its cards, so that each card's exact
// bytes are known (for identifiers and for rewriting a file without one card),
// and prepares one card's text for the vCard library.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace wab {

// One card: its bytes are file[offset, offset + length), from the start of its
// BEGIN:VCARD line to the end of its END:VCARD line, line break included.
struct CardSpan {
  std::size_t offset;
  std::size_t length;
};

// The cards of a file in file order. Text outside cards, a BEGIN without its
// END, and anything that is not a card are skipped. A BEGIN:VCARD inside a card
// starts the card afresh (the unfinished one is dropped). Lines end in LF or
// CRLF; a UTF-8 byte-order mark before the first line is not part of a card.
std::vector<CardSpan> SplitCards(std::string_view file);

// The card text with the soft line breaks of quoted-printable values ("=" at
// the end of a line of a property encoded QUOTED-PRINTABLE) joined, as vCard
// 2.1 writers fold long values; other lines are left as they are.
std::string JoinSoftLineBreaks(std::string_view card);

// The card text without the property lines (and their folded continuations)
// whose grouped name ("item1.X…") holds a character a property name cannot
// hold. The vCard library skips such a line anyway but leaks memory on it
// (libebook-contacts 3.46), so it never sees one.
std::string DropMalformedGroupedNames(std::string_view card);

// Both of the above, after leaving out NUL bytes and giving a lone CR a whole
// line break (the library ends lines there too): the text handed to the vCard
// library.
std::string PrepareForLibrary(std::string_view card);

}  // namespace wab
