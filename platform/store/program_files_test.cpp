// SPDX-License-Identifier: LGPL-2.1-or-later
// The readers of other mail programs' small files: the mark files and
// sequences of MH folders, Claws Mail's folder list, Apple Mail's message
// framing. Bytes as those programs write them, and the damaged shapes a
// copied or half-written file takes.
#include <gtest/gtest.h>

#include <string>

#include "platform/store/apple/emlx.h"
#include "platform/store/claws/folderlist.h"
#include "platform/store/evolution/local_layout.h"
#include "platform/store/mh/marks.h"
#include "platform/store/testing/home_fixture.h"

namespace store {
namespace {

using testing::Le32;

std::string Be32(std::uint32_t v) {
  std::string s = Le32(v);
  return {s.rbegin(), s.rend()};
}

TEST(MarkFile, ReadsPairsInTheWritersByteOrder) {
  using mh::ParseMarkFile;
  std::string le = Le32(2) + Le32(1) + Le32(0) + Le32(2) + Le32(mh::kMarkUnread | mh::kMarkNew) +
                   Le32(1) + Le32(mh::kMarkReplied) + "\x07\x00";  // a torn last entry
  auto marks = ParseMarkFile(le);
  ASSERT_TRUE(marks);
  EXPECT_EQ(marks->size(), 2u);
  EXPECT_EQ(marks->at(1), mh::kMarkReplied);  // the later entry wins
  EXPECT_EQ(marks->at(2), mh::kMarkUnread | mh::kMarkNew);
  auto be = ParseMarkFile(Be32(2) + Be32(70000) + Be32(mh::kMarkUnread));
  ASSERT_TRUE(be);
  EXPECT_EQ(be->at(70000), mh::kMarkUnread);
  for (std::string bad : {std::string(), std::string("\x02\x00", 2), Le32(1) + Le32(1) + Le32(0)})
    EXPECT_FALSE(ParseMarkFile(bad)) << bad.size();
}

TEST(MhSequences, ReadsRangesContinuationsAndSkipsJunk) {
  const std::string text =
      "cur: 4\n"
      "unseen: 1-3 7 200-199 x 9-12\n"
      "  13 4000000000 5000000000 0\n"
      "unseenish: 40\n";
  auto unseen = mh::ParseSequence(text, "unseen");
  ASSERT_TRUE(unseen);
  for (std::uint32_t n : {1u, 3u, 7u, 9u, 12u, 13u, 4000000000u})
    EXPECT_TRUE(unseen->Contains(n)) << n;
  for (std::uint32_t n : {0u, 4u, 8u, 14u, 40u, 199u, 200u}) EXPECT_FALSE(unseen->Contains(n)) << n;
  // 1-3 and 9-12 13 merge; the rest stand alone.
  EXPECT_EQ(unseen->ranges().size(), 4u);
  EXPECT_FALSE(mh::ParseSequence(text, "flagged"));
  auto empty = mh::ParseSequence("unseen:\n", "unseen");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
}

TEST(ClawsFolderList, ListsMailboxesWithTheirInbox) {
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<folderlist>\n"
      "  <folder type=\"mh\" name=\"Mailbox\" path=\"Mail\" sort=\"0\">\n"
      "    <folderitem type=\"normal\" name=\"archive\" path=\"archive\">\n"
      "      <folderitem type=\"inbox\" name=\"deep\" path=\"archive/deep\"/>\n"
      "    </folderitem>\n"
      "    <folderitem type=\"inbox\" name=\"inbox\" path=\"inbox\"/>\n"
      "  </folder>\n"
      "  <folder type=\"imap\" name=\"jane@example.com\" path=\"x\" account_id=\"3\"/>\n"
      "  <folder type=\"mh\" name=\"\" path=\"Nameless\"/>\n"
      "  <folder type=\"mh\" name=\"Caf\xc3\xa9\" path=\"/srv/mail\"/>\n"
      "  <folder type=\"mh\" name=\"Torn\" path=\"T";  // cut off mid-write
  auto boxes = claws::ParseFolderList(xml);
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].name, "Mailbox");
  EXPECT_EQ(boxes[0].path, "Mail");
  EXPECT_EQ(boxes[0].inbox, "inbox");
  EXPECT_EQ(boxes[1].type, "imap");
  EXPECT_EQ(boxes[1].path, "");
  EXPECT_EQ(boxes[1].accountId, "3");
  EXPECT_EQ(boxes[2].path, "/srv/mail");
  EXPECT_TRUE(claws::ParseFolderList("<folderlist><folder type=\"mh\" name=\"\xff\" "
                                     "path=\"M\"/></folderlist>")
                  .empty());
}

TEST(Emlx, FramesTheMessageAndReadsItsFlags) {
  const std::string message = "Subject: hi\n\nbody\n";
  const std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\"><dict>\n"
      "<key>date-received</key><integer>1</integer>\n"
      "<key>extra</key><dict><key>flags</key><integer>0</integer></dict>\n"
      "<key>flags</key>\n<integer>8590195713</integer>\n"
      "</dict></plist>\n";
  std::string file = std::to_string(message.size()) + "       \n" + message + plist;
  auto frame = apple::ParseEmlxFrame(file);
  ASSERT_TRUE(frame);
  EXPECT_EQ(file.substr(frame->start, frame->length), message);
  auto flags = apple::ParseEmlxFlags(std::string_view(file).substr(frame->start + frame->length));
  ASSERT_TRUE(flags);
  EXPECT_EQ(*flags, 8590195713);
  for (std::string bad : {std::string("19\nshort"), std::string("x1\n"), std::string("\n"),
                          std::string("-1\nabc"), std::string(70, ' ') + "1\na"})
    EXPECT_FALSE(apple::ParseEmlxFrame(bad)) << bad;
  EXPECT_FALSE(apple::ParseEmlxFlags("<plist><dict><key>flags</key><string>1</string></dict>"));
}

TEST(EvolutionNames, UndoTheEscapesOnlyWhereTheTreeIsMarked) {
  EXPECT_EQ(evolution::LocalFolderName("a_2Eb_5Fc_2", true), "a.b_c_2");
  EXPECT_EQ(evolution::LocalFolderName("_5F2E_", true), "_2E_");
  EXPECT_EQ(evolution::LocalFolderName("a_2Eb", false), "a_2Eb");
}

}  // namespace
}  // namespace store
