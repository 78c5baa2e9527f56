#include "control/messages_ops/raw_text.h"

#include <gtest/gtest.h>

#include "control/messages_ops/test_fakes.h"

namespace msgops {
namespace {
using namespace msgops::testing;

TEST(ReturnAddress, HeaderCases) {
  // An empty pair stops the scan: the "To:" below is never looked at.
  EXPECT_EQ(ScanReturnAddress("Return-Path: <>\r\nTo: A <a@x.org>\r\n"), "");
  EXPECT_EQ(ScanReturnAddress("Return-Path: <bounce@x.org>\r\nTo: <a@x.org>\r\n"), "bounce@x.org");
  // A bare address: the brackets are taken wherever they next stand.
  EXPECT_EQ(ScanReturnAddress("Return-Path: b@x.org\r\nFrom: C <c@x.org>\r\n"), "c@x.org");
  EXPECT_EQ(ScanReturnAddress("From: <f@x.org>\r\nReturn-Path: b@x.org\r\n\r\nbody"), "");
  // Without Return-Path the first "To:" may be the tail of Delivered-To.
  EXPECT_EQ(ScanReturnAddress("Delivered-To: d@x.org\r\nTo: T <t@x.org>\r\n"), "t@x.org");
  EXPECT_EQ(ScanReturnAddress("Delivered-To: <d@x.org>\r\nTo: T <t@x.org>\r\n"), "d@x.org");
  EXPECT_EQ(ScanReturnAddress("Subject: x\r\nTo: \"Ann, B\" <ann@x.org>\r\n"), "ann@x.org");
  EXPECT_EQ(ScanReturnAddress("To: ann@x.org\r\n\r\nno brackets"), "");
  EXPECT_EQ(ScanReturnAddress("To: a> <b"), "");          // ">" before "<"
  EXPECT_EQ(ScanReturnAddress("to: <lower@x.org>"), "");  // case-sensitive
  EXPECT_EQ(ScanReturnAddress(""), "");
}

TEST(DeliveredTo, HeaderCases) {
  const std::string address(20, 'a');
  EXPECT_EQ(ScanDeliveredTo("Subject: x\r\n\r\nbody"), "");
  EXPECT_EQ(ScanDeliveredTo("Delivered-To: " + address + "\r\nReceived: from x\r\n"),
            address + "\r\n");
  EXPECT_EQ(ScanDeliveredTo("Delivered-To: " + address + "\r\nFrom: x\r\nReceived: y\r\n"), "");
  EXPECT_EQ(ScanDeliveredTo("Delivered-To: a@b\nX: y\nReceived: y\n"), "");
  EXPECT_EQ(ScanDeliveredTo("Delivered-To: a@b\nReceived: y\n"), "a@b\n");
  // "Received:" must begin inside the 50 characters after the 14-character offset.
  const std::string fits(39, 'b');  // 39 + CR LF = 41; "Received:" is 41..49
  EXPECT_EQ(ScanDeliveredTo("Delivered-To: " + fits + "\r\nReceived: z"), fits + "\r\n");
  const std::string longer(40, 'b');
  EXPECT_EQ(ScanDeliveredTo("Delivered-To: " + longer + "\r\nReceived: z"), "");
  // The character after the name is skipped whatever it is.
  EXPECT_EQ(ScanDeliveredTo("Delivered-To:xy@z\r\nReceived:"), "y@z\r\n");
  EXPECT_EQ(ScanDeliveredTo("Delivered-To:"), "");
  EXPECT_EQ(ScanDeliveredTo("x Delivered-To: "), "");
}

TEST(RawText, NulCutsItsChunkAndReadFailureEmptiesAll) {
  auto folder = com::MakeObject<FakeFolder>();
  std::string first(4095, 'a');
  first[10] = '\0';
  std::string second = "bc";
  second += '\0';
  second += "dropped";
  folder->messages[7].bytes = first + second;
  EXPECT_EQ(ReadRawText(folder.Get(), 7), std::string(10, 'a') + "bc");
  EXPECT_EQ(folder->lastStream->asked, (std::vector<ULONG>{4095, 4095, 4095}));

  // Short reads do not end the text; each read is its own chunk.
  folder->messages[8].bytes = "Hello, world";
  folder->maxRead = 5;
  EXPECT_EQ(ReadRawText(folder.Get(), 8), "Hello, world");
  folder->failAt = 2;
  EXPECT_EQ(ReadRawText(folder.Get(), 8), std::nullopt);
  EXPECT_EQ(ReadRawText(folder.Get(), 99), std::nullopt);
  EXPECT_EQ(ReadRawText(nullptr, 8), std::nullopt);
}

}  // namespace
}  // namespace msgops
