// SPDX-License-Identifier: LGPL-2.1-or-later
// The message collection's members as a client meets them: the control and
// the store registered into a temporary registry, the control hosted headless
// over Maildir fixtures, every call by name through IDispatch. This program
// does not link the control; the real store and MIME layer answer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <tuple>

#include "tests/support/hosted_control.h"

namespace {

namespace fs = std::filesystem;
using mqtest::Call;
using mqtest::Get;
using mqtest::Put;
using mqtest::ReadFile;
using mqtest::ScopedEnv;
using mqtest::TempDir;
using mqtest::WriteFile;
using store::testing::MaildirFixture;

constexpr std::int64_t kDelivered = 1167707045;  // 2007-01-02 03:04:05 UTC

// `parameter` is the file name parameter as it stands in the header.
std::string RawAttachment(const std::string& parameter, const std::string& content) {
  return "--b\r\nContent-Type: application/octet-stream\r\n"
         "Content-Disposition: attachment; " +
         parameter + "\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + content + "\r\n";
}

std::string Attachment(const std::string& name, const std::string& content) {
  return RawAttachment("filename=\"" + name + "\"", content);
}

std::string MultipartMail(const std::string& subject, const std::string& parts) {
  return "From: a@example.org\r\nTo: b@example.org\r\nSubject: " + subject +
         "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
         "--b\r\nContent-Type: text/plain\r\n\r\nSee the files.\r\n" +
         parts + "--b--\r\n";
}

class MessagesE2E : public mqtest::HostedControlTest {
 protected:
  // Adds messages to folder "F" in list order.
  void Add(const std::string& bytes, const std::string& flags = "") {
    fixture_.AddMessage({"F"}, bytes, {flags, kDelivered + 60 * added_++, false});
  }

  // Hosts the control and selects folder "F" (position 1: Inbox is 0).
  com::ComPtr<IDispatch> Open() {
    Start();
    EXPECT_EQ(Put(control_, "Folder", SHORT{1}).hr, S_OK);
    return messages_;
  }

  int added_ = 0;
};

TEST_F(MessagesE2E, LookupsAnswerAtEveryPositionAndItemAgrees) {
  Add("Return-Path: <bounce@example.org>\r\nDelivered-To: me@example.org\r\n"
      "Received: by mx\r\nFrom: Ann <ann@example.org>\r\nTo: Bob <bob@example.org>\r\n"
      "Subject: Report\r\nDate: Sat, 3 Feb 2001 04:05:06 +0000\r\n\r\nFirst.\r\n");
  Add(MaildirFixture::Message("c@example.org", "d@example.org", "Middle"));
  const std::string last = MaildirFixture::Message("e@example.org", "Fay <f@example.org>", "Last");
  Add(last);
  auto messages = Open();
  ASSERT_EQ(Get(messages, "Count").Long(), 3);

  // Each member, and where there is one the property of the same record.
  const std::tuple<const char*, const char*, LONG, std::string> cases[] = {
      {"FindSubject", "Subject", 0, "Report"},
      {"FindDisplayFrom", "DisplayFrom", 0, "Ann"},
      {"FindDisplayTo", "DisplayTo", 2, "Fay"},
      {"FindReceiveTime", "ReceiveTime", 0, "2007/01/02 03:04:05"},
      {"FindSentDay", "SentTime", 0, "2001/02/03 04:05:06"},
      {"FindSize", "Size", 2, std::to_string(last.size())},
      {"GetMessage", nullptr, 2, last},
      {"FindReturnEmail", nullptr, 0, "bounce@example.org"},
      {"FindReturnEmail", nullptr, 2, "f@example.org"},  // from "To:"
      {"FindDeliveredToEmail", nullptr, 0, "me@example.org\r\n"}};
  for (const auto& [member, property, position, value] : cases) {
    EXPECT_EQ(Call(messages, member, position).Str(), value) << member;
    if (property) {
      EXPECT_EQ(Get(Get(messages, "Item", position + 1).Object(), property).Str(), value);
    }
    if (std::string(member) == "FindSize") continue;
    for (LONG bad : {-1, 3}) {  // outside the list: an empty text, not another type
      auto r = Call(messages, member, bad);
      EXPECT_EQ(r.value.vt, VT_BSTR) << member;
      EXPECT_EQ(r.Str(), "") << member << " " << bad;
    }
  }
  EXPECT_NE(Call(messages, "FindMessageID", 0).Long(), Call(messages, "FindMessageID", 2).Long());
  for (const char* number : {"FindSize", "FindMessageID"})
    for (LONG bad : {-1, 3}) EXPECT_EQ(Call(messages, number, bad).Long(), 0) << number;

  // Item counts from 1; a text is a subject matched exactly, never a position.
  com::Variant two;
  two.vt = VT_R8;
  two.dblVal = 2.0;
  EXPECT_EQ(Get(Get(messages, "Item", two).Object(), "Subject").Str(), "Middle");
  EXPECT_EQ(Get(Get(messages, "Item", "Middle").Object(), "Subject").Str(), "Middle");
  for (auto key : {mqtest::Arg(0), mqtest::Arg(4), mqtest::Arg("middle"), mqtest::Arg("Middl"),
                   mqtest::Arg("2"), com::Variant::Unknown(nullptr)})
    EXPECT_FALSE(mqtest::Invoke(messages.Get(), "Item", DISPATCH_PROPERTYGET, {key}).Object());
  EXPECT_EQ(Call(messages, "FindIndexFromSubject", "Last").Long(), 2);
  EXPECT_EQ(Call(messages, "FindIndexFromSubject", "last").Long(), 0);
  EXPECT_EQ(Call(messages, "FindIndexFromSubject", "nothing").Long(), 0);
}

TEST_F(MessagesE2E, ReadStateProbeLeavesTheFlagsAndDeleteLeavesTheListAlone) {
  Add(MaildirFixture::Message("a@example.org", "b@example.org", "One"), "");
  Add(MaildirFixture::Message("a@example.org", "b@example.org", "Two"), "FS");
  const auto before = fixture_.Files({"F"});
  auto messages = Open();
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(Call(messages, "IsMessagesMarkAsRead", 0).Bool(), false);
    EXPECT_EQ(Call(messages, "IsMessagesMarkAsRead", 1).Bool(), true);
    EXPECT_EQ(fixture_.Files({"F"}), before);  // same names, so the same flags
  }
  EXPECT_EQ(Call(messages, "IsMessagesMarkAsRead", 2).Bool(), false);

  EXPECT_EQ(Call(messages, "DeleteMessage", 5).Bool(), false);
  EXPECT_EQ(Call(messages, "DeleteMessage", 0).Bool(), true);
  EXPECT_EQ(fixture_.Files({"F"}).size(), 1u);
  EXPECT_EQ(Get(messages, "Count").Long(), 2);  // until the list is read again
  Add(MaildirFixture::Message("a@example.org", "b@example.org", "Three"));
  EXPECT_EQ(Call(messages, "Refresh").hr, S_OK);
  ASSERT_EQ(Get(messages, "Count").Long(), 2);
  EXPECT_EQ(Call(messages, "FindSubject", 0).Str(), "Two");
  EXPECT_EQ(Call(messages, "FindSubject", 1).Str(), "Three");
}

// The text GetMessage reads stops at a NUL byte (the raw text tests show
// it); the saved file does not. Links and other files at the path are the
// shell's writer's test.
TEST_F(MessagesE2E, NulByteDoesNotCutTheSavedFile) {
  std::string mail =
      MaildirFixture::Message("a@example.org", "b@example.org", "Nul", std::string(6000, 'x'));
  mail[200] = '\0';
  Add(mail);
  auto messages = Open();

  TempDir out;
  const std::string file = out / "saved.eml";
  WriteFile(file, std::string(20000, '#'));  // longer than the message: truncated
  EXPECT_EQ(Call(messages, "Save2eml", 0, file).Bool(), true);
  EXPECT_EQ(ReadFile(file), mail);
  EXPECT_EQ(Call(messages, "Save2eml", 0, out / "no/such/dir.eml").Bool(), false);
  EXPECT_EQ(Call(messages, "Save2eml", 1, out / "past.eml").Bool(), false);
  EXPECT_FALSE(fs::exists(out / "past.eml"));

  // A message gone from the disk leaves an existing file as it was.
  for (const auto& path : fixture_.Files({"F"})) fs::remove(path);
  EXPECT_EQ(Call(messages, "Save2eml", 0, file).Bool(), false);
  EXPECT_EQ(ReadFile(file), mail);
  EXPECT_EQ(Call(messages, "GetMessage", 0).Str(), "");
}

TEST_F(MessagesE2E, AttachmentsLandInTheNamedDirectoryOnly) {
  Add(MultipartMail(
      "Files", Attachment("../../x", "dots") + Attachment("/etc/passwd", "root") +
                   RawAttachment("filename*=''a%5Cb", "back") +
                   Attachment("ctl\x01\x1b.txt", "ctl") + Attachment("report (1).txt", "whole") +
                   Attachment("same.txt", "first") + Attachment("same.txt", "second")));
  Add(MaildirFixture::Message("a@example.org", "b@example.org", "Plain"));
  TempDir root, home;
  ScopedEnv env("HOME", home.path());
  const std::string out = root / "out";
  fs::create_directory(out);
  WriteFile(out + "/x", std::string(100, '#'));  // longer: no stale bytes may remain
  auto messages = Open();
  const std::set<std::string> names = {"x", "passwd", "b", "ctl.txt", "report (1).txt", "same.txt"};

  EXPECT_EQ(Call(messages, "GetAttachmentCount", 0).Long(), 7);
  EXPECT_EQ(Call(messages, "GetAttachmentName", 0, 0).Str(), "x");
  EXPECT_EQ(Call(messages, "GetAttachmentName", 0, 4).Str(), "report (1).txt");
  for (LONG bad : {-1, 7}) EXPECT_EQ(Call(messages, "GetAttachmentName", 0, bad).Str(), "");

  EXPECT_EQ(Call(messages, "ExtractAttachment", 0, out + "/").Bool(), true);
  EXPECT_EQ(FilesBelow(out), names);
  EXPECT_EQ(FilesBelow(root.path()).size(), names.size());
  EXPECT_EQ(ReadFile(out + "/x"), "dots");
  EXPECT_EQ(ReadFile(out + "/same.txt"), "second");
  EXPECT_EQ(ReadFile(out + "/report (1).txt"), "whole");

  // The names are joined straight to the text given: without a trailing
  // separator the files land beside the directory, prefixed with its name.
  EXPECT_EQ(Call(messages, "ExtractAttachment", 0, out).Bool(), true);
  EXPECT_EQ(ReadFile(out + "passwd"), "root");
  EXPECT_EQ(ReadFile(out + "report (1).txt"), "whole");
  for (const auto& name : names) fs::remove(out + name);

  // A message without attachments: TRUE, nothing written.
  const auto files = FilesBelow(root.path());
  EXPECT_EQ(Call(messages, "ExtractAttachment", 1, out + "/").Bool(), true);
  EXPECT_EQ(Call(messages, "GetAttachmentCount", 1).Long(), 0);
  EXPECT_EQ(Call(messages, "GetAttachmentName", 1, 0).Str(), "");
  EXPECT_EQ(FilesBelow(root.path()), files);
  EXPECT_EQ(Call(messages, "ExtractAttachment", 2, out + "/").Bool(), false);

  // An empty directory, and MarkMessagesAsRead whatever its flag, write into
  // home; despite its name no flag changes.
  const auto flags = fixture_.Files({"F"});
  EXPECT_EQ(Call(messages, "ExtractAttachment", 0, "").Bool(), true);
  EXPECT_EQ(FilesBelow(home.path()), names);
  for (bool read : {true, false}) {
    fs::remove(home / "same.txt");
    EXPECT_EQ(Call(messages, "MarkMessagesAsRead", 0, read).Bool(), true);
    EXPECT_EQ(ReadFile(home / "same.txt"), "second");
  }
  EXPECT_EQ(fixture_.Files({"F"}), flags);

  // A part that cannot be written (a directory in its place) makes the answer
  // FALSE; the others are still written.
  fs::remove(home / "x");
  fs::create_directory(home / "x");
  fs::remove(home / "same.txt");
  EXPECT_EQ(Call(messages, "ExtractAttachment", 0, "").Bool(), false);
  EXPECT_EQ(ReadFile(home / "same.txt"), "second");
}

TEST_F(MessagesE2E, ViewMessageWritesAPrivateFileAndOpensIt) {
  const std::string mail = MultipartMail("View", Attachment("a.bin", std::string(9000, 'v')));
  Add(mail);
  TempDir dirs;
  const std::string temp = dirs / "tmp", record = dirs / "args";
  fs::create_directory(temp);
  // An xdg-open that records its arguments.
  fs::create_directory(dirs / "bin");
  WriteFile(dirs / "bin/xdg-open", "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > '" + record +
                                       ".part' && mv '" + record + ".part' '" + record + "'\n");
  fs::permissions(dirs / "bin/xdg-open", fs::perms::owner_all);
  ScopedEnv path("PATH", dirs / "bin" + ":" + std::getenv("PATH"));

  auto messages = Open();
  {  // A temporary directory that cannot be written: an automation error.
    ScopedEnv tmpdir("TMPDIR", dirs / "missing");
    auto failed = Call(messages, "ViewMessage", 0);
    EXPECT_EQ(failed.hr, DISP_E_EXCEPTION);
    EXPECT_NE(failed.scode, S_OK);
    EXPECT_FALSE(failed.description.empty());
  }
  ScopedEnv tmpdir("TMPDIR", temp);
  EXPECT_EQ(Call(messages, "ViewMessage", 1).Bool(), false);
  EXPECT_EQ(Call(messages, "ViewMessage", 0).Bool(), true);
  const auto files = FilesBelow(temp);
  ASSERT_EQ(files.size(), 1u);
  const std::string viewed = temp + "/" + *files.begin();
  EXPECT_TRUE(std::regex_match(*files.begin(), std::regex("[0-9]{1,3}\\.eml")));
  EXPECT_EQ(ReadFile(viewed), mail);
  for (int i = 0; i < 100 && !fs::exists(record); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(ReadFile(record), "1|" + viewed + "|");
  control_.Reset();
  host_.reset();
  // The window is gone, the collection still held: the last file is gone.
  EXPECT_FALSE(fs::exists(viewed));
  EXPECT_EQ(Call(messages, "ViewMessage", 0).Bool(), false);
}

// Many tiny files, written straight into cur/ without the fixture's per-file
// bookkeeping, so that the store's listing is what takes the time.
TEST_F(MessagesE2E, FortyThousandMessagesCountAsTheLow16Bits) {
  const std::string cur = fixture_.AddFolder({"F"}) + "/cur/";
  const std::string mail = "Subject: s\r\n\r\n.\r\n";
  for (int i = 0; i < 40000; ++i) {
    const std::string name = cur + "1167707045.M" + std::to_string(i) + "P1.big:2,S";
    std::ofstream(name, std::ios::binary) << mail;
  }
  auto messages = Open();
  EXPECT_EQ(Get(messages, "Count").Long(), -25536);
  EXPECT_EQ(Call(messages, "FindSubject", 39999).Str(), "s");
  EXPECT_EQ(Call(messages, "FindSubject", 40000).Str(), "");
}

}  // namespace
