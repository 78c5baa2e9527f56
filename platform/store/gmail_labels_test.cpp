#include "platform/store/gmail_labels.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace store::gmail {
namespace {

using Strings = std::vector<std::string>;

TEST(GmailLabels, DecodesAndSplitsTheHeader) {
  struct Case {
    const char* raw;
    Strings labels;
  } cases[] = {
      {"Inbox,Important,Opened", {"Inbox", "Important", "Opened"}},
      {" Inbox , Sent ", {"Inbox", "Sent"}},
      {"\"Work, old\",Inbox", {"Work, old", "Inbox"}},
      {"Inbox, \" padded \" ,x", {"Inbox", " padded ", "x"}},
      {"\"say \\\"hi\\\"\"", {"say \"hi\""}},
      {"Work/Projects,Work", {"Work/Projects", "Work"}},
      {"a,,b,", {"a", "b"}},
      {"a,a,A", {"a", "A"}},  // once each
      {"\"unclosed, still", {"unclosed, still"}},
      {"", {}},
      {"Inbox,\r\n Opened", {"Inbox", "Opened"}},
      {"=?UTF-8?Q?Archived,Category_Personal,B=C3=BCro?=",
       {"Archived", "Category Personal", "Büro"}},
      {"Inbox,=?UTF-8?B?UmVpc2Vu?=", {"Inbox", "Reisen"}},
      {"Inbox,Caf\xE9", {"Inbox", "Caf\xC3\xA9"}},  // undeclared 8-bit text: Latin-1
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raw);
    EXPECT_EQ(SplitLabels(DecodeLabelsHeader(c.raw)), c.labels);
  }
}

TEST(GmailLabels, FolderOfEachLabel) {
  struct Case {
    const char* label;
    Strings folder;
  } cases[] = {
      {"Inbox", {"Inbox"}},
      {"INBOX", {"Inbox"}},
      {"Draft", {"Drafts"}},
      {"Category Social", {"Categories", "Social"}},
      {"category updates", {"Categories", "Updates"}},
      {"Work/Projects", {"Work", "Projects"}},
      {"/Work//Projects/", {"Work", "Projects"}},
      {"Tab\there", {"Tab here"}},
      {"///", {"_"}},
      {"\x01", {"_"}},
      {"a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/q/r",
       {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o",
        "p\xE2\x88\x95q\xE2\x88\x95r"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(LabelFolder(c.label), c.folder);
  }
  bool unread = false;
  EXPECT_EQ(LabelFolderPaths("Inbox,unread,Category Social,Work/Projects,INBOX", &unread),
            (Strings{"Inbox", "Unread", "Categories/Social", "Work/Projects"}));
  EXPECT_TRUE(unread);
}

}  // namespace
}  // namespace store::gmail
