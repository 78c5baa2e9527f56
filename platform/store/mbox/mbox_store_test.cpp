// SPDX-License-Identifier: LGPL-2.1-or-later
// The store over mbox files, through IStoreNamespace and IStoreFolder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/store/mbox/layout.h"
#include "platform/store/testing/store_test_util.h"

namespace store {
namespace {

namespace fs = std::filesystem;
using com::ComPtr;

const std::string kTb = "From - Mon Jan 01 00:00:00 2001\n";
const std::string kTakeout = "From 1545668983435175434@xxx Fri Sep 16 22:26:51 +0000 2016\n";

std::string Mail(const std::string& subject, const std::string& extra = "",
                 const std::string& body = "Hello.\n") {
  return "From: Ann <ann@example.org>\nTo: Bob <bob@example.org>\nSubject: " + subject +
         "\nDate: Sat, 3 Feb 2001 04:05:06 +0000\nMessage-ID: <" + subject + "@example.org>\n" +
         extra + "\n" + body;
}

// One message as an mbox writer appends it.
std::string Entry(const std::string& mail, const std::string& envelope = kTb) {
  return envelope + mail + "\n";
}

class MboxStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(mail_); }
  void UseRoot(const std::string& root) { setenv("MAILDIR", root.c_str(), 1); }

  void Write(const std::string& rel, const std::string& bytes) {
    fs::path p = fs::path(mail_) / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
  }

  mqtest::TempDir dir_;
  const std::string base_ = dir_.path(), mail_ = base_ + "/mail";
  mqtest::ScopedEnv maildir_{"MAILDIR", mail_}, cache_{"XDG_CACHE_HOME", base_ + "/cache"};
};

// Thunderbird's ".sbd" subfolders, its .msf summaries and an emptied folder
// beside its summary are the profile's listing's to show.
TEST_F(MboxStoreTest, ADirectoryListsItsMboxFilesAsFolders) {
  Write("Inbox", Entry(Mail("in1")) + Entry(Mail("in2")));
  Write("Sent", Entry(Mail("sent")));
  Write("Empty", "");  // no summary: not a folder
  Write("mutt/box", Entry(Mail("box")));
  Write("notes/readme.txt", "not mail\n");
  Write(".hidden", Entry(Mail("hidden")));
  Write("Drafts", "Subject: no envelope\n\nx\n");
  auto ns = OpenStore();
  ASSERT_TRUE(ns);
  EXPECT_EQ(Listing(ns.Get(), true),
            (std::vector<std::string>{"Inbox [inbox] | *in1 | *in2", "mutt", "  box | *box",
                                      "Sent | *sent"}));
  EXPECT_EQ(FolderTree(ns.Get())[0].messages, 2u);  // counted once listed
  EXPECT_TRUE(fs::exists(mbox::IndexPathFor(mail_)));
  EXPECT_EQ(mbox::IndexPathFor(mail_).rfind(base_ + "/cache/mailquarry/", 0), 0u);
}

TEST_F(MboxStoreTest, AFileIsAStoreWithOneInboxAndWhatIsNotMboxIsRefused) {
  const std::string takeout = "All mail Including Spam and Trash.mbox";
  Write(takeout, Entry(Mail("one"), kTakeout) + Entry(Mail("two"), kTakeout));
  UseRoot(mail_ + "/" + takeout);
  EXPECT_EQ(Listing(OpenStore().Get(), true),
            std::vector<std::string>{"Inbox [inbox] | *one | *two"});
  for (const std::string& notMbox : {std::string("Subject: x\n\nbody\n"), std::string()}) {
    Write("plain", notMbox);
    UseRoot(mail_ + "/plain");
    ComPtr<IStoreNamespace> refused;
    ASSERT_EQ(CreateStoreNamespace(IID_IStoreNamespace, refused.ReleaseAndGetVoidAddress()), S_OK);
    EXPECT_LT(refused->Initialize(nullptr, 0), 0);
  }
}

TEST_F(MboxStoreTest, MessagesReadTheirSliceUnquotedInBothLineEnds) {
  const std::string files =
      Mail("files", "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n",
           "--b\nContent-Type: text/plain\n\nSee.\n"
           "--b\nContent-Type: application/octet-stream\n"
           "Content-Disposition: attachment; filename=\"a.txt\"\n\nline\n>From x\n\n--b\n"
           "Content-Type: application/octet-stream\n"
           "Content-Disposition: attachment; filename=\"b.bin\"\n"
           "Content-Transfer-Encoding: base64\n\naGVsbG8=\n--b--\n");
  const std::string quoted = Mail("Re: quoted", "", ">From the start\n>>From two\nFrom x\n");
  const std::string plain = Mail("plain", "Status: RO\n", "body\n\nFrom the top, again\n");
  for (bool crlf : {false, true}) {
    SCOPED_TRACE(crlf ? "CR LF" : "LF");
    auto le = [&](std::string s) {
      for (std::size_t i = 0; crlf && (i = s.find('\n', i)) != std::string::npos; i += 2)
        s.insert(i, 1, '\r');
      return s;
    };
    Write("box", le(Entry(quoted, kTakeout) + Entry(files) + Entry(plain)));
    auto ns = OpenStore();
    auto box = OpenByName(ns.Get(), "box");
    auto msgs = Messages(box.Get());
    ASSERT_EQ(msgs.size(), 3u);
    const std::string unquoted = le(Mail("Re: quoted", "", "From the start\n>From two\nFrom x\n"));
    EXPECT_EQ(msgs[0].size, unquoted.size());
    EXPECT_EQ(msgs[0].received, 131185384110000000LL);  // the envelope's date: 2016-09-16 22:26:51
    EXPECT_EQ(msgs[2].received, 126227808000000000LL);  // 2001-01-01 00:00:00 UTC
    EXPECT_EQ(ReadStream(box.Get(), msgs[0].id), unquoted);
    EXPECT_EQ(ReadStream(box.Get(), msgs[2].id), le(plain));
    // Parsed, from the slice as well; the last message is one text part.
    EXPECT_TRUE(msgs[1].flags & MSG_FLAG_ATTACHMENT);
    EXPECT_EQ(Attachments(box.Get(), msgs[1].id),
              (std::vector<std::string>{le("line\nFrom x\n"), "hello"}));
    EXPECT_TRUE(Attachments(box.Get(), msgs[2].id).empty());
    ns.Reset();
    fs::remove_all(base_ + "/cache");
  }
}

TEST_F(MboxStoreTest, IdsFollowTheMessagesThroughAppendsCompactionAndRemovals) {
  const std::string unread = "X-Mozilla-Status: 0000\n",
                    // as a compaction rewrites them: the read state and a second header
      read2 = "X-Mozilla-Status: 0001\nX-Mozilla-Status2: 00000000\n",
                    unread2 = "X-Mozilla-Status: 0000\nX-Mozilla-Status2: 00000000\n";
  const std::string dups = Entry(Mail("dup")) + Entry(Mail("dup"));
  Write("Inbox",
        Entry(Mail("a", unread)) + Entry(Mail("b", unread)) + Entry(Mail("c", unread)) + dups);
  auto idsBySubject = [&](IStoreNamespace* ns) {
    std::map<std::string, std::vector<MESSAGEID>> out;
    for (const auto& m : Messages(OpenByName(ns, "Inbox").Get())) out[m.subject].push_back(m.id);
    return out;
  };
  auto ns = OpenStore();
  auto ids = idsBySubject(ns.Get());
  ASSERT_EQ(ids.size(), 4u);
  ASSERT_EQ(ids["dup"].size(), 2u);

  // (a) new mail appended.
  std::ofstream(mail_ + "/Inbox", std::ios::binary | std::ios::app)
      << Entry(Mail("d")) + Entry(Mail("dup"));
  auto now = idsBySubject(ns.Get());
  ASSERT_EQ(now["dup"].size(), 3u);
  ASSERT_EQ(now["d"].size(), 1u);
  EXPECT_GT(now["d"][0], ids["dup"][1]);
  now["dup"].pop_back();
  now.erase("d");
  EXPECT_EQ(now, ids);
  ids = idsBySubject(ns.Get());

  // (b) Thunderbird deletes b, marks a read, then compacts: the file is
  // rewritten without b and with every status header rewritten.
  auto inbox = OpenByName(ns.Get(), "Inbox");
  const MESSAGEID c = ids["c"][0];
  Write("Inbox", Entry(Mail("a", read2)) + Entry(Mail("c", unread2)) + dups + Entry(Mail("d")) +
                     Entry(Mail("dup")));
  // An id from before is still the same message: its old offset is not used.
  EXPECT_EQ(ReadStream(inbox.Get(), c), Mail("c", unread2));
  now = idsBySubject(ns.Get());
  ids.erase("b");
  EXPECT_EQ(now, ids);
  EXPECT_EQ(Messages(inbox.Get())[0].flags & MSG_FLAG_READ, MSG_FLAG_READ);

  // (c) another program removes a message in the middle.
  Write("Inbox", Entry(Mail("a", read2)) + dups + Entry(Mail("d")) + Entry(Mail("dup")));
  ids.erase("c");
  EXPECT_EQ(idsBySubject(ns.Get()), ids);
  EXPECT_EQ(ReadStream(inbox.Get(), c), "<none>");

  // The file gone: its folder goes with it.
  fs::remove(fs::path(mail_) / "Inbox");
  Write("Other", Entry(Mail("x")));
  EXPECT_EQ(Names(ns.Get()), std::vector<std::string>{"Other"});
}

TEST_F(MboxStoreTest, MessagesOfEverySizeAreSplitAlikeWhereverTheReadsEnd) {
  // The file is split straight from a mapping while a lease guards it; with
  // a writer holding it open (no lease), it is read in windows of a megabyte
  // that grow for a large message, up to 32 MB, and a larger one is read
  // from the mapping. Both give the same listing.
  std::string file;
  std::vector<std::pair<std::string, std::string>> expected;  // subject, text
  const std::size_t sizes[] = {10000, 700000, 1500000, 3000, 2600000, 34000000, 50, 900000};
  for (int round = 0; round < 2; ++round) {
    for (std::size_t size : sizes) {
      if (round == 1 && size > 5000000) continue;
      std::string body, unquoted;  // as stored, and as read
      for (std::size_t i = 0; body.size() < size; ++i) {
        const char* line = i % 7 == 3 ? ">From a quoted line\n" : i % 11 == 5 ? "\n" : "A line.\n";
        body += line;
        unquoted += line[0] == '>' ? line + 1 : line;
      }
      const std::string subject = "s" + std::to_string(expected.size());
      file += Entry(Mail(subject, "", body), expected.size() % 2 ? kTb : kTakeout);
      expected.emplace_back(subject, Mail(subject, "", unquoted));
    }
  }
  for (bool writerOpen : {false, true}) {
    SCOPED_TRACE(writerOpen ? "read in windows" : "read from the mapping");
    Write("big", file);
    mqtest::ScopedEnv cache("XDG_CACHE_HOME", base_ + (writerOpen ? "/cache-w" : "/cache-m"));
    const int writer = writerOpen ? open((mail_ + "/big").c_str(), O_WRONLY | O_APPEND) : -1;
    auto ns = OpenStore();
    auto box = OpenByName(ns.Get(), "big");
    auto msgs = Messages(box.Get());
    ASSERT_EQ(msgs.size(), expected.size());
    for (std::size_t i = 0; i < msgs.size(); ++i) {
      EXPECT_EQ(msgs[i].subject, expected[i].first);
      EXPECT_EQ(msgs[i].size, expected[i].second.size()) << i;
    }
    for (std::size_t i :
         {std::size_t{1}, std::size_t{4}, std::size_t{5}, std::size_t{6}, msgs.size() - 1})
      EXPECT_TRUE(ReadStream(box.Get(), msgs[i].id) == expected[i].second) << i;
    // A message appended is found after the ones known, which keep their ids.
    const std::string more = Entry(Mail("appended", "", "text\n"));
    std::ofstream(mail_ + "/big", std::ios::binary | std::ios::app) << more;
    auto again = Messages(box.Get());
    ASSERT_EQ(again.size(), msgs.size() + 1);
    EXPECT_EQ(again.front().id, msgs.front().id);
    EXPECT_EQ(again[msgs.size() - 1].id, msgs.back().id);
    EXPECT_EQ(again.back().subject, "appended");
    if (writer >= 0) close(writer);
  }
}

TEST_F(MboxStoreTest, AFileCutWhileItIsListedEndsListedAsItIsLeft) {
  // A mail program emptying or rewriting an mbox in place truncates it. Cut
  // under a listing, the file must neither kill the process (a mapping read
  // past the new end raises SIGBUS) nor leave a listing of bytes now gone.
  std::string file;
  std::size_t cut = 0;
  const std::string body(200000, 'b');
  for (int i = 0; i < 120; ++i) {
    if (i == 40) cut = file.size();
    file += Entry(Mail("m" + std::to_string(i), "", body + "\n"));
  }
  for (int delayMs : {0, 2, 10, 40}) {
    SCOPED_TRACE(delayMs);
    Write("box", file);
    mqtest::ScopedEnv cache("XDG_CACHE_HOME", base_ + "/cache-" + std::to_string(delayMs));
    auto ns = OpenStore();
    auto box = OpenByName(ns.Get(), "box");
    std::thread cutter([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      EXPECT_EQ(truncate((mail_ + "/box").c_str(), static_cast<off_t>(cut)), 0);
    });
    Messages(box.Get());  // whatever it saw, it returns
    cutter.join();
    auto msgs = Messages(box.Get());
    ASSERT_EQ(msgs.size(), 40u);
    EXPECT_EQ(msgs.back().subject, "m39");
    EXPECT_TRUE(ReadStream(box.Get(), msgs.back().id) == Mail("m39", "", body + "\n"));
  }
}

TEST(MboxSlice, ASliceBeyondFourGigabytesReadsUnquoted) {
  char name[] = "/tmp/mq-slice-XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  unlink(name);
  const std::int64_t at = (5LL << 30) + 3;  // past 2^32: a sparse file, one block written
  const std::string text = "Subject: far\n\n>From here\n";
  ASSERT_EQ(pwrite(fd, text.data(), text.size(), at), static_cast<ssize_t>(text.size()));
  mime::FileSlice slice;
  slice.offset = at;
  slice.length = static_cast<std::int64_t>(text.size());
  slice.omitted = {at + 14};
  ComPtr<IStream> stream;
  ASSERT_EQ(mime::OpenSliceStream(dup(fd), slice, stream.ReleaseAndGetAddressOf()), S_OK);
  std::string read(64, '\0');
  ULONG n = 0;
  ASSERT_EQ(stream->Read(read.data(), 64, &n), S_OK);
  EXPECT_EQ(read.substr(0, n), "Subject: far\n\nFrom here\n");
  // A slice past the file's end, or omitting bytes outside it, is refused.
  slice.length += 1;
  EXPECT_EQ(mime::OpenSliceStream(dup(fd), slice, stream.ReleaseAndGetAddressOf()), E_INVALIDARG);
  slice.length -= 1;
  slice.omitted = {at - 1};
  EXPECT_EQ(mime::OpenSliceStream(dup(fd), slice, stream.ReleaseAndGetAddressOf()), E_INVALIDARG);
  close(fd);
}

}  // namespace
}  // namespace store
