#include "control/messages_ops/message_ops.h"

#include <gtest/gtest.h>

#include "control/messages_ops/test_fakes.h"
#include "platform/com/bstr.h"
#include "platform/com/dispatch_object.h"

namespace msgops {
namespace {
using namespace msgops::testing;
namespace fs = std::filesystem;

class MessageOpsTest : public ::testing::Test {
 protected:
  MessageOpsTest() {
    records = {{"Hello", "Ann", "Bob", "2006/03/05 14:07:09", "2006/03/05 14:00:00", 120, 11},
               {"Report", "Cy", "Di", "r", "s", 2000, 12},
               {"Hello", "Ed", "Fay", "r2", "s2", 5, 13}};
    shell.home = (tmp.path / "home").string();
    shell.temp = (tmp.path / "temp").string();
    fs::create_directories(*shell.home);
    fs::create_directories(*shell.temp);
  }
  MessageOps Ops() { return MessageOps(snapshot, folder.Get(), shell); }

  std::vector<Record> records;
  decltype(Snapshot(records)) snapshot = Snapshot(records);
  com::ComPtr<FakeFolder> folder = com::MakeObject<FakeFolder>();
  FakeShell shell;
  TempDir tmp;
};

TEST_F(MessageOpsTest, FieldLookupsGiveNeutralValuesOffTheList) {
  auto ops = Ops();
  EXPECT_EQ(ops.Count(), 3);
  EXPECT_EQ(ops.FindSubject(0), "Hello");
  EXPECT_EQ(ops.FindDisplayFrom(2), "Ed");
  EXPECT_EQ(ops.FindDisplayTo(1), "Di");
  EXPECT_EQ(ops.FindReceiveTime(0), "2006/03/05 14:07:09");
  EXPECT_EQ(ops.FindSentDay(0), "2006/03/05 14:00:00");
  EXPECT_EQ(ops.FindSize(1), 2000);
  EXPECT_EQ(ops.FindMessageID(2), 13);
  for (LONG bad : {-1, 3, 1 << 30}) {
    EXPECT_EQ(ops.FindSubject(bad), "");
    EXPECT_EQ(ops.FindSentDay(bad), "");
    EXPECT_EQ(ops.FindSize(bad), 0);
    EXPECT_EQ(ops.FindMessageID(bad), 0);
    EXPECT_EQ(ops.GetMessage(bad), "");
    EXPECT_EQ(ops.DeleteMessage(bad), VARIANT_FALSE);
    EXPECT_EQ(ops.IsMessagesMarkAsRead(bad), VARIANT_FALSE);
  }
  EXPECT_EQ(folder->storeCalls, 0);

  EXPECT_EQ(ops.FindIndexFromSubject("Report"), 1);
  EXPECT_EQ(ops.FindIndexFromSubject("Hello"), 0);
  EXPECT_EQ(ops.FindIndexFromSubject("hello"), 0);  // no match also answers 0
  std::vector<Record> many(40000);
  auto big = Snapshot(many);
  EXPECT_EQ(MessageOps(big, nullptr, shell).Count(), -25536);
}

TEST_F(MessageOpsTest, HeaderLookupsReadTheStoredText) {
  folder->messages[11].bytes =
      "Delivered-To: me@x.org\r\nReceived: by mx\r\nReturn-Path: <b@x.org>\r\n\r\nbody";
  auto ops = Ops();
  EXPECT_EQ(ops.FindReturnEmail(0), "b@x.org");
  EXPECT_EQ(ops.FindDeliveredToEmail(0), "me@x.org\r\n");
  EXPECT_EQ(ops.FindReturnEmail(1), "");  // the store has no message 12
  EXPECT_EQ(MessageOps(snapshot, nullptr, shell).GetMessage(0), "");
}

TEST_F(MessageOpsTest, ReadProbeRestoresTheState) {
  folder->messages[11].read = false;
  folder->messages[12].read = true;
  auto ops = Ops();
  EXPECT_EQ(ops.IsMessagesMarkAsRead(0), VARIANT_FALSE);
  EXPECT_FALSE(folder->messages[11].read);
  EXPECT_EQ(folder->markCalls, (std::vector<BOOL>{TRUE, FALSE}));
  folder->markCalls.clear();
  EXPECT_EQ(ops.IsMessagesMarkAsRead(1), VARIANT_TRUE);
  EXPECT_TRUE(folder->messages[12].read);
  EXPECT_EQ(folder->markCalls, (std::vector<BOOL>{TRUE}));
  // A store refusal is not a read message.
  EXPECT_EQ(ops.IsMessagesMarkAsRead(2), VARIANT_FALSE);
  EXPECT_EQ(MessageOps(snapshot, nullptr, shell).IsMessagesMarkAsRead(0), VARIANT_FALSE);
}

TEST_F(MessageOpsTest, DeleteLeavesTheListAlone) {
  folder->messages[12].bytes = "x";
  auto ops = Ops();
  EXPECT_EQ(ops.DeleteMessage(1), VARIANT_TRUE);
  EXPECT_EQ(folder->messages.count(12), 0u);
  EXPECT_EQ(ops.FindSubject(1), "Report");
  EXPECT_EQ(ops.DeleteMessage(1), VARIANT_FALSE);
}

TEST_F(MessageOpsTest, Save2emlWritesEveryByteAndTruncates) {
  std::string bytes(30000, 'm');
  bytes[5] = '\0';
  bytes[20000] = '\0';
  folder->messages[11].bytes = bytes;
  const fs::path out = tmp.path / "Hello";  // no extension is added
  WriteFile(out, std::string(50000, 'z'));
  EXPECT_EQ(Ops().Save2eml(0, out.string()), VARIANT_TRUE);
  EXPECT_EQ(ReadFile(out), bytes);
  EXPECT_EQ(folder->lastStream->asked, (std::vector<ULONG>{14095, 14095, 14095, 14095}));
  // The raw text, unlike the file, loses the rest of each chunk after a NUL.
  EXPECT_EQ(Ops().GetMessage(0).size(), 30000u - (4095 - 5) - (5 * 4095 - 20000));
}

TEST_F(MessageOpsTest, Save2emlFailures) {
  folder->messages[11].bytes = std::string(40000, 'a');
  const fs::path out = tmp.path / "m.eml";
  // A failed read keeps what was written and answers FALSE.
  folder->failAt = 2;
  EXPECT_EQ(Ops().Save2eml(0, out.string()), VARIANT_FALSE);
  EXPECT_EQ(ReadFile(out), std::string(2 * 14095, 'a'));
  folder->failAt = -1;
  // A message that cannot be opened leaves an existing file alone.
  WriteFile(out, "keep");
  EXPECT_EQ(Ops().Save2eml(1, out.string()), VARIANT_FALSE);
  EXPECT_EQ(ReadFile(out), "keep");
  EXPECT_EQ(Ops().Save2eml(5, (tmp.path / "none").string()), VARIANT_FALSE);
  EXPECT_FALSE(fs::exists(tmp.path / "none"));
  // File errors: no directory, a directory, a symbolic link.
  EXPECT_EQ(Ops().Save2eml(0, (tmp.path / "no" / "m.eml").string()), VARIANT_FALSE);
  EXPECT_EQ(Ops().Save2eml(0, tmp.path.string()), VARIANT_FALSE);
  EXPECT_EQ(Ops().Save2eml(0, ""), VARIANT_FALSE);
  fs::create_symlink(out, tmp.path / "link.eml");
  EXPECT_EQ(Ops().Save2eml(0, (tmp.path / "link.eml").string()), VARIANT_FALSE);
  EXPECT_EQ(ReadFile(out), "keep");
}

class AttachmentTest : public MessageOpsTest {
 protected:
  fs::path Dir() {
    fs::path dir = tmp.path / "out";
    fs::create_directories(dir);
    return dir;
  }
  std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(AttachmentTest, NoAttachments) {
  folder->messages[11].parts = {{"body.txt", "text", false}};
  auto ops = Ops();
  const fs::path dir = Dir();
  EXPECT_EQ(ops.ExtractAttachment(0, dir.string() + "/"), VARIANT_TRUE);
  EXPECT_TRUE(Listing(dir).empty());
  EXPECT_EQ(ops.GetAttachmentCount(0), 0);
  EXPECT_EQ(ops.GetAttachmentName(0, 0), "");
  // An unopenable message has none either; a missing record is FALSE.
  EXPECT_EQ(ops.ExtractAttachment(1, dir.string() + "/"), VARIANT_TRUE);
  EXPECT_EQ(ops.ExtractAttachment(3, dir.string() + "/"), VARIANT_FALSE);
  EXPECT_EQ(ops.MarkMessagesAsRead(-1, VARIANT_TRUE), VARIANT_FALSE);
  EXPECT_EQ(MessageOps(snapshot, nullptr, shell).ExtractAttachment(0, "d/"), VARIANT_FALSE);
  EXPECT_EQ(ops.GetAttachmentCount(3), 0);
}

TEST_F(AttachmentTest, WalkOrderNamesAndCounts) {
  folder->messages[11].parts = {{"a.txt", "first"},
                                {"inline", "x", false},
                                {"broken.bin", "x", true, true},
                                {"a.txt", "second"},
                                {"Scan (2).pdf", "pdf"}};
  auto ops = Ops();
  const fs::path dir = Dir();
  EXPECT_EQ(ops.GetAttachmentCount(0), 3);  // the one that fails to bind is not counted
  EXPECT_EQ(ops.GetAttachmentName(0, 0), "a.txt");
  EXPECT_EQ(ops.GetAttachmentName(0, 1), "");  // fails to bind, still holds position 1
  EXPECT_EQ(ops.GetAttachmentName(0, 3), "Scan (2).pdf");
  EXPECT_EQ(ops.GetAttachmentName(0, 4), "");
  EXPECT_EQ(ops.GetAttachmentName(0, -1), "");

  FakeBody::saved.clear();
  EXPECT_EQ(ops.ExtractAttachment(0, dir.string() + "/"), VARIANT_TRUE);
  EXPECT_EQ(FakeBody::saved,
            (std::vector<std::string>{(dir / "a.txt").string(), (dir / "a.txt").string(),
                                      (dir / "Scan (2).pdf").string()}));
  EXPECT_EQ(ReadFile(dir / "a.txt"), "second");
  EXPECT_EQ(ReadFile(dir / "Scan (2).pdf"), "pdf");

  // Without a separator the files land beside the directory, prefixed.
  EXPECT_EQ(ops.ExtractAttachment(0, dir.string()), VARIANT_TRUE);
  EXPECT_EQ(ReadFile(tmp.path / "outa.txt"), "second");
  EXPECT_TRUE(fs::exists(tmp.path / "outScan (2).pdf"));
}

TEST_F(AttachmentTest, EmptyDirectoryAndMarkAsReadWriteIntoHome) {
  folder->messages[11].parts = {{"a.txt", "A"}};
  auto ops = Ops();
  EXPECT_EQ(ops.ExtractAttachment(0, ""), VARIANT_TRUE);
  EXPECT_EQ(ReadFile(fs::path(*shell.home) / "a.txt"), "A");
  fs::remove(fs::path(*shell.home) / "a.txt");
  EXPECT_EQ(ops.MarkMessagesAsRead(0, VARIANT_FALSE), VARIANT_TRUE);
  EXPECT_EQ(ReadFile(fs::path(*shell.home) / "a.txt"), "A");

  // The real desktop takes $HOME.
  const char* saved = getenv("HOME");
  std::string previous = saved ? saved : "";
  setenv("HOME", (tmp.path / "realhome").c_str(), 1);
  fs::create_directories(tmp.path / "realhome");
  EXPECT_EQ(MessageOps(snapshot, folder.Get()).ExtractAttachment(0, ""), VARIANT_TRUE);
  if (saved) setenv("HOME", previous.c_str(), 1);
  EXPECT_EQ(ReadFile(tmp.path / "realhome" / "a.txt"), "A");
}

TEST_F(AttachmentTest, HostileNamesNeverLeaveTheDirectory) {
  folder->messages[11].parts = {{"../../x", "1"}, {"/etc/passwd", "2"}, {"a\\b", "3"},
                                {"..", "4"},      {".", "5"},           {"(all)", "6"},
                                {"..(x)", "7"},   {"tab\tnl\n", "8"},   {"ok", "9"}};
  const fs::path dir = Dir() / "in (box)";
  fs::create_directories(dir);
  FakeBody::saved.clear();
  EXPECT_EQ(Ops().ExtractAttachment(0, dir.string() + "/"), VARIANT_TRUE);
  EXPECT_EQ(Listing(dir), (std::vector<std::string>{"(all)", "..(x)", "a\\b", "ok", "tab\tnl\n"}));
  EXPECT_EQ(FakeBody::saved.size(), 5u);
  EXPECT_EQ(Listing(tmp.path / "out"), (std::vector<std::string>{"in (box)"}));
  EXPECT_EQ(AttachmentPath("d/", "n (1).txt"), "d/n (1).txt");
}

TEST_F(MessageOpsTest, ViewMessageWritesATempFileAndOpensIt) {
  std::string bytes(9000, 'v');
  bytes[100] = '\0';
  folder->messages[11].bytes = bytes;
  fs::path written;
  {
    LastTempFile last;
    EXPECT_EQ(Ops().ViewMessage(0, last), VARIANT_TRUE);
    ASSERT_EQ(shell.opened.size(), 1u);
    written = shell.opened[0];
    EXPECT_EQ(last.Path(), written.string());
    EXPECT_EQ(written.parent_path(), fs::path(*shell.temp));
    const int n = std::stoi(written.stem().string());
    EXPECT_TRUE(n >= 0 && n < 1000);
    EXPECT_EQ(written.extension(), ".eml");
    EXPECT_EQ(ReadFile(written), bytes);
    EXPECT_EQ(folder->lastStream->asked, (std::vector<ULONG>{4095, 4095, 4095, 4095}));

    EXPECT_EQ(Ops().ViewMessage(3, last), VARIANT_FALSE);  // no record
    EXPECT_EQ(Ops().ViewMessage(1, last), VARIANT_FALSE);  // cannot be opened
    EXPECT_EQ(last.Path(), written.string());
    EXPECT_EQ(shell.opened.size(), 1u);
  }
  EXPECT_FALSE(fs::exists(written));  // the last file goes with the collection
}

TEST_F(MessageOpsTest, ViewMessageFailures) {
  folder->messages[11].bytes = "text";
  LastTempFile last;
  shell.temp = std::nullopt;
  EXPECT_EQ(Ops().ViewMessage(0, last), VARIANT_FALSE);
  shell.temp = (tmp.path / "missing").string();
  EXPECT_THROW(Ops().ViewMessage(0, last), com::AutomationError);
  shell.temp = (tmp.path / "ro").string();
  fs::create_directories(*shell.temp);
  fs::permissions(*shell.temp, fs::perms::owner_read | fs::perms::owner_exec);
  if (access(shell.temp->c_str(), W_OK) != 0) {  // root writes anyway
    EXPECT_THROW(Ops().ViewMessage(0, last), com::AutomationError);
  }
  EXPECT_TRUE(shell.opened.empty());
  shell.temp = (tmp.path / "temp").string();
  folder->failAt = 0;
  EXPECT_EQ(Ops().ViewMessage(0, last), VARIANT_FALSE);
  EXPECT_TRUE(fs::exists(last.Path()));  // a failed read leaves the file
  EXPECT_TRUE(shell.opened.empty());
}

}  // namespace
}  // namespace msgops
