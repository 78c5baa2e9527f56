// SPDX-License-Identifier: LGPL-2.1-or-later
// The store over a Maildir++ tree, through IStoreNamespace and IStoreFolder,
// and the summaries it lists.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/shell/files.h"
#include "platform/store/engine/disk.h"
#include "platform/store/engine/summary.h"
#include "platform/store/maildir/files.h"
#include "platform/store/maildir/names.h"
#include "platform/store/testing/maildir_fixture.h"
#include "platform/store/testing/store_test_util.h"

namespace store {
namespace {

using com::ComPtr;
using testing::MaildirFixture;

std::string Mail(const std::string& subject) {
  return MaildirFixture::Message("x@y", "z@w", subject);
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override { fx.UseAsMailDir(); }
  MaildirFixture fx;
};

TEST_F(StoreTest, SummariesAsCallersSeeThem) {
  fx.AddMessage({}, Mail("Re: Fwd: =?UTF-8?B?w6ll?="), {"S", 1700000000});
  fx.AddMessage({}, "X-Nothing: here\r\n\r\nbody", {"", 1700000100});
  // Address groups a million deep in a header block longer than a listing
  // reads: neither a crash nor the message lost.
  const std::size_t depth = 1000000;
  std::string groups;
  while (groups.size() < 2 * depth) groups += "g:";
  fx.AddMessage({},
                "Subject: deep\r\nFrom: Deep <d@x>\r\nTo: " + groups + "b@x" +
                    std::string(depth, ';') + "\r\n\r\nbody",
                {"", 1700000200});
  auto ns = OpenStore();
  auto inbox = OpenByName(ns.Get(), "Inbox");
  auto msgs = Messages(inbox.Get());
  ASSERT_EQ(msgs.size(), 3u);
  EXPECT_EQ(msgs[2].subject, "deep");
  EXPECT_EQ(msgs[2].from, "Deep");
  EXPECT_EQ(msgs[0].normalSubject, "ée");
  EXPECT_EQ(msgs[0].sent, 127860412290000000LL);  // 2006-03-05 14:07:09 UTC
  EXPECT_TRUE(msgs[0].hasMessageId);
  const Msg& bare = msgs[1];
  EXPECT_FALSE(bare.hasSubject || bare.hasFrom || bare.hasTo || bare.hasMessageId);
  EXPECT_EQ(bare.sent, 133444737000000000LL);  // no Date: delivered 2023-11-14 22:15:00 UTC

  MESSAGEPROPS mp{};
  mp.cbSize = MESSAGEPROPS_SIZE;
  ASSERT_EQ(inbox->GetMessageProps(msgs[0].id, MSGPROPS_FAST, &mp), S_OK);
  EXPECT_EQ(mp.dwFlags & MSG_FLAG_READ, MSG_FLAG_READ);
  EXPECT_EQ(mp.pszSubject, nullptr);
  EXPECT_EQ(inbox->FreeMessageProps(&mp), S_OK);
}

// A folder larger than the batches a first listing reads and writes at a
// time, delivered out of order, with a message listed in both new/ and cur/
// (a move another program made while the folder was read).
TEST_F(StoreTest, ALargeFolderIsListedWholeInDeliveryOrder) {
  constexpr int kCount = 2600;
  const char* senders[] = {"Ann <ann@x>", "=?UTF-8?Q?B=C3=A9a?= <bea@x>", "carl@x"};
  const char* shown[] = {"Ann", "Béa", "carl@x"};
  std::string twice;
  for (int n = 0; n < kCount; ++n) {
    const int i = (n * 1031) % kCount;  // a permutation
    std::string path =
        fx.AddMessage({}, MaildirFixture::Message(senders[i % 3], "me@x", "m" + std::to_string(i)),
                      {"", 1600000000 + i, i % 2 == 1});
    if (i == 7) twice = path;
  }
  ASSERT_NE(twice.find("/new/"), std::string::npos);
  std::string uniq = twice.substr(twice.rfind('/') + 1);
  ASSERT_EQ(link(twice.c_str(), (fx.root() + "/cur/" + uniq + ":2,S").c_str()), 0);

  std::vector<MESSAGEID> ids;
  {
    auto ns = OpenStore();
    auto msgs = Messages(OpenByName(ns.Get(), "Inbox").Get());
    ASSERT_EQ(msgs.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
      ASSERT_EQ(msgs[i].subject, "m" + std::to_string(i));
      EXPECT_EQ(msgs[i].from, shown[i % 3]);
      ASSERT_TRUE(i == 0 || msgs[i - 1].id < msgs[i].id) << i;
      ids.push_back(msgs[i].id);
    }
    EXPECT_TRUE(msgs[7].flags & MSG_FLAG_READ);  // the one in cur/ counts
  }
  auto ns = OpenStore();
  std::vector<MESSAGEID> again;
  for (const auto& m : Messages(OpenByName(ns.Get(), "Inbox").Get())) again.push_back(m.id);
  EXPECT_EQ(again, ids);
}

TEST_F(StoreTest, StreamsWriteAndReadTheBytesAsStored) {
  std::string big(100000, 'a');
  for (std::size_t i = 0; i < big.size(); i += 77) big[i] = '\n';
  const std::string text = "Subject: big\r\n\r\n" + big + std::string(1, '\0') + "tail";
  auto ns = OpenStore();
  auto inbox = OpenByName(ns.Get(), "Inbox");
  MESSAGEID id = 0;
  {
    ComPtr<IStream> s;
    ASSERT_EQ(inbox->CreateStream(nullptr, 0, s.ReleaseAndGetAddressOf(), &id), S_OK);
    EXPECT_NE(id, 0u);
    ASSERT_EQ(s->Write(text.data(), static_cast<ULONG>(text.size()), nullptr), S_OK);
    EXPECT_TRUE(Messages(inbox.Get()).empty());  // not there before the commit
    ASSERT_EQ(inbox->CommitStream(nullptr, 0, 0, s.Get(), id, nullptr), S_OK);
    EXPECT_LT(inbox->CommitStream(nullptr, 0, 0, s.Get(), id, nullptr), 0);
  }
  {  // Never committed: leaves nothing, not even in tmp/.
    ComPtr<IStream> s;
    MESSAGEID lost = 0;
    ASSERT_EQ(inbox->CreateStream(nullptr, 0, s.ReleaseAndGetAddressOf(), &lost), S_OK);
    s->Write("x", 1, nullptr);
    EXPECT_NE(lost, id);
  }
  // A full disk is said as such, for a new message and for a copy, and
  // leaves nothing behind.
  fx.AddFolder({"Copies"});
  auto copies = OpenByName(ns.Get(), "Copies");
  for (int error : {ENOSPC, EDQUOT}) {
    ComPtr<IStream> s;
    MESSAGEID full = 0;
    ASSERT_EQ(inbox->CreateStream(nullptr, 0, s.ReleaseAndGetAddressOf(), &full), S_OK);
    ::files::FailWritesFrom(1, error);
    EXPECT_EQ(s->Write("x", 1, nullptr), STG_E_MEDIUMFULL);
    MESSAGEIDLIST list{sizeof(MESSAGEIDLIST), 1, &id};
    EXPECT_EQ(ns->CopyMoveMessages(inbox.Get(), copies.Get(), &list, 0, 0, nullptr),
              com::HResultFromErrno(error));
    ::files::ClearWriteFailure();
  }
  EXPECT_TRUE(Messages(copies.Get()).empty());
  EXPECT_TRUE(FilesIn(fx.FolderDir({"Copies"}) + "/tmp").empty());
  auto msgs = Messages(inbox.Get());
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].id, id);
  EXPECT_EQ(msgs[0].subject, "big");
  EXPECT_EQ(msgs[0].size, text.size());
  ASSERT_EQ(fx.Files({}).size(), 1u);
  EXPECT_NE(fx.Files({})[0].find("/cur/"), std::string::npos);
  EXPECT_TRUE(FilesIn(fx.root() + "/tmp").empty());

  EXPECT_EQ(ReadStream(inbox.Get(), id), text);
  ComPtr<IStream> s;  // a stored message is read only
  ASSERT_EQ(inbox->OpenMessage(id, IID_IStream, s.ReleaseAndGetVoidAddress()), S_OK);
  EXPECT_LT(s->Write("x", 1, nullptr), 0);
}

// Messages are opened by the names the index gave, remembered a page of ids
// at a time; a file renamed or removed since, by us or by another program,
// must still be found by its new name or reported gone, never confused.
TEST_F(StoreTest, OpenMessageAndListingsFollowOtherProgramsRenamesRemovalsAndDeliveries) {
  std::vector<std::string> texts, paths;
  for (int i = 0; i < 300; ++i) {
    texts.push_back(Mail("m" + std::to_string(i)));
    paths.push_back(fx.AddMessage({}, texts.back()));
  }
  auto ns = OpenStore();
  auto inbox = OpenByName(ns.Get(), "Inbox");
  auto listed = Messages(inbox.Get());
  ASSERT_EQ(listed.size(), 300u);
  std::vector<MESSAGEID> ids(300);  // by the number in the subject
  for (const auto& m : listed) ids.at(std::stoi(m.subject.substr(1))) = m.id;
  // Out of order, across pages.
  for (int i : {250, 0, 299, 127, 128, 1}) EXPECT_EQ(ReadStream(inbox.Get(), ids[i]), texts[i]);
  ASSERT_EQ(rename(paths[5].c_str(), (paths[5] + "F").c_str()), 0);  // another program's flag
  ASSERT_EQ(std::remove(paths[6].c_str()), 0);
  MESSAGEIDLIST seven{sizeof(MESSAGEIDLIST), 1, &ids[7]};
  EXPECT_EQ(inbox->MarkMessagesAsRead(TRUE, 0, &seven), S_OK);
  MESSAGEIDLIST eight{sizeof(MESSAGEIDLIST), 1, &ids[8]};
  EXPECT_EQ(inbox->DeleteMessages(&eight, 0, nullptr), S_OK);
  for (int i : {5, 6, 7, 8, 4, 299})
    EXPECT_EQ(ReadStream(inbox.Get(), ids[i]), i == 6 || i == 8 ? "<none>" : texts[i]) << i;
  // Another program's delivery shows at the next listing, after the rest and
  // without the two removed; listing and reading it leave it in new/.
  const std::string late = fx.AddMessage({}, Mail("late"), {"", 0, true});
  auto now = Messages(inbox.Get());
  ASSERT_EQ(now.size(), 299u);
  EXPECT_EQ(now.front().id, listed.front().id);
  EXPECT_EQ(now.back().subject, "late");
  EXPECT_GT(now.back().id, *std::max_element(ids.begin(), ids.end()));
  EXPECT_EQ(ReadStream(inbox.Get(), now.back().id), Mail("late"));
  EXPECT_EQ(access(late.c_str(), F_OK), 0);
}

TEST_F(StoreTest, FolderOperationsRefuseBadNamesAndChangeNothing) {
  fx.AddMessage({"A", "A1"}, Mail("m"));
  auto ns = OpenStore();
  STOREFOLDERID a = IdOf(ns.Get(), "A"), a1 = IdOf(ns.Get(), "A1"), inbox = IdOf(ns.Get(), "Inbox");
  auto before = Names(ns.Get());
  EXPECT_EQ(FolderTree(ns.Get())[1].subFolders, 1);  // A holds A1
  STOREFOLDERID id = 0;
  for (const char* bad : {"", "A", "INBOX", "bad\xff", static_cast<const char*>(nullptr)})
    EXPECT_LT(ns->CreateFolder(0, bad, 0, &id), 0) << (bad ? bad : "null");
  for (HRESULT hr : {ns->CreateFolder(a, "A1", 0, &id), ns->RenameFolder(a1, 0, ""),
                     ns->RenameFolder(inbox, 0, "X"), ns->MoveFolder(a, a1, 0) /* below itself */,
                     ns->MoveFolder(a, a, 0), ns->DeleteFolder(inbox, 0)})
    EXPECT_LT(hr, 0);
  EXPECT_EQ(Names(ns.Get()), before);

  EXPECT_EQ(ns->CreateFolder(a, "Neu.1/2", 0, &id), S_OK);
  EXPECT_TRUE(maildir::IsMaildir(fx.root() + "/.A.Neu&AC4-1&AC8-2"));
  struct stat st;
  EXPECT_EQ(stat((fx.root() + "/.A.Neu&AC4-1&AC8-2/maildirfolder").c_str(), &st), 0);
  EXPECT_EQ(IdOf(ns.Get(), "Neu.1/2"), id);
  EXPECT_EQ(ns->DeleteFolder(a, 0), S_OK);
  EXPECT_EQ(Names(ns.Get()), (std::vector<std::string>{"Inbox"}));
  EXPECT_FALSE(disk::IsDirectory(fx.root() + "/.A.A1"));
}

TEST_F(StoreTest, ReadOnlyStoreWorksWithAnIndexInMemory) {
  fx.AddMessage({"A"}, Mail("m"));
  // Root ignores permissions: a directory where the index file belongs makes
  // the index just as impossible to open.
  bool asRoot = geteuid() == 0;
  if (asRoot)
    mkdir((fx.root() + "/mailquarry-index.sqlite").c_str(), 0700);
  else
    chmod(fx.root().c_str(), 0500);
  auto ns = OpenStore();
  ASSERT_EQ(Messages(OpenByName(ns.Get(), "A").Get()).size(), 1u);
  STOREFOLDERID id;
  EXPECT_LT(ns->CreateFolder(0, "New", 0, &id), 0);
  chmod(fx.root().c_str(), 0700);
  // cur, new, tmp (and the blocking directory): nothing written
  EXPECT_EQ(FilesIn(fx.root()).size(), 3u + asRoot);
}

// The header fields a listing shows, decoded to UTF-8; a field that is not
// there (or does not parse) is absent, not empty.
TEST(Summary, HeaderBlocksAsListingsShowThem) {
  struct Case {
    std::string headers;
    const char *subject, *normalSubject, *from, *to;
    std::optional<std::int64_t> sent;
  } cases[] = {
      {"From: =?ISO-8859-1?Q?J=F6rg_M=FCller?= <jm@example.org>\r\n"
       "To: \"Doe, Jane\" <jane@example.org>, bob@example.org,\r\n"
       "  =?UTF-8?B?5bCP5p6X?= <k@example.jp>\r\n"
       "Subject: Re: =?KOI8-R?B?8NLJ18XU?= world\r\n"
       "Date: Sun, 05 Mar 2006 14:07:09 +0100\r\n",
       "Re: Привет world", "Привет world", "Jörg Müller", "Doe, Jane; bob@example.org; 小林",
       1141564029},
      {"Subject: caf\xe9\nFrom: \xc3\xa9mile <e@x>\n", "café", "café", "émile", nullptr, {}},
      // Labelled Latin-1 or ASCII, written in Windows-1252 (0x96 a dash, 0x80 the
      // euro sign, 0x81 undefined there and kept).
      {"Subject: =?iso-8859-1?Q?Your_ticket_=96_Z=FCrich?=\n"
       "From: =?us-ascii?Q?=80uro_=81?= <e@x>\nTo: =?ISO-8859-1?B?WvxyaWNo?= <z@x>\n",
       "Your ticket \u2013 Z\u00FCrich",
       "Your ticket \u2013 Z\u00FCrich",
       "\u20ACuro \u0081",
       "Z\u00FCrich",
       {}},
      {"", nullptr, nullptr, nullptr, nullptr, {}},
      // Shown as written when no address parses.
      {"Date: not a date\nTo: undisclosed-recipients:;\n",
       nullptr,
       nullptr,
       nullptr,
       "undisclosed-recipients:;",
       {}},
      {"Subject: RE:Re[2]: FW: AW: x\n", "RE:Re[2]: FW: AW: x", "x", nullptr, nullptr, {}},
      {"Subject: Fw : y\n", "Fw : y", "y", nullptr, nullptr, {}},
      {"Subject: Regarding: z\n", "Regarding: z", "Regarding: z", nullptr, nullptr, {}},
      {"Subject: Re[x]: w\n", "Re[x]: w", "Re[x]: w", nullptr, nullptr, {}},
      {"Subject: Re:\n", "Re:", "", nullptr, nullptr, {}},
      // Dates before 1970 are sent times too.
      {"Date: Tue, 31 Dec 1968 23:59:58 +0000\r\n", nullptr, nullptr, nullptr, nullptr, -31536002},
      {"Date: Mon, 1 Jan 1601 00:00:00 +0000\r\n", nullptr, nullptr, nullptr, nullptr,
       -11644473600},
      {"Date: 1 Jan 1970 01:00:00 +0100\r\n", nullptr, nullptr, nullptr, nullptr, 0},
      {"Date: garbage 1968\r\n", nullptr, nullptr, nullptr, nullptr, {}},
      // The same raw text: its first address as a sender, all of them as recipients.
      {"From: Ann <a@x>, Bob <b@x>\nTo: Ann <a@x>, Bob <b@x>\n",
       nullptr,
       nullptr,
       "Ann",
       "Ann; Bob",
       {}},
      {"From: \nTo: \n", nullptr, nullptr, nullptr, nullptr, {}},
  };
  auto text = [](const char* s) { return s ? std::optional<std::string>(s) : std::nullopt; };
  AddressCache cache;  // every case read without it, then twice through it
  for (AddressCache* remembered : {static_cast<AddressCache*>(nullptr), &cache, &cache}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.headers);
      Summary s = ParseHeaderBlock(c.headers, remembered);
      EXPECT_EQ(s.subject, text(c.subject));
      EXPECT_EQ(s.normalSubject, text(c.normalSubject));
      EXPECT_EQ(s.displayFrom, text(c.from));
      EXPECT_EQ(s.displayTo, text(c.to));
      EXPECT_EQ(s.sentSeconds, c.sent);
      EXPECT_FALSE(s.messageId || s.attachment);
    }
  }
  Summary s = ParseHeaderBlock("Message-ID: <a@b>\nContent-Type: multipart/mixed; boundary=x\n");
  EXPECT_EQ(s.messageId, "<a@b>");
  EXPECT_TRUE(s.attachment);
}

}  // namespace
}  // namespace store
