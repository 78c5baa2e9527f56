// SPDX-License-Identifier: LGPL-2.1-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/store/mbox/message_key.h"
#include "platform/store/mbox/splitter.h"

namespace store::mbox {
namespace {

struct Part {
  std::string envelope, text, separator;
  bool operator==(const Part&) const = default;
};

std::string Unquoted(std::string_view text) {
  std::vector<std::uint64_t> at;
  QuotingPositions(text, &at);
  std::string out;
  std::size_t from = 0;
  for (std::uint64_t a : at) {
    out.append(text.substr(from, a - from));
    from = a + 1;
  }
  out.append(text.substr(from));
  return out;
}

// Splits `bytes` and checks what every split must hold: the parts follow one
// another and make up the bytes, and the quoting count matches the text.
std::vector<Part> Split(const std::string& bytes) {
  Splitter splitter(bytes);
  std::string rebuilt = bytes.substr(0, splitter.preambleEnd());
  std::vector<Part> parts;
  Span s;
  std::uint64_t at = splitter.preambleEnd();
  while (splitter.Next(&s)) {
    EXPECT_EQ(s.from, at);
    EXPECT_LE(s.from, s.text);
    EXPECT_LE(s.text, s.textEnd);
    EXPECT_LE(s.textEnd, s.end);
    std::string_view text = std::string_view(bytes).substr(s.text, s.textEnd - s.text);
    std::vector<std::uint64_t> quoting;
    QuotingPositions(text, &quoting);
    EXPECT_EQ(quoting.size(), s.quoted);
    parts.push_back({bytes.substr(s.from, s.text - s.from), Unquoted(text),
                     bytes.substr(s.textEnd, s.end - s.textEnd)});
    rebuilt += bytes.substr(s.from, s.end - s.from);
    at = s.end;
  }
  EXPECT_EQ(rebuilt, bytes);
  return parts;
}

TEST(MboxSplitter, MessagesBeginAtEnvelopes) {
  const std::string tb = "From - Mon Jan 01 00:00:00 2001\n";
  const std::string mutt = "From ann@example.org Tue Feb  3 04:05:06 2009\n";
  const std::string takeout = "From 1545668983435175434@xxx Fri Sep 16 22:26:51 +0000 2016\n";
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<Part> parts;
  };
  const Case cases[] = {
      {"two messages",
       tb + "S: a\n\nbody\n\n" + mutt + "S: b\n\nbody b\n\n",
       {{tb, "S: a\n\nbody\n", "\n"}, {mutt, "S: b\n\nbody b\n", "\n"}}},
      {"From lines that are text",
       tb + "S: a\n\nFrom here on\nwe go\n\nFrom the top, again\n\n" + takeout + "S: b\n\nx\n",
       {{tb, "S: a\n\nFrom here on\nwe go\n\nFrom the top, again\n", "\n"},
        {takeout, "S: b\n\nx\n", ""}}},
      // Some writers leave no empty line after a closing boundary: a complete
      // envelope starts a message after any line, one without a date does not.
      {"an envelope after a closing boundary",
       tb + "S: a\n\n--b--\n" + mutt + "S: b\n\nFrom nobody\nFrom x 2009\n",
       {{tb, "S: a\n\n--b--\n", ""}, {mutt, "S: b\n\nFrom nobody\nFrom x 2009\n", ""}}},
      {"an envelope dated where no writer could",
       tb + "S: a\nFrom ann Tue Feb  3 04:05:06 2999\n",
       {{tb, "S: a\nFrom ann Tue Feb  3 04:05:06 2999\n", ""}}},
      {"quoted From lines lose one >",
       tb + "S: a\n\n>From me\n>>From you\n>>>From them\n> From not\n>From\nx >From y\n\n",
       {{tb, "S: a\n\nFrom me\n>From you\n>>From them\n> From not\n>From\nx >From y\n", "\n"}}},
      {"quoted line first in the text", tb + ">From x\n", {{tb, "From x\n", ""}}},
      {"CR LF",
       "From - Mon Jan 01 00:00:00 2001\r\nS: a\r\n\r\n>From b\r\n\r\n" + takeout,
       {{"From - Mon Jan 01 00:00:00 2001\r\n", "S: a\r\n\r\nFrom b\r\n", "\r\n"},
        {takeout, "", ""}}},
      {"an empty message", tb + "\n" + tb + "S: b\n", {{tb, "", "\n"}, {tb, "S: b\n", ""}}},
      {"no final newline", tb + "S: a\n\nlast", {{tb, "S: a\n\nlast", ""}}},
      {"a truncated last message",
       tb + "S: a\n\n" + "From - Mon Jan",
       {{tb, "S: a\n\nFrom - Mon Jan", ""}}},
      {"an envelope line alone",
       "From - Mon Jan 01 00:00:00 2001",
       {{"From - Mon Jan 01 00:00:00 2001", "", ""}}},
      {"a lone CR is no empty line", tb + "x\r\r\n" + tb, {{tb, "x\r\r\n", ""}, {tb, "", ""}}},
      {"nothing", "", {}},
      // Bytes before the first envelope are a preamble; the first line of a
      // file starts a message without an envelope.
      {"a preamble", "junk\n\n" + tb + "S: a\n", {{tb, "S: a\n", ""}}},
      {"no mbox at all", "no mbox at all\n" + tb, {}},
      {"a first line", "From nobody\nS: a\n", {{"From nobody\n", "S: a\n", ""}}},
  };
  for (const Case& c : cases) EXPECT_EQ(Split(c.bytes), c.parts) << c.name;
}

// A file split on two threads is cut where a message begins whatever came
// before: each side must split as the whole file does, at every position
// the search for such a start may begin from.
TEST(MboxSplitter, BothSidesOfACertainStartSplitAsTheWhole) {
  const std::string tb = "From - Mon Jan 01 00:00:00 2001\n";
  const std::string crlf = "From - Mon Jan 01 00:00:00 2001\r\n";
  const std::string bytes = "junk\n\n" + tb + "S: a\n\nFrom here on\n\n>From x\n\n" + tb + "\n" +
                            tb + "S: b\n--b--\n" + tb + "S: c\n\nFrom nobody\n\n" + crlf +
                            "S: d\r\n\r\n" + crlf + "x\r\r\n" + tb + "\n>>From y\n\n" + tb +
                            "S: e\n\nlast";
  using Key = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t, std::uint32_t>;
  auto spans = [](std::string_view b, std::uint64_t start) {
    std::vector<Key> out;
    Splitter splitter(b, start);
    for (Span s; splitter.Next(&s);) out.emplace_back(s.from, s.text, s.textEnd, s.end, s.quoted);
    return out;
  };
  const std::vector<Key> whole = spans(bytes, 0);
  std::set<std::uint64_t> seams;
  for (std::uint64_t pos = 0; pos <= bytes.size(); ++pos) {
    const std::uint64_t at = CertainStart(bytes, pos);
    ASSERT_GE(at, pos);
    if (at == bytes.size()) continue;
    seams.insert(at);
    auto cut = std::find_if(whole.begin(), whole.end(),
                            [&](const Key& k) { return std::get<0>(k) >= at; });
    ASSERT_TRUE(cut != whole.end() && std::get<0>(*cut) == at) << at;
    EXPECT_EQ(spans(std::string_view(bytes).substr(0, at), 0),
              std::vector<Key>(whole.begin(), cut));
    EXPECT_EQ(spans(bytes, at), std::vector<Key>(cut, whole.end())) << at;
  }
  // The starts after an empty line, LF or CR LF; none after other lines.
  EXPECT_EQ(seams.size(), 6u);
}

TEST(MboxSplitter, EnvelopeDatesInTheFormsWritersUse) {
  constexpr std::int64_t k2001 = 978307200;  // 2001-01-01 00:00:00 UTC
  struct Case {
    const char* rest;
    std::optional<std::int64_t> seconds;
  };
  const Case cases[] = {
      {"- Mon Jan 01 00:00:00 2001", k2001},
      {"ann@example.org Mon Jan  1 00:00:00 2001", k2001},
      {"MAILER-DAEMON Mon Jan 1 01:02 2001", k2001 + 3720},
      {"1545668983435175434@xxx Fri Sep 16 22:26:51 +0000 2016", 1474064811},
      {"x Fri Sep 16 22:26:51 +0200 2016", 1474064811 - 7200},
      {"x Sat, 16 Sep 2000 10:00:00", 969098400},
      {"x Thu Feb 29 12:00:00 1996", 825595200},
      {"ann@example.org", std::nullopt},
      {"here on we go", std::nullopt},
      {"the desk of Ann, Mon Jan 1 10:00 2001", std::nullopt},
      {"x Mon Jan 32 00:00:00 2001", std::nullopt},
      {"x Mon Jan 01 24:00:00 2001", std::nullopt},
      {"x Mon Jan 01 00:00:00 2001 1 2 3 4 5", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(EnvelopeTime(c.rest), c.seconds) << c.rest;
}

TEST(MboxMessage, FlagsComeFromTheHeadersOfEachWriter) {
  struct Case {
    const char* headers;
    DWORD flags;
    bool deleted;
  };
  const Case cases[] = {
      {"Subject: x\n", 0, false},
      {"Status: RO\n", MSG_FLAG_READ, false},
      {"Status: O\n", 0, false},
      {"Status: RO\nX-Status: AF\n", MSG_FLAG_READ | MSG_FLAG_REPLIED | MSG_FLAG_FLAGGED, false},
      {"X-Status: T\n", MSG_FLAG_DRAFT, false},
      {"X-Mozilla-Status: 0001\n", MSG_FLAG_READ, false},
      {"X-Mozilla-Status: 0007\n", MSG_FLAG_READ | MSG_FLAG_REPLIED | MSG_FLAG_FLAGGED, false},
      {"X-Mozilla-Status: 0009\n", MSG_FLAG_READ, true},
      // Headers only: the body was never downloaded.
      {"X-Mozilla-Status: 0401\n", MSG_FLAG_READ | MSG_FLAG_PARTIAL, false},
      // Thunderbird's own header decides over an older Status line.
      {"Status: RO\nX-Mozilla-Status: 0000\n", 0, false},
      {"x-mozilla-status:  0001\r\n", MSG_FLAG_READ, false},
      {"X-Mozilla-Status: zz\n", 0, false},
  };
  for (const Case& c : cases) {
    MessageFacts f = ReadFacts(std::string(c.headers) + "\nbody Status: R\n");
    EXPECT_EQ(f.flags, c.flags) << c.headers;
    EXPECT_EQ(f.deleted, c.deleted) << c.headers;
  }
}

TEST(MboxMessage, TheHashIgnoresOnlyTheHeadersOtherProgramsRewrite) {
  const std::string base = "From: a@example.org\nSubject: s\nMessage-ID: <1@x>\n";
  const std::uint64_t plain = ReadFacts(base + "\nbody\n").hash;
  for (const char* same :
       {"X-Mozilla-Status: 0001\n", "X-Mozilla-Status2: 00000000\nX-Mozilla-Keys: \n",
        "Status: RO\nX-Status: A\n", "X-UID: 7\nX-Keywords: $Label1\n", "Content-Length: 5\n",
        "X-Mozilla-Keys: long\n  folded\n\tvalue\n"}) {
    EXPECT_EQ(ReadFacts(base + same + "\nbody\n").hash, plain) << same;
    EXPECT_EQ(ReadFacts(same + base + "\nbody\n").hash, plain) << same;
  }
  for (const std::string& other :
       {base + "\nbody.\n", base + "X-Other: 1\n\nbody\n", base + "\n\nbody\n",
        std::string("From: a@example.org\nSubject: s\nMessage-ID: <2@x>\n\nbody\n")})
    EXPECT_NE(ReadFacts(other).hash, plain) << other;
  // Body lines that look like those headers count.
  EXPECT_NE(ReadFacts(base + "\nStatus: RO\n").hash, ReadFacts(base + "\n").hash);
  EXPECT_EQ(ReadFacts(base + "\nbody\n").headerEnd, base.size() + 1);
}

TEST(MboxMessage, TheHashOfAMessageIsTheOneItsIdWasGivenUnder) {
  // Ids in an index are found again by this hash: a listing on any machine,
  // with any of the hash's implementations, must give these values for these
  // bytes (from below XXH3's buffer to many of its blocks).
  auto text = [](std::size_t size) {
    std::string t =
        "From: a@b\nX-Mozilla-Status: 0001\nSubject: s\nStatus: RO\n\tcontinued\nTo: c@d\n\n";
    for (std::size_t i = 0; t.size() < size; ++i)
      t += "line " + std::to_string(i * 7919 % 1000) + " of the body\n";
    return t;
  };
  const std::pair<std::size_t, std::uint64_t> cases[] = {{0, 0x01f410cafbce5cccULL},
                                                         {200, 0x61f2f83a71cd7db9ULL},
                                                         {1000, 0xca9045f485e84641ULL},
                                                         {5000, 0xbb8f138913b00689ULL},
                                                         {300000, 0xc5b0b21da1428d2eULL}};
  for (const auto& [size, hash] : cases) EXPECT_EQ(ReadFacts(text(size)).hash, hash) << size;
}

}  // namespace
}  // namespace store::mbox
