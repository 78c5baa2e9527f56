// SPDX-License-Identifier: LGPL-2.1-or-later
// Address headers that nest groups ("g:g:g:...;;;") deeper than any mail needs.
// GMime parses address lists recursively, one level per group, and a header of
// a few hundred kilobytes nests deep enough to overflow the stack. Nothing
// here parses addresses: these helpers only count and rewrite ':' so that
// GMime is never handed a header it cannot survive.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mime {

// Real address headers hold a handful of ':' at most (an empty group, a route);
// GMime copes with a thousand levels of nesting.
constexpr std::size_t kMaxAddressColons = 256;
// The deepest group nesting a rewritten header keeps.
constexpr int kMaxAddressGroupDepth = 16;

// The headers whose values GMime parses as address lists when it builds a
// message: From, Sender, Reply-To, To, Cc, Bcc (any case).
bool IsAddressHeaderName(std::string_view name);

// True when `value` holds more ':' than kMaxAddressColons, so that an address
// parser could nest that deep.
bool AddressValueTooDeep(std::string_view value);

// `value` rewritten so that it holds at most kMaxAddressColons ':' and no group
// nests deeper than kMaxAddressGroupDepth: the members of deeper groups are
// lifted into the group at that depth (their group names dropped). Line
// breaks become spaces. A value that is not too deep comes back unchanged.
std::string FlattenAddressGroups(std::string_view value);

// Watches the bytes of a message file go by, in order, and finds the first
// address header (a line "To:" and the like, with its continuation lines)
// that holds more than kMaxAddressColons ':'. It looks at every line, body
// included: it does not know where header blocks are, which GMime decides.
class DeepAddressScanner {
 public:
  // Feeds the next `size` bytes. Returns the number of those bytes that are
  // safe to hand on: `size`, or fewer when a too-deep header starts showing,
  // in which case found() is true from then on.
  std::size_t Feed(const char* data, std::size_t size);
  bool found() const { return found_; }
  // For a reader that skipped bytes: what follows cannot be vouched for.
  void GiveUp() { found_ = true; }

 private:
  void StartLine(std::string_view head);

  bool found_ = false;
  bool atLineStart_ = true;
  bool inHead_ = false;     // collecting the start of a line to see its name
  std::string head_;        // that start, while it is short
  bool inAddress_ = false;  // within an address header (or its continuation)
  std::size_t colons_ = 0;  // ':' seen in its value so far
};

// The message text with every too-deep address header (see the scanner)
// rewritten by FlattenAddressGroups, each on one line.
std::string FlattenDeepAddressHeaders(std::string_view message);

}  // namespace mime
