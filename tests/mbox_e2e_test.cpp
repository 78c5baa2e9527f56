// The control over an mbox store, as a client meets it: every message member
// reads the unquoted text from the file, and every member that would change
// the store answers failure and leaves every file as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "tests/support/hosted_control.h"

namespace {

namespace fs = std::filesystem;
using mqtest::Call;
using mqtest::Get;
using mqtest::Put;
using mqtest::ReadFile;

const std::string kEnvelope = "From ann@example.org Tue Feb  3 04:05:06 2009\n";

const std::string kFiles =
    "From: Ann <ann@example.org>\nTo: Bob <bob@example.org>\nSubject: Files\n"
    "Date: Sat, 3 Feb 2001 04:05:06 +0000\nMIME-Version: 1.0\n"
    "X-Mozilla-Status: 0000\n"
    "Content-Type: multipart/mixed; boundary=\"b\"\n\n"
    "--b\nContent-Type: text/plain\n\nSee the files.\n"
    "--b\nContent-Type: application/octet-stream\n"
    "Content-Disposition: attachment; filename=\"one.txt\"\n\nline\nFrom x\n"
    "--b\nContent-Type: application/octet-stream\n"
    "Content-Disposition: attachment; filename=\"same.txt\"\n\nfirst\n"
    "--b\nContent-Type: application/octet-stream\n"
    "Content-Disposition: attachment; filename=\"same.txt\"\n\nsecond\n--b--\n";

// The text as stored: mboxrd quoting on every line that reads ">*From ".
std::string Quoted(const std::string& text) {
  std::string out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::size_t q = line.find_first_not_of('>');
    if (q != std::string::npos && line.compare(q, 5, "From ") == 0) out += '>';
    out += line + "\n";
  }
  return out;
}

class MboxE2E : public mqtest::HostedControlTest {
 protected:
  void SetUp() override {
    HostedControlTest::SetUp();
    fs::create_directories(base_ + "/mail/Inbox.sbd");
  }
  std::map<std::string, std::string> Tree() const {
    std::map<std::string, std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(base_ + "/mail"))
      all[e.path().string()] = e.is_regular_file() ? ReadFile(e.path().string()) : "<dir>";
    return all;
  }

  mqtest::TempDir dir_;
  const std::string base_ = dir_.path();
  mqtest::ScopedEnv cache_{"XDG_CACHE_HOME", base_ + "/cache"}, home_{"HOME", base_};
};

TEST_F(MboxE2E, MessageMembersReadTheTextAndWritesChangeNothing) {
  const std::string plain =
      "Return-Path: <bounce@example.org>\nFrom: Cy <cy@example.org>\nTo: Bob <bob@example.org>\n"
      "Subject: Plain\nDate: Sun, 4 Feb 2001 04:05:06 +0000\nStatus: RO\n\n"
      "From the start\n>From quoted\n\nFrom here on, text.\n";
  const std::string deleted = "From: a@example.org\nSubject: Gone\nX-Mozilla-Status: 0009\n\nbye\n";
  mqtest::WriteFile(base_ + "/mail/Inbox", kEnvelope + Quoted(kFiles) + "\n" + kEnvelope +
                                               Quoted(deleted) + "\n" + kEnvelope + Quoted(plain) +
                                               "\n");
  mqtest::WriteFile(base_ + "/mail/Inbox.sbd/Sub", kEnvelope + Quoted(plain));
  const auto before = Tree();

  mqtest::ScopedEnv maildir("MAILDIR", base_ + "/mail");
  Start();
  ASSERT_EQ(Get(folders_, "Count").Long(), 2);
  EXPECT_EQ(Call(folders_, "FindFolderName", SHORT{0}).Str(), "Inbox");
  EXPECT_EQ(Call(folders_, "FindFolderName", SHORT{1}).Str(), "Sub");
  ASSERT_EQ(Put(control_, "Folder", SHORT{0}).hr, S_OK);
  ASSERT_EQ(Get(messages_, "Count").Long(), 2);  // the deleted one is not listed

  // The summaries are the store's tests'; here the text and the files.
  EXPECT_EQ(Call(messages_, "GetMessage", 1).Str(), plain);
  EXPECT_EQ(Call(messages_, "FindReturnEmail", 1).Str(), "bounce@example.org");
  const std::string eml = base_ + "/plain.eml";
  EXPECT_EQ(Call(messages_, "Save2eml", 1, eml).Bool(), true);
  EXPECT_EQ(ReadFile(eml), plain);
  EXPECT_EQ(Call(messages_, "Save2eml", 0, eml).Bool(), true);
  EXPECT_EQ(ReadFile(eml), kFiles);

  EXPECT_EQ(Call(messages_, "GetAttachmentCount", 0).Long(), 3);
  EXPECT_EQ(Call(messages_, "GetAttachmentName", 0, 2).Str(), "same.txt");
  fs::create_directory(base_ + "/out");
  EXPECT_EQ(Call(messages_, "ExtractAttachment", 0, base_ + "/out/").Bool(), true);
  EXPECT_EQ(ReadFile(base_ + "/out/one.txt"), "line\nFrom x");
  EXPECT_EQ(ReadFile(base_ + "/out/same.txt"), "second");

  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(Call(messages_, "IsMessagesMarkAsRead", 0).Bool(), false);
    EXPECT_EQ(Call(messages_, "IsMessagesMarkAsRead", 1).Bool(), true);
  }
  const LONG first = Call(messages_, "FindMessageID", 0).Long();
  const LONG inbox = Call(folders_, "FindFolderID", SHORT{0}).Long();
  const LONG sub = Call(folders_, "FindFolderID", SHORT{1}).Long();
  for (auto refused :
       {Call(messages_, "DeleteMessage", 0), Call(folders_, "CreateFolder", "New", 0),
        Call(folders_, "CreateFolder", "New", inbox), Call(folders_, "RenameFolder", "Other", sub),
        Call(folders_, "MoveFolder", sub, 0), Call(folders_, "DeleteFolder", sub),
        Call(folders_, "CompactAll", 0), Call(folders_, "CopyMessage", first, sub),
        Call(folders_, "MoveMessage", first, sub),
        Call(folders_, "CreateMessage", SHORT{0}, "w", "x", "y", "z")})
    EXPECT_EQ(refused.Bool(), false);
  EXPECT_EQ(Tree(), before);
  EXPECT_EQ(Call(messages_, "Refresh").hr, S_OK);
  EXPECT_EQ(Get(messages_, "Count").Long(), 2);
}

}  // namespace
