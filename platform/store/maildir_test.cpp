#include "platform/store/maildir.h"

#include <gtest/gtest.h>

#include "platform/store/store.h"

namespace store::maildir {
namespace {

TEST(MaildirNames, EncodesAsModifiedUtf7AndRoundTrips) {
  EXPECT_EQ(EncodeName("Sent"), "Sent");
  EXPECT_EQ(EncodeName("R&D"), "R&-D");
  EXPECT_EQ(EncodeName("Entwürfe"), "Entw&APw-rfe");
  EXPECT_EQ(EncodeName("台北"), "&U,BTFw-");
  EXPECT_EQ(EncodeName("a.b/c"), "a&AC4-b&AC8-c");
  for (const char* name : {"Sent", "R&D", "Entwürfe", "台北", "a.b/c", "..", "&-", "😀 x", "\t"}) {
    auto decoded = DecodeName(EncodeName(name));
    ASSERT_TRUE(decoded) << name;
    EXPECT_EQ(*decoded, name);
    EXPECT_EQ(EncodeName(name).find_first_of("./"), std::string::npos);
  }
  EXPECT_FALSE(DecodeName("&U,BTFw"));  // unterminated
  EXPECT_FALSE(DecodeName("&2D3-"));    // lone surrogate, bad padding
  EXPECT_EQ(DisplayName("bad&name"), "bad&name");
}

TEST(MaildirNames, FolderDirectoriesAndFileNames) {
  EXPECT_EQ(*SplitFolderDir(".A.A1"), (std::vector<std::string>{"A", "A1"}));
  EXPECT_TRUE(SplitFolderDir("")->empty());
  EXPECT_FALSE(SplitFolderDir(".."));
  EXPECT_FALSE(SplitFolderDir(".A..B"));
  EXPECT_FALSE(SplitFolderDir("cur"));

  FileName f = ParseFileName("1700000000.M1P2.host:2,FS");
  EXPECT_EQ(f.uniq, "1700000000.M1P2.host");
  EXPECT_EQ(f.info, "FS");
  EXPECT_EQ(FlagsFromInfo(f.info), MSG_FLAG_FLAGGED | MSG_FLAG_READ);
  EXPECT_EQ(ParseFileName("plain").uniq, "plain");
  // Unknown letters (keywords) survive a flag change; letters stay sorted.
  EXPECT_EQ(InfoWithFlags("Sa", MSG_FLAG_REPLIED | MSG_FLAG_DRAFT), "DRa");
  EXPECT_EQ(*DeliverySeconds("1700000000.M1P2.host"), 1700000000);
  EXPECT_FALSE(DeliverySeconds("abc.def"));
  EXPECT_NE(NewUniqueName(), NewUniqueName());
  EXPECT_EQ(NewUniqueName().find_first_of("/:"), std::string::npos);
}

}  // namespace
}  // namespace store::maildir
