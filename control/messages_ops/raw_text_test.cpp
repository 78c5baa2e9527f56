// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/messages_ops/raw_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/testing/scratch.h"

namespace msgops {
namespace {
using namespace std::string_literals;

// The scanners answer what the stored messages of other programs' users
// have always been answered, odd cases included.
TEST(RawTextScan, ReturnAddressAndDeliveredToHeaderCases) {
  const std::pair<std::string, std::string> returns[] = {
      // An empty pair stops the scan: the "To:" below is never looked at.
      {"Return-Path: <>\r\nTo: A <a@x.org>\r\n", ""},
      {"Return-Path: <bounce@x.org>\r\nTo: <a@x.org>\r\n", "bounce@x.org"},
      // A bare address: the brackets are taken wherever they next stand.
      {"Return-Path: b@x.org\r\nFrom: C <c@x.org>\r\n", "c@x.org"},
      {"From: <f@x.org>\r\nReturn-Path: b@x.org\r\n\r\nbody", ""},
      // Without Return-Path the first "To:" may be the tail of Delivered-To.
      {"Delivered-To: d@x.org\r\nTo: T <t@x.org>\r\n", "t@x.org"},
      {"Delivered-To: <d@x.org>\r\nTo: T <t@x.org>\r\n", "d@x.org"},
      {"Subject: x\r\nTo: \"Ann, B\" <ann@x.org>\r\n", "ann@x.org"},
      {"To: ann@x.org\r\n\r\nno brackets", ""},
      {"To: a> <b", ""}};  // ">" before "<"
  for (const auto& [text, address] : returns) EXPECT_EQ(ScanReturnAddress(text), address) << text;

  const std::string address(20, 'a');
  const std::string fits(39, 'b');  // 39 + CR LF = 41: "Received:" starts inside the 50
  const std::pair<std::string, std::string> delivered[] = {
      {"Subject: x\r\n\r\nbody", ""},
      {"Delivered-To: " + address + "\r\nReceived: from x\r\n", address + "\r\n"},
      {"Delivered-To: " + address + "\r\nFrom: x\r\nReceived: y\r\n", ""},
      {"Delivered-To: a@b\nReceived: y\n", "a@b\n"},
      {"Delivered-To: " + fits + "\r\nReceived: z", fits + "\r\n"},
      {"Delivered-To: " + fits + "b\r\nReceived: z", ""},
      {"Delivered-To:xy@z\r\nReceived:", "y@z\r\n"},  // the next character is skipped
      {"Delivered-To:", ""}};
  for (const auto& [text, to] : delivered) EXPECT_EQ(ScanDeliveredTo(text), to) << text;
}

// A source of reads over `bytes`: each read delivers at most `maxRead` bytes,
// the read numbered `failRead` (from 0) fails, and `reads` counts the reads.
struct Reads {
  std::string bytes;
  ULONG maxRead = kRawTextChunk;
  int failRead = -1;
  int reads = 0;
  std::size_t at = 0;

  std::optional<std::string> Text(const std::function<bool(std::string_view)>& settled = {}) {
    return ReadTextInChunks(
        [this](char* buffer, ULONG count, ULONG* read) {
          if (reads++ == failRead) return STG_E_READFAULT;
          *read = static_cast<ULONG>(std::min<std::size_t>({count, maxRead, bytes.size() - at}));
          bytes.copy(buffer, *read, at);
          at += *read;
          return S_OK;
        },
        settled);
  }
};

TEST(RawText, NulCutsItsChunkAndReadFailureEmptiesAll) {
  std::string first(4095, 'a');
  first[10] = '\0';
  EXPECT_EQ((Reads{first + "bc\0dropped"s}.Text()), std::string(10, 'a') + "bc");
  // Short reads do not end the text; each read is its own chunk.
  EXPECT_EQ((Reads{"Hello, world", 5}.Text()), "Hello, world");
  EXPECT_EQ((Reads{"Hello, world", 5, 2}.Text()), std::nullopt);
}

// Texts whose answers hang on where the reading stops: markers in the body
// only, NUL bytes before and after the header block, headers and brackets
// across the 4,095-byte chunk boundary, and every message of the fuzz corpus.
std::vector<std::string> ScanCases() {
  const std::string pad(4095 - 7, 'p');
  std::vector<std::string> cases = {
      "Subject: x\r\n\r\nbody\r\nReturn-Path: <late@x.org>\r\n",
      "To: A <a@x.org>\r\n\r\nReturn-Path: <late@x.org>\r\n",
      "Return-Path: <a@x.org>\0\r\nTo: <t@x.org>\r\n"s,
      "\0Return-Path: <cut@x.org>\r\nTo: <t@x.org>\r\n\r\nbody"s,
      "Delivered-To: d@x.org\r\nReceived: y\r\n\r\nbody\0tail"s,
      "Return-Path: b@x.org\r\n" + std::string(9000, 'x') + "<far@x.org>",
      "Return-Path: <" + std::string(5000, 'l') + ">",
      "Return-Path: x>" + pad + "<y@x.org>",
      "Delivered-To: me@x.org\r\n" + std::string(9000, 'y') + "\r\nReceived:",
  };
  // "Return-Path:" and "Delivered-To:" split by the chunk boundary at every place.
  for (std::size_t cut = 0; cut <= 14; ++cut) {
    cases.push_back(std::string(4095 - cut, 'h') + "Return-Path: <r@x.org>\r\n");
    cases.push_back(std::string(4095 - cut, 'h') + "Delivered-To: me@x.org\r\nReceived: z\r\n");
  }
  for (const auto& entry : std::filesystem::directory_iterator(MQ_SOURCE_DIR "/fuzz/corpus"))
    cases.push_back(mqtest::ReadFile(entry.path()));
  return cases;
}

TEST(RawText, EarlyScansAnswerWhatTheWholeTextAnswers) {
  for (ULONG maxRead : {kRawTextChunk, ULONG{1000}}) {
    for (const std::string& bytes : ScanCases()) {
      const std::string whole = Reads{bytes, maxRead}.Text().value();
      const auto returnPath = Reads{bytes, maxRead}.Text(ReturnAddressSettled());
      const auto deliveredTo = Reads{bytes, maxRead}.Text(DeliveredToSettled());
      EXPECT_EQ(ScanReturnAddress(returnPath.value()), ScanReturnAddress(whole))
          << bytes.substr(0, 60);
      EXPECT_EQ(ScanDeliveredTo(deliveredTo.value()), ScanDeliveredTo(whole))
          << bytes.substr(0, 60);
    }
  }
  // The answer near the start is found without reading on.
  Reads early{"Return-Path: <r@x.org>\r\n" + std::string(100000, 'b')};
  EXPECT_EQ(ScanReturnAddress(early.Text(ReturnAddressSettled()).value()), "r@x.org");
  EXPECT_EQ(early.reads, 1);
}

// Latin-1 letters in a stored message: the message operations' test.
TEST(RawText, EightBitTextIsReadAsWindows1252) {
  EXPECT_EQ(Utf8OrWindows1252("\x80 \x81 \x9F \xA0"), "\u20AC \u0081 \u0178 \u00A0");
  // Valid UTF-8 is kept, also next to a stray byte and when cut short.
  EXPECT_EQ(Utf8OrWindows1252("\xC3\xB6\xE9\xC3\xB6"), "\u00F6\u00E9\u00F6");
  EXPECT_EQ(Utf8OrWindows1252("a\xC3"), "a\u00C3");
  EXPECT_EQ(Utf8OrWindows1252("a\0b"s), "a\0b"s);
}

}  // namespace
}  // namespace msgops
