// SPDX-License-Identifier: LGPL-2.1-or-later
// The folder-information row of Thunderbird's folder summaries, over files
// written the way Thunderbird writes them: dictionaries first, the row in a
// table, later updates in groups (some aborted), values by reference.
#include "platform/store/thunderbird/mork_folder_info.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kHead =
    "// <!-- <mdb:mork:z v=\"1.4\"/> -->\n"
    "< <(a=c)> // (f=iso-8859-1)\n"
    "  (80=ns:msg:db:row:scope:msgs:all)(81=subject)(82=message-id)\n"
    "  (9F=ns:msg:db:row:scope:dbfolderinfo:all)(A0=ns:msg:db:table:kind:dbfolderinfo)\n"
    "  (A1=numMsgs)(A2=numNewMsgs)(A3=mailboxName)(A4=folderSize)>\n"
    "\n<(90=Re: \\) odd $41nd \\\n continued)(91=<a@b>)(92=1b)>\n"
    "{1:^80 {(k^BF:c)(s=9)} [1(^81^90)(^82^91)] [2(^81=x)]}\n";

TEST(MorkFolderInfo, ReadsTheRowAfterEveryUpdate) {
  const std::string row = "{1:^9F {(k^A0:c)(s=9)1:m}\n  [1(^A1=1c)(^A2=0)(^A3=Inbox)(^A4=2f00)]}\n";
  const struct {
    const char* what;
    std::string file;
    std::optional<std::uint32_t> count;
  } cases[] = {
      {"in its table", kHead + row, 0x1c},
      {"by reference", kHead + "[1:^9F(^A1^92)]\n", 0x1b},
      {"by literal names", kHead + "[1:ns:msg:db:row:scope:dbfolderinfo:all(numMsgs=7)]", 7},
      {"updated in a group", kHead + row + "@$${2{@[1:^9F(^A1=2a)]@$$}2}@\n", 0x2a},
      {"an aborted group undone", kHead + row + "@$${3{@[1:^9F(^A1=99)]@$$}~~}@\n", 0x1c},
      {"a cut row", kHead + row + "[-1:^9F(^A3=Inbox)]", std::nullopt},
      {"no such row", kHead, std::nullopt},
      {"not a number", kHead + "[1:^9F(^A1=lots)]", std::nullopt},
      {"not Mork", "numMsgs=12\n", std::nullopt},
      {"cut short", (kHead + row).substr(0, kHead.size() + 40), std::nullopt},
      {"a stray byte", kHead + row + "#", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(store::mork::FolderMessageCount(c.file), c.count);
  }
  const auto cells = store::mork::ReadFolderInfo(kHead + "[1:^9F(^A3^90)(^A2=$4a\\))]");
  ASSERT_TRUE(cells);
  EXPECT_EQ(cells->at("mailboxName"), "Re: ) odd And  continued");
  EXPECT_EQ(cells->at("numNewMsgs"), "J)");
}

}  // namespace
