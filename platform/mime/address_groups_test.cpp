// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/mime/address_groups.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

// "g:" `depth` times, a mailbox, then the groups closed.
std::string Nested(std::size_t depth) {
  std::string value;
  for (std::size_t i = 0; i < depth; ++i) value += "g:";
  return value + "b@example.com" + std::string(depth, ';');
}

std::size_t Colons(const std::string& s) {
  return static_cast<std::size_t>(std::count(s.begin(), s.end(), ':'));
}

TEST(AddressGroups, ShallowValuesStayAsTheyAre) {
  for (std::string value : {std::string("Ann <a@x>, team: b@x, c@x;, \"Q: u\" <q@x>"),
                            Nested(mime::kMaxAddressColons)}) {
    EXPECT_FALSE(mime::AddressValueTooDeep(value));
    EXPECT_EQ(mime::FlattenAddressGroups(value), value);
  }
}

TEST(AddressGroups, DeepGroupsAreLiftedIntoTheDeepestKeptOne) {
  std::string flat = mime::FlattenAddressGroups("outer: a@x, " + Nested(5000) + ", c@x;, d@x");
  std::string kept;
  for (int i = 1; i < mime::kMaxAddressGroupDepth; ++i) kept += "g:";
  const std::size_t lifted = 5000 - (mime::kMaxAddressGroupDepth - 1);
  EXPECT_EQ(flat, "outer: a@x, " + kept + "b@example.com" + std::string(lifted, ',') +
                      std::string(mime::kMaxAddressGroupDepth - 1, ';') + ", c@x;, d@x");

  // Colons the flattening cannot place (quoted, in comments, unbalanced
  // brackets) are capped all the same.
  for (std::string value : {"\"" + std::string(5000, ':') + "\" <a@x>",
                            "(" + std::string(5000, ':') + ") a@x", "<" + Nested(5000)}) {
    std::string out = mime::FlattenAddressGroups(value + "\r\n\tz@x");
    EXPECT_LE(Colons(out), mime::kMaxAddressColons);
    EXPECT_EQ(out.find_first_of("\r\n"), std::string::npos);
  }
}

TEST(AddressGroups, ScannerStopsBeforeTheColonTooManyInAnyAddressHeader) {
  const std::string head =
      "Subject: " + std::string(5000, ':') + "\r\nX-To: " + std::string(5000, ':') + "\r\n";
  const std::string deep = "CC : a@x,\r\n " + Nested(5000) + "\r\n\r\nbody\r\n";
  const std::string message = head + deep;
  // Fed whole, and byte by byte across every boundary.
  for (std::size_t step : {message.size(), std::size_t{1}, std::size_t{7}}) {
    mime::DeepAddressScanner scanner;
    std::size_t safe = 0;
    for (std::size_t i = 0; i < message.size() && !scanner.found(); i += step) {
      std::size_t n = std::min(step, message.size() - i);
      safe += scanner.Feed(message.data() + i, n);
    }
    ASSERT_TRUE(scanner.found()) << step;
    EXPECT_EQ(Colons(message.substr(head.size(), safe - head.size())),
              mime::kMaxAddressColons + 1);  // the header's own ':' and the allowed ones
  }
  mime::DeepAddressScanner calm;
  EXPECT_EQ(calm.Feed(head.data(), head.size()), head.size());
  EXPECT_FALSE(calm.found());

  // The rewrite leaves every other line alone and keeps the line ends.
  const std::string flat = mime::FlattenDeepAddressHeaders(message);
  EXPECT_EQ(flat.substr(0, head.size()), head);
  EXPECT_EQ(flat.substr(flat.size() - 10), "\r\n\r\nbody\r\n");
  mime::DeepAddressScanner after;
  after.Feed(flat.data(), flat.size());
  EXPECT_FALSE(after.found());
}

}  // namespace
