#include "platform/store/summary.h"

#include <gtest/gtest.h>

namespace store {
namespace {

TEST(Summary, NormalisesReplyAndForwardPrefixes) {
  EXPECT_EQ(NormalizeSubject("Re: Fwd: AW: hello"), "hello");
  EXPECT_EQ(NormalizeSubject("RE:Re[2]: FW: x"), "x");
  EXPECT_EQ(NormalizeSubject("Fw : y"), "y");
  EXPECT_EQ(NormalizeSubject("Regarding: z"), "Regarding: z");
  EXPECT_EQ(NormalizeSubject("Re[x]: w"), "Re[x]: w");
  EXPECT_EQ(NormalizeSubject("Re:"), "");
}

TEST(Summary, DecodesHeadersToUtf8) {
  Summary s = ParseHeaderBlock(
      "From: =?ISO-8859-1?Q?J=F6rg_M=FCller?= <jm@example.org>\r\n"
      "To: \"Doe, Jane\" <jane@example.org>, bob@example.org,\r\n"
      "  =?UTF-8?B?5bCP5p6X?= <k@example.jp>\r\n"
      "Subject: Re: =?KOI8-R?B?8NLJ18XU?= world\r\n"
      "Date: Sun, 05 Mar 2006 14:07:09 +0100\r\n"
      "Message-ID: <a@b>\r\n"
      "Content-Type: multipart/mixed; boundary=x\r\n");
  EXPECT_EQ(s.displayFrom, "Jörg Müller");
  EXPECT_EQ(s.displayTo, "Doe, Jane; bob@example.org; 小林");
  EXPECT_EQ(s.subject, "Re: Привет world");
  EXPECT_EQ(s.normalSubject, "Привет world");
  EXPECT_EQ(s.sentSeconds, 1141564029);
  EXPECT_EQ(s.messageId, "<a@b>");
  EXPECT_TRUE(s.attachment);
}

TEST(Summary, RawEightBitAndMissingHeaders) {
  Summary latin = ParseHeaderBlock("Subject: caf\xe9\nFrom: \xc3\xa9mile <e@x>\n");
  EXPECT_EQ(latin.subject, "café");
  EXPECT_EQ(latin.displayFrom, "émile");
  EXPECT_FALSE(latin.displayTo || latin.messageId || latin.sentSeconds || latin.attachment);
  Summary none = ParseHeaderBlock("");
  EXPECT_FALSE(none.subject || none.normalSubject || none.displayFrom);

  Summary garbage = ParseHeaderBlock("Date: not a date\nTo: undisclosed-recipients:;\n");
  EXPECT_FALSE(garbage.sentSeconds);
  EXPECT_TRUE(garbage.displayTo);  // shown as written when no address parses
}

// The same raw text shows differently as a sender (the first address) and
// as recipients (all of them), whatever was parsed before.
TEST(Summary, RememberedAddressesKeepSenderAndRecipientsApart) {
  AddressCache cache;
  const char* block = "From: Ann <a@x>, Bob <b@x>\nTo: Ann <a@x>, Bob <b@x>\n";
  for (int round = 0; round < 2; ++round) {
    Summary s = ParseHeaderBlock(block, &cache);
    EXPECT_EQ(s.displayFrom, "Ann");
    EXPECT_EQ(s.displayTo, "Ann; Bob");
  }
  Summary empty = ParseHeaderBlock("From: \nTo: \n", &cache);
  EXPECT_FALSE(empty.displayFrom);
  EXPECT_FALSE(empty.displayTo);
}

}  // namespace
TEST(Summary, DeeplyNestedGroupsShowTheirMembers) {
  std::string to = "To: a@example.org, ";
  for (int i = 0; i < 50000; ++i) to += "g:";
  to += "b@example.com" + std::string(50000, ';') + "\r\n";
  AddressCache cache;
  for (AddressCache* c : {static_cast<AddressCache*>(nullptr), &cache}) {
    Summary s = ParseHeaderBlock("From: " + to.substr(4) + to, c);
    EXPECT_EQ(s.displayTo, "a@example.org; b@example.com");
    EXPECT_EQ(s.displayFrom, "a@example.org");
  }
}

TEST(Summary, DatesBefore1970AreSentTimesToo) {
  EXPECT_EQ(ParseHeaderBlock("Date: Tue, 31 Dec 1968 23:59:58 +0000\r\n").sentSeconds, -31536002);
  EXPECT_EQ(ParseHeaderBlock("Date: Mon, 1 Jan 1601 00:00:00 +0000\r\n").sentSeconds, -11644473600);
  EXPECT_EQ(ParseHeaderBlock("Date: 1 Jan 1970 01:00:00 +0100\r\n").sentSeconds, 0);
  EXPECT_EQ(ParseHeaderBlock("Date: garbage 1968\r\n").sentSeconds, std::nullopt);
}

}  // namespace store
