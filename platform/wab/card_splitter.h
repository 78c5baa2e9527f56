// SPDX-License-Identifier: LGPL-2.1-or-later
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
// starts the card afresh (the unfinished one is dropped). Lines end in CR LF,
// LF, CR CR LF or a lone CR; a UTF-8 byte-order mark before a BEGIN line is
// not part of the card. A file that starts with a UTF-16 byte-order mark is
// read as UTF-16, and its spans still count bytes of the file.
std::vector<CardSpan> SplitCards(std::string_view file);

// The text of one card of `file` as the reader takes it: UTF-8 for a UTF-16
// file, else the card's bytes.
std::string CardTextOf(std::string_view file, const CardSpan& span);

// The card text with the soft line breaks of quoted-printable values ("=" at
// the end of a line of a property encoded QUOTED-PRINTABLE) joined, as vCard
// 2.1 writers fold long values; other lines are left as they are.
std::string JoinSoftLineBreaks(std::string_view card);

// The text handed to the vCard library, which mishandles some real-world
// shapes (libebook-contacts 3.46): every line ends in CR LF and NULs are left
// out (it reads only up to one); soft line breaks are joined; each property
// is unfolded onto one line, the unindented base64 lines of a vCard 2.1 value
// included (up to the empty line that ends it); lines without a colon, and
// grouped names ("item1.X…") holding a character a name cannot hold, are left
// out (the library leaks on both). A value that is neither quoted-printable
// nor base64 is made UTF-8 here: from its declared CHARSET, else as
// undeclared text (UTF-8 when valid, else Windows-1252), and its CHARSET goes
// (the library would convert it again). `textIsUnicode`: the card came from a
// UTF-16 file, so its text is UTF-8 whatever a CHARSET says.
std::string PrepareForLibrary(std::string_view card, bool textIsUnicode = false);

}  // namespace wab
