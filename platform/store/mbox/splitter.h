// SPDX-License-Identifier: LGPL-2.1-or-later
// Splitting an mbox file into its messages, over the file's bytes as they
// stand (a mapping of the file): pure functions, no I/O.
//
// A message begins at a "From " line at the start of the file or after an
// empty line, when the rest of that line is an envelope: a sender (or "-")
// and a date as mbox writers put it. Inside a message, such an envelope with
// a date of 1970 to 2199 begins the next message after any line too (some
// writers leave no empty line after a MIME closing boundary), as GNU
// mailutils and mutt read it. Any other line starting "From " is text.
// Content-Length headers are not trusted: writers get them wrong.
//
// A message's text is its bytes after the "From " line, without the empty
// line that parts it from the next message, with one ">" taken off every
// line that reads ">From ", ">>From ", ... (mboxrd quoting).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace store::mbox {

// One message as positions in the bytes split. The four ranges follow one
// another, and a message's `end` is the next one's `from`:
//   [from, text)      its "From " line with its line end
//   [text, textEnd)   its text as stored (quoted "From " lines still quoted)
//   [textEnd, end)    the empty line before the next message ("\n", "\r\n"),
//                     or nothing
struct Span {
  std::uint64_t from = 0, text = 0, textEnd = 0, end = 0;
  std::uint32_t quoted = 0;  // lines of the text from which one '>' is taken
};

class Splitter {
 public:
  // Splits `bytes` from position `start`, which is 0 or the start of a
  // message found by an earlier split of the same file.
  explicit Splitter(std::string_view bytes, std::uint64_t start = 0);

  // The bytes before the first message: [start, preambleEnd()). Empty unless
  // the bytes do not begin with "From ".
  std::uint64_t preambleEnd() const { return first_; }

  // The next message; false at the end.
  bool Next(Span* out);

 private:
  // The first message start at or after `pos` (a "From " line with an
  // envelope, after an empty line or, with `afterAnyLine`, after any line),
  // or the end of the bytes.
  std::uint64_t NextStart(std::uint64_t pos, std::uint64_t textStart, std::uint32_t* quoted,
                          bool afterAnyLine) const;

  std::string_view bytes_;
  std::uint64_t first_ = 0;
  std::uint64_t next_ = 0;
};

// The first position at or after `pos` where a message begins whatever
// came before: a "From " line with an envelope that follows an empty line.
// The bytes from there on split the same whether the split starts there or
// at any earlier start, so the parts either side of it can be split apart
// (on two threads). The size of the bytes when there is none.
std::uint64_t CertainStart(std::string_view bytes, std::uint64_t pos);

// The envelope's date in seconds since the epoch (UTC unless the line gives
// a zone), from the rest of a "From " line after "From " (line end
// excluded); nullopt when the line is no envelope.
std::optional<std::int64_t> EnvelopeTime(std::string_view rest);

// The positions (relative to `text`) of the '>' bytes the text leaves out:
// the first '>' of each line that reads ">From ", ">>From ", ...
void QuotingPositions(std::string_view text, std::vector<std::uint64_t>* out);

}  // namespace store::mbox
