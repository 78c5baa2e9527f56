// SPDX-License-Identifier: LGPL-2.1-or-later
// The command line as a user runs it: the real Mailsift program, started
// without DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM, over a Maildir fixture
// and the modules registered into a temporary registry. What it writes is
// compared with what the dialog's commands write, run in this process (the
// dialog's test program, whose main this file shares).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTest>
#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "extractor/testing/mailsift_fixture.h"
#include "platform/store/testing/store_test_util.h"
#include "platform/store/testing/thunderbird_fixture.h"
#include "platform/ui/click_testing.h"

namespace mailsift {
namespace {

namespace fs = std::filesystem;
using testing::MailWithAttachment;
using testing::Tree;

// Longer than any buffer an address might pass through.
const std::string kLongAddress = std::string(588, 'l') + "@example.org";

struct Result {
  int status = -1;
  std::string out, err;
};

class CommandLineTest : public testing::MailsiftTest {
 protected:
  // Inbox with names that repeat, an empty subject, one holding '/' and a
  // long return address; Work > Projects and Home > Projects; two contacts,
  // one without address.
  void MakeStore() {
    Add({},
        {MailWithAttachment("Weekly report", "invoice.pdf", "1"),
         MailWithAttachment("Weekly report", "invoice.pdf", "2"),
         MailWithAttachment("", "invoice.pdf", "3", kLongAddress),
         MailWithAttachment("a/b", "x.txt", "4"), MailWithAttachment("Plan", "plan.txt", "5", "")});
    Add({"Work"}, {MailWithAttachment("W", "w.txt", "w")});
    Add({"Work", "Projects"},
        {MailWithAttachment("P1", "p.txt", "p1"), MailWithAttachment("P2", "p.txt", "p2")});
    Add({"Home", "Projects"}, {MailWithAttachment("H", "h.txt", "h")});
    std::ofstream(out_ + "/book/ann.vcf") << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\n"
                                             "EMAIL:ann@example.org\r\nEND:VCARD\r\n";
    std::ofstream(out_ + "/book/bob.vcf")
        << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bob\r\nEND:VCARD\r\n";
  }
  // Starts Mailsift with `args` in the environment of a user without a
  // display, `extraEnv` entries ("K=V") added or replacing; standard output
  // and error go to files, or standard error to `stderrFd` when given.
  pid_t Start(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {},
              int stderrFd = -1) {
    // The program loads modules: the same sanitizer default as regsvr's.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::vector<std::string> words{"/usr/bin/env",    "-u", "DISPLAY",        "-u",
                                   "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM"};
    words.push_back("ASAN_OPTIONS=" + (asan && *asan ? std::string(asan) + ":" : "") +
                    "intercept_tls_get_addr=0");
    words.insert(words.end(), extraEnv.begin(), extraEnv.end());
    words.push_back(mqtest::BinDir() + "/Mailsift");
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const std::string outFile = out_ + "/stdout", errFile = out_ + "/stderr";
    pid_t pid = fork();
    if (pid == 0) {
      dup2(stdoutFd_ >= 0 ? stdoutFd_ : open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
           1);
      dup2(stderrFd >= 0 ? stderrFd : open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
      execv(argv[0], argv.data());
      _exit(127);
    }
    return pid;
  }
  Result Finish(pid_t pid) {
    Result r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    r.out = mqtest::ReadFile(out_ + "/stdout");
    r.err = mqtest::ReadFile(out_ + "/stderr");
    return r;
  }
  Result Mailsift(const std::vector<std::string>& args,
                  const std::vector<std::string>& extraEnv = {}) {
    return Finish(Start(args, extraEnv));
  }
  // Standard output of the next Start, when not the file Finish reads.
  int stdoutFd_ = -1;
};

// Each command, run twice into directories whose names hold '(' (a second
// run replaces its files), writes what the dialog's command writes, and
// nothing beside its target; a subject holding '/' writes nothing into the
// directory it names. An option that leaves every file in (--set-times) takes
// the options' export, which must write what the dialog's plain command writes.
TEST_F(CommandLineTest, EachCommandWritesWhatTheDialogsCommandWrites) {
  MakeStore();
  using D = CMailsiftDlg;
  struct Case {
    std::vector<std::string> args;  // the target follows
    void (D::*command)();
    int folder, rangeId;
    bool intoFile;
  } cases[] = {
      {{"attachments", "--set-times"}, &D::OnExportAttachments, 0, kIdAllMessages, false},
      {{"attachments", "--folder", "Work/Projects", "--first", "500"},
       &D::OnExportAttachments,
       4,
       kIdFirst500,
       false},
      {{"eml", "--folder", "Inbox", "--set-times"}, &D::OnExportEml, 0, kIdAllMessages, false},
      {{"eml", "--folder-index", "2", "--first", "1000"}, &D::OnExportEml, 2, kIdFirst1000, false},
      {{"return-addresses", "--folder-index", "0"}, &D::OnExportEmailText, 0, kIdAllMessages, true},
      {{"contacts"}, &D::OnExportAddressBook, 0, kIdAllMessages, true},
  };
  std::set<std::string> made = {"book", "stdout", "stderr"};
  int n = 0;
  for (const Case& c : cases) {
    const std::string cli = out_ + "/cli (" + std::to_string(n) + ")";
    const std::string dialog = out_ + "/dialog (" + std::to_string(n++) + ")";
    for (const std::string& dir : {cli, dialog}) {
      made.insert(fs::path(dir).filename());
      fs::create_directory(dir);
      fs::create_directory(dir + "/a");
    }
    // Text exports append: both start from the same line already there.
    const std::string name = c.intoFile ? "/list.txt" : "";
    if (c.intoFile)
      for (const std::string& dir : {cli, dialog}) std::ofstream(dir + name) << "kept\r\n";
    std::vector<std::string> args = c.args;
    args.push_back(cli + name);
    Result r;
    for (int run = 0; run < (c.intoFile ? 1 : 2); ++run) {
      r = Mailsift(args);
      Open();
      Choose(c.folder, c.rangeId);
      Run(c.command, dialog + name, c.intoFile);
    }
    EXPECT_EQ(r.status, c.args[0] == "eml" && c.folder == 0 ? 1 : 0) << c.args[0] << r.err;
    EXPECT_EQ(Tree(cli), Tree(dialog)) << c.args[0];
    EXPECT_EQ(prompts_.messages.back().icon,
              r.status ? ui::UserPrompts::Icon::kWarning : ui::UserPrompts::Icon::kInformation);
    EXPECT_TRUE(fs::is_empty(cli + "/a"));
    EXPECT_GT(Tree(cli).size(), 1u);
  }
  EXPECT_EQ(testing::Entries(out_), made);
  // The files by name and content, so that "the same" is also right.
  EXPECT_EQ(testing::Entries(out_ + "/cli (0)"),
            (std::set<std::string>{"a", "invoice.pdf", "invoice (2).pdf", "invoice (3).pdf",
                                   "x.txt", "plan.txt"}));
  EXPECT_EQ(mqtest::ReadFile(out_ + "/cli (0)/invoice (3).pdf"), "3");
  EXPECT_EQ(mqtest::ReadFile(out_ + "/cli (4)/list.txt"),
            "kept\r\na@example.org\r\na@example.org\r\n" + kLongAddress + "\r\na@example.org\r\n");
  EXPECT_EQ(mqtest::ReadFile(out_ + "/cli (5)/list.txt"), "kept\r\nann@example.org\r\n\r\n");
}

TEST_F(CommandLineTest, SummaryVerboseQuietAndFailures) {
  MakeStore();
  const std::string dir = out_ + "/new";  // made, since it is missing
  Result r = Mailsift({"eml", "--verbose", dir});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, dir + "/Weekly report.eml\n" + dir + "/Weekly report (2).eml\n" + dir +
                       "/.eml\n" + dir + "/Plan.eml\n4 .eml files written into " + dir +
                       ", 1 could not be written (the first: \"a/b.eml\": the subject names "
                       "another directory)\n");
  EXPECT_EQ(r.err, "");  // not a terminal: no progress

  r = Mailsift({"return-addresses", "-q", out_ + "/a.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  r = Mailsift({"eml", "-q", out_ + "/quiet"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("1 could not be written (the first: \"a/b.eml\""), std::string::npos);
}

TEST_F(CommandLineTest, UsageErrorsAndFailuresAnswerTheirStatusAndSayWhy) {
  MakeStore();
  const std::string file = out_ + "/plain";
  std::ofstream(file) << "x";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;  // a part of what standard error says
  } cases[] = {
      {{"attachments"},
       2,
       "mailsift: attachments needs a target: the directory to write into\n"
       "Try 'mailsift --help'.\n"},
      {{"eml", "--folder", "Projekts", out_ + "/e"},
       2,
       "mailsift: no folder 'Projekts'; close matches:\n  2  Home/Projects\n  4  Work/Projects\n"},
      {{"eml", "--folder-index", "5", out_ + "/e"},
       2,
       "no folder at position 5; the positions go from 0 to 4"},
      {{"eml", file}, 2, "'" + file + "' is not a directory"},
      {{"contacts", out_}, 2, "'" + out_ + "' is a directory"},
      {{"attachments", file + "/sub"},
       1,
       "cannot make the directory '" + file + "/sub': not a directory"},
      {{"return-addresses", file + "/x.txt"},
       1,
       "Cannot open \"" + file + "/x.txt\" for appending: not a directory"},
  };
  for (const Case& c : cases) {
    const Result r = Mailsift(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << " " << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  // Nothing was made by the failed runs.
  EXPECT_FALSE(fs::exists(out_ + "/e"));

  Result help = Mailsift({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.starts_with("usage: mailsift attachments|eml")) << help.out;
  Result version = Mailsift({"--version"});
  EXPECT_EQ(version.out, "mailsift 1.0.0.1\n");
}

TEST_F(CommandLineTest, FoldersAreListedAndAMissingControlOrStoreAnswersThree) {
  MakeStore();
  Result r = Mailsift({"folders"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "0  5  Inbox\n"
            "1  0  Home\n"
            "2  1    Projects\n"
            "3  1  Work\n"
            "4  2    Projects\n");
  r = Mailsift({"folders", "--paths"});
  EXPECT_EQ(r.out, "Inbox\nHome\nHome/Projects\nWork\nWork/Projects\n");

  // A store that cannot be opened is named with why, and the code comes last.
  fs::create_directory(out_ + "/empty");
  fs::create_directory(out_ + "/papers");
  std::ofstream(out_ + "/papers/notes.txt") << "not mail";
  const std::string setMaildir =
      "; set MAILDIR to a Maildir, an mbox file or directory, or a Thunderbird profile "
      "(0x80070003)\n";
  for (const auto& [place, why] : {std::pair{"no-such-store", "does not exist"},
                                   {"empty", "is empty"},
                                   {"papers",
                                    "is not a mail store (no Maildir, mbox files or "
                                    "Thunderbird profile in it)"}}) {
    const std::string root = out_ + "/" + place;
    r = Mailsift({"folders"}, {"MAILDIR=" + root});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "mailsift: The mail store at " + root +
                         " ($MAILDIR) could not be opened: it " + why + setMaildir);
  }
  r = Mailsift({"eml", out_ + "/e"}, {"MAILDIR=" + out_ + "/no-such-store"});
  EXPECT_EQ(r.status, 3);
  // With nothing to go on, where the store was looked for.
  r = Mailsift({"folders"},
               {"MAILDIR=", "HOME=" + out_ + "/empty", "XDG_DATA_HOME=" + out_ + "/empty/data"});
  EXPECT_EQ(r.err, "mailsift: No mail store was found: " + out_ +
                       "/empty/Maildir does not exist, and there is neither a Thunderbird "
                       "profile nor the demo store; set MAILDIR to your mail, or run scripts/run, "
                       "which makes a demo store when there is none (0x80070003)\n");

  ASSERT_TRUE(registry_->Regsvr("Mailquarry.ocx", /*unregister=*/true));
  r = Mailsift({"contacts", out_ + "/c.txt"});
  EXPECT_TRUE(registry_->Regsvr("Mailquarry.ocx"));
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err,
            "mailsift: Mailquarry is not registered for this user: run scripts/run in the source "
            "tree, or install the packages (0x80040154)\n");
}

TEST_F(CommandLineTest, NoPlatformPluginIsLoadedAndProgressShowsOnlyOnATerminal) {
  MakeStore();
  const std::string trace = out_ + "/ld";
  Result r = Mailsift({"attachments", out_ + "/a"}, {"LD_DEBUG=libs", "LD_DEBUG_OUTPUT=" + trace});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string loaded;
  for (const auto& e : fs::directory_iterator(out_))
    if (e.path().filename().string().starts_with("ld.")) loaded += mqtest::ReadFile(e.path());
  EXPECT_NE(loaded.find("Mailquarry.ocx"), std::string::npos);  // the trace works
  EXPECT_EQ(loaded.find("platforms/"), std::string::npos);      // where every platform plugin is

  // On a terminal, standard error shows "k of N" and clears it at the end.
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  pid_t pid = Start({"eml", "--folder", "Work/Projects", out_ + "/t"}, {}, terminal);
  close(terminal);
  std::string shown;
  char buffer[512];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
  close(master);
  r = Finish(pid);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(shown.find("\r0 of 2 messages"), std::string::npos) << shown;
  EXPECT_TRUE(shown.ends_with("\r")) << shown;
}

TEST_F(CommandLineTest, StopSignalsEndAfterTheCurrentMessageWithWholeFiles) {
  const int count = 3000;
  std::vector<std::string> mails;
  const std::string content(4000, 'c');
  for (int i = 0; i < count; ++i)
    mails.push_back(MailWithAttachment("M" + std::to_string(i), "f" + std::to_string(i) + ".bin",
                                       content + std::to_string(i)));
  Add({"Big"}, mails);
  for (int signal : {SIGINT, SIGTERM}) {
    const std::string dir = out_ + "/stop" + std::to_string(signal);
    fs::create_directory(dir);
    pid_t pid = Start({"attachments", "--folder", "Big", dir});
    // Stop it once it has written a few files.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::distance(fs::directory_iterator(dir), fs::directory_iterator()) < 21 &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    kill(pid, signal);
    const Result r = Finish(pid);
    EXPECT_EQ(r.status, 130) << r.err;
    std::smatch said;
    ASSERT_TRUE(std::regex_search(r.err, said,
                                  std::regex("mailsift: interrupted after (\\d+) of 3000 messages: "
                                             "(\\d+) attachments written into ")))
        << r.err;
    const int done = std::stoi(said[1]);
    EXPECT_EQ(std::stoi(said[2]), done);
    EXPECT_GE(done, 20);
    EXPECT_LT(done, count);
    // Exactly the attachments of the messages before the stop, each whole,
    // and no staging directory.
    std::map<std::string, std::string> expected;
    for (int i = 0; i < done; ++i)
      expected["f" + std::to_string(i) + ".bin"] = content + std::to_string(i);
    EXPECT_EQ(Tree(dir), expected);
  }
}

// Every way of writing under a write that fails part-way (a file size limit,
// so writes fail with EFBIG after some bytes): status 1, the summary names the
// real reason, and nothing part-written stays (text files as they were; the
// contacts append through the same writer as the return addresses).
TEST_F(CommandLineTest, EveryExportSaysWhatCouldNotBeWrittenAndLeavesNothingPartWritten) {
  MakeStore();
  const std::string big(20000, 'B');
  Add({"Big"},
      {MailWithAttachment("Big", "big.bin", big), MailWithAttachment("Small", "s.txt", "s")});
  // Addresses long enough that the writes fail before the last is buffered.
  std::vector<std::string> longSenders;
  for (char c : std::string("wxyz"))
    longSenders.push_back(
        MailWithAttachment("L", "l.txt", "l", std::string(30000, c) + "@example.org"));
  Add({"Long"}, longSenders);
  const std::string before = std::string(3990, '#') + "\r\n";
  struct Case {
    std::vector<std::string> args;  // the target follows
    std::string target;
    std::string summary;
    std::set<std::string> left;  // the target directory's files afterwards
    bool existed = true;         // a text target held `before`
  } cases[] = {
      {{"attachments", "--folder", "Big"},
       out_ + "/att",
       "1 attachment written into " + out_ +
           "/att, 1 could not be written (the first: an attachment of \"Big\": the file is too "
           "large)\n",
       {"s.txt"}},
      {{"eml", "--folder", "Big"},
       out_ + "/eml",
       "1 .eml file written into " + out_ +
           "/eml, 1 could not be written (the first: \"Big.eml\": the file is too large)\n",
       {"Small.eml"}},
      {{"return-addresses"},
       out_ + "/r.txt",
       "0 addresses appended to " + out_ + "/r.txt, 4 could not be written (the first: \"" + out_ +
           "/r.txt\": the file is too large); the file is as it was before\n",
       {}},
      {{"return-addresses", "--folder", "Long"},
       out_ + "/new.txt",
       "0 addresses appended to " + out_ + "/new.txt, 4 could not be written (the first: \"" +
           out_ + "/new.txt\": the file is too large); the file is as it was before\n",
       {},
       false},
  };
  for (Case& c : cases) {
    const bool text = c.target.ends_with(".txt");
    if (text && c.existed) mqtest::WriteFile(c.target, before);
    c.args.push_back(c.target);
    pid_t pid;
    {
      mqtest::FileSizeLimit limit(4000);
      pid = Start(c.args);
    }
    const Result r = Finish(pid);
    EXPECT_EQ(r.status, 1) << c.args[0] << r.err;
    EXPECT_EQ(r.out, c.summary);
    if (text && !c.existed)
      EXPECT_FALSE(fs::exists(c.target)) << "an export's own file is not left behind";
    else if (text)
      EXPECT_EQ(mqtest::ReadFile(c.target), before);
    else
      EXPECT_EQ(testing::Entries(c.target), c.left) << c.args[0];
  }
}

// Standard output is a file like any other: a full one is an error; a
// reader that went away ends the program quietly, its export cleaned up.
TEST_F(CommandLineTest, StandardOutputFailuresAreSaidAndAGoneReaderEndsQuietly) {
  MakeStore();
  stdoutFd_ = open("/dev/full", O_WRONLY | O_CLOEXEC);
  Result r = Finish(Start({"folders"}));
  close(stdoutFd_);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "mailsift: cannot write the standard output: the disk is full\n");

  // A reader gone: an export writing verbose lines ends as a listing would.
  int pipeFds[2];
  ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
  close(pipeFds[0]);  // the reader is gone before the first line
  stdoutFd_ = pipeFds[1];
  r = Finish(Start({"attachments", "--verbose", out_ + "/v"}));
  close(pipeFds[1]);
  EXPECT_EQ(r.status, 1000 + SIGPIPE);
  EXPECT_EQ(r.err, "");
  stdoutFd_ = -1;
  // The export stopped after its first file, and took its staging directory.
  EXPECT_EQ(Tree(out_ + "/v").size(), 1u);
}

// Offline copies lacking messages their summaries list, one message partial:
// every export, dialog and command line, one folder or all, counts both; the
// report marks the partial row; the profile is only read.
TEST_F(CommandLineTest, WhatIsNotOnThisComputerIsSaidByEveryExport) {
  using store::testing::ThunderbirdFixture;
  ThunderbirdFixture profile;
  auto summary = [](int listed) {
    return "// <!-- <mdb:mork:z v=\"1.4\"/> -->\n< <(a=c)> (9F=ns:msg:db:row:scope:dbfolderinfo:"
           "all)(A1=numMsgs)>\n{1:^9F {(k^A0:c)(s=9)1:m} [1(^A1=" +
           std::to_string(listed) + ")]}\n";
  };
  const std::string imap = "ImapMail/imap.example.com/";
  profile.WriteProfileFile(
      imap + "Offline",
      ThunderbirdFixture::Mbox({MailWithAttachment("whole", "a.pdf", "x"),
                                "From: b@example.org\r\nSubject: headers only\r\n\r\n"},
                               {0x1, 0x401}));
  profile.WriteProfileFile(imap + "Offline.msf", summary(5));
  profile.WriteProfileFile(imap + "Later",
                           ThunderbirdFixture::Mbox({MailWithAttachment("later", "b.pdf", "y")}));
  profile.WriteProfileFile(imap + "Later.msf", summary(3));
  mqtest::ScopedEnv maildir("MAILDIR", profile.profile()), cache("XDG_CACHE_HOME", out_ + "/cache");
  const auto before = store::TreeSnapshot(profile.home(), /*withTimes=*/true);
  const std::string advice =
      " Thunderbird downloads the rest when the account's \"Synchronization & Storage\" settings "
      "keep messages for offline use (or the folder's Properties, \"Synchronization\").";
  const std::string oneFolder =
      "3 messages of this folder are not on this computer: Thunderbird lists 5, its offline "
      "copy holds 2." +
      advice;

  // One folder, without and with options: the same two lines.
  for (const std::string option : {"--first=9", "--set-times"}) {
    const std::string dir = out_ + "/one" + option;
    const Result r = Mailsift({"attachments", "--folder", "jane@example.com/Offline", option, dir});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "1 attachment written into " + dir +
                         "; 1 message was only partly on this computer\n");
    EXPECT_EQ(r.err, "mailsift: " + oneFolder + "\n");
  }
  // Several folders: one line summing them, and the report's rows.
  const std::string all = out_ + "/all", report = out_ + "/report.csv";
  Result r = Mailsift({"attachments", "--all", "--report", report, all});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("; 1 message was only partly on this computer\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.err,
            "mailsift: 5 messages of \"jane@example.com/Later\" and \"jane@example.com/Offline\" "
            "are not on this computer: Thunderbird lists them, the folders' offline copies lack "
            "them." +
                advice + "\n");
  const std::string rows = mqtest::ReadFile(report);
  EXPECT_TRUE(std::regex_search(rows, std::regex("\r\npartial,only part of the message is on "
                                                 "this computer,,jane@example.com/Offline,[^\r]*,"
                                                 "headers only,[^\r]*,yes\r\n")))
      << rows;

  // The dialog, its button clicked through the window: the completion
  // message says both, and is a warning.
  Open();
  dialog_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
  Choose("jane@example.com/Offline");
  prompts_.directories.push_back(QString::fromStdString(NewDir("dialog")));
  ui::testing::Click(dialog_->Item(kIdExportEml));
  EXPECT_EQ(LastMessage(), "Export to eml completed\n2 .eml files written into " + out_ +
                               "/dialog; 1 message was only partly on this computer.\n" +
                               oneFolder);
  EXPECT_EQ(prompts_.messages.back().icon, ui::UserPrompts::Icon::kWarning);
  dialog_.reset();
  EXPECT_EQ(store::TreeSnapshot(profile.home(), true), before);
}

}  // namespace
}  // namespace mailsift
