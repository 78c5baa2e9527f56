// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/snapshot.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "control/time_text.h"
#include "platform/store/testing/maildir_fixture.h"
#include "platform/store/testing/store_test_util.h"

namespace mq {
namespace {

using Texts = std::vector<std::string>;

// A folder tree handed out as given, where a level may fail part-way, answer
// without a handle or name a folder above itself: a store loaded by class id
// may, ours does not. Nothing else is asked of it.
class TreeStore final : public com::Object<IStoreNamespace> {
 public:
  std::map<STOREFOLDERID, std::vector<std::pair<STOREFOLDERID, std::string>>> levels;
  std::map<STOREFOLDERID, int> failAt;  // the level's request that fails, from 0
  bool noHandle = false;
  int open = 0;  // enumerations handed out and not closed

  HRESULT GetFirstSubFolder(STOREFOLDERID parent, FOLDERPROPS* props, HENUMSTORE* out) override {
    *out = nullptr;
    auto level = std::make_unique<Level>(Level{parent});
    const HRESULT hr = Next(*level, props);
    if (hr == S_OK && !noHandle) {
      ++open;
      *out = level.release();
    }
    return hr;
  }
  HRESULT GetNextSubFolder(HENUMSTORE handle, FOLDERPROPS* props) override {
    return Next(*static_cast<Level*>(handle), props);
  }
  HRESULT GetSubFolderClose(HENUMSTORE handle) override {
    --open;
    delete static_cast<Level*>(handle);
    return S_OK;
  }
  HRESULT GetDirectory(LPSTR, DWORD) override { return E_NOTIMPL; }
  HRESULT Initialize(HWND, DWORD) override { return E_NOTIMPL; }
  HRESULT OpenSpecialFolder(LONG, DWORD, IStoreFolder**) override { return E_NOTIMPL; }
  HRESULT OpenFolder(STOREFOLDERID, DWORD, IStoreFolder**) override { return E_NOTIMPL; }
  HRESULT CreateFolder(STOREFOLDERID, LPCSTR, DWORD, STOREFOLDERID*) override { return E_NOTIMPL; }
  HRESULT RenameFolder(STOREFOLDERID, DWORD, LPCSTR) override { return E_NOTIMPL; }
  HRESULT MoveFolder(STOREFOLDERID, STOREFOLDERID, DWORD) override { return E_NOTIMPL; }
  HRESULT DeleteFolder(STOREFOLDERID, DWORD) override { return E_NOTIMPL; }
  HRESULT GetFolderProps(STOREFOLDERID, DWORD, FOLDERPROPS*) override { return E_NOTIMPL; }
  HRESULT CopyMoveMessages(IStoreFolder*, IStoreFolder*, MESSAGEIDLIST*, DWORD, DWORD,
                           IProgressNotify*) override {
    return E_NOTIMPL;
  }
  HRESULT RegisterNotification(DWORD, HWND) override { return E_NOTIMPL; }
  HRESULT UnregisterNotification(DWORD, HWND) override { return E_NOTIMPL; }
  HRESULT CompactAll(DWORD) override { return E_NOTIMPL; }

 private:
  struct Level {
    STOREFOLDERID parent;
    std::size_t request = 0;
  };
  HRESULT Next(Level& level, FOLDERPROPS* props) {
    const auto fail = failAt.find(level.parent);
    if (fail != failAt.end() && fail->second == static_cast<int>(level.request)) return E_FAIL;
    const auto& folders = levels[level.parent];
    if (level.request == folders.size()) return S_FALSE;
    const auto& [id, name] = folders[level.request++];
    props->dwFolderId = id;
    std::snprintf(props->szName, sizeof props->szName, "%s", name.c_str());
    return S_OK;
  }
};

// The order of a whole tree is the end-to-end tests'; here how the reading
// ends when the store misbehaves, with every enumeration closed.
TEST(FolderTree, FailuresEndTheirLevelOnlyAndACycleEndsTheDescent) {
  auto store = com::MakeObject<TreeStore>();
  store->levels = {{FOLDERID_ROOT, {{1, "Inbox"}, {2, "A"}, {4, "B"}}},
                   {2, {{3, "A1"}, {6, "A2"}}},
                   {3, {{5, "A1x"}}}};
  auto read = [&](STOREFOLDERID parent) {
    std::vector<FolderData> folders;
    ReadFolderTree(*store, parent, folders);
    EXPECT_EQ(store->open, 0);
    Texts names;
    for (const auto& folder : folders) names.push_back(folder.name);
    return names;
  };
  EXPECT_EQ(read(FOLDERID_ROOT), (Texts{"Inbox", "A", "A1", "A1x", "A2", "B"}));
  store->failAt[2] = 1;  // the level below A: the second request fails
  EXPECT_EQ(read(FOLDERID_ROOT), (Texts{"Inbox", "A", "A1", "A1x", "B"}));
  store->failAt[2] = 0;
  EXPECT_EQ(read(FOLDERID_ROOT), (Texts{"Inbox", "A", "B"}));
  // Success without an enumeration handle leaves the level at once.
  store->failAt.clear();
  store->noHandle = true;
  EXPECT_EQ(read(FOLDERID_ROOT), Texts{});

  store->noHandle = false;
  store->levels = {{1, {{2, "A1"}}}, {2, {{1, "A"}}}};  // A below A1 below A
  EXPECT_EQ(read(1), (Texts{"A1", "A"}));
}

// A message without the summary's texts reads as empty texts; the strings
// the store hands out go back (LeakSanitizer would report them).
TEST(MessageList, AMessageWithoutSummaryTextsReadsAsEmptyTexts) {
  store::testing::MaildirFixture maildir;
  maildir.UseAsMailDir();
  maildir.AddMessage({"A"}, "X-Note: no summary fields\r\n\r\nbody\r\n");
  maildir.AddMessage({"A"}, store::testing::MaildirFixture::Message("a@x.org", "b@x.org", "hi"));
  auto ns = store::OpenStore();
  const auto messages = ReadMessages(*store::OpenByName(ns.Get(), "A").Get());
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].subject + messages[0].displayFrom + messages[0].displayTo, "");
  EXPECT_EQ(messages[1].subject, "hi");
}

// A folder whose message list fails at a given request (from 0), as a store
// loaded by class id may; only the list is asked of it.
class FailingList final : public com::Object<IStoreFolder> {
 public:
  int failAt = -1;
  int open = 0;  // lists handed out and not closed

  HRESULT GetFirstMessage(DWORD, DWORD, MESSAGEID, MESSAGEPROPS* props, HENUMSTORE* out) override {
    *out = new int(0);
    ++open;
    return Next(*out, props);
  }
  HRESULT GetNextMessage(HENUMSTORE handle, DWORD, MESSAGEPROPS* props) override {
    return Next(handle, props);
  }
  HRESULT GetMessageClose(HENUMSTORE handle) override {
    --open;
    delete static_cast<int*>(handle);
    return S_OK;
  }
  HRESULT FreeMessageProps(MESSAGEPROPS*) override { return S_OK; }
  HRESULT GetMessageProps(MESSAGEID, DWORD, MESSAGEPROPS*) override { return E_NOTIMPL; }
  HRESULT GetFolderProps(DWORD, FOLDERPROPS*) override { return E_NOTIMPL; }
  HRESULT DeleteMessages(MESSAGEIDLIST*, DWORD, IProgressNotify*) override { return E_NOTIMPL; }
  HRESULT SetLanguage(DWORD, DWORD, MESSAGEIDLIST*) override { return E_NOTIMPL; }
  HRESULT MarkMessagesAsRead(BOOL, DWORD, MESSAGEIDLIST*) override { return E_NOTIMPL; }
  HRESULT SetFlags(MESSAGEIDLIST*, DWORD, DWORD, DWORD*) override { return E_NOTIMPL; }
  HRESULT OpenMessage(MESSAGEID, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT SaveMessage(REFIID, void*, DWORD, MESSAGEID*) override { return E_NOTIMPL; }
  HRESULT BatchLock(DWORD, HBATCHLOCK*) override { return E_NOTIMPL; }
  HRESULT BatchFlush(DWORD, HBATCHLOCK) override { return E_NOTIMPL; }
  HRESULT BatchUnlock(DWORD, HBATCHLOCK) override { return E_NOTIMPL; }
  HRESULT CreateStream(HBATCHLOCK, DWORD, IStream**, MESSAGEID*) override { return E_NOTIMPL; }
  HRESULT CommitStream(HBATCHLOCK, DWORD, DWORD, IStream*, MESSAGEID, IMimeMessage*) override {
    return E_NOTIMPL;
  }
  HRESULT RegisterNotification(DWORD, HWND) override { return E_NOTIMPL; }
  HRESULT UnregisterNotification(DWORD, HWND) override { return E_NOTIMPL; }

 private:
  HRESULT Next(HENUMSTORE handle, MESSAGEPROPS* props) {
    int& request = *static_cast<int*>(handle);
    if (request == failAt) return E_FAIL;
    if (request == 3) return S_FALSE;
    props->dwMessageId = static_cast<MESSAGEID>(++request);
    return S_OK;
  }
};

// A failure part-way keeps the messages read before it and closes the list.
TEST(MessageList, AFailurePartWayKeepsWhatWasReadAndClosesTheList) {
  auto folder = com::MakeObject<FailingList>();
  for (const auto& [failAt, read] : {std::pair{-1, 3u}, {2, 2u}, {0, 0u}}) {
    folder->failAt = failAt;
    EXPECT_EQ(ReadMessages(*folder).size(), read) << failAt;
    EXPECT_EQ(folder->open, 0) << failAt;
  }
}

FILETIME Ticks(ULONGLONG ticks) {
  return {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

TEST(TimeText, TwoDigitFieldsAndAMarkForTimesTheAutomationDateCannotHold) {
  const std::string invalid = "-1/-1/-1 -1:-1:-1";
  const std::pair<FILETIME, std::string> cases[] = {
      {Ticks(127860412299990000), "2006/03/05 14:07:09"},  // .999 s dropped, not rounded
      {Ticks(2650467743990000000), "9999/12/31 23:59:59"},
      {Ticks(0), "1601/01/01 00:00:00"},      // the start of the store's calendar
      {Ticks(2650467744000000000), invalid},  // 10000/01/01 00:00:00
      {Ticks(1ull << 63), invalid}};
  for (const auto& [time, text] : cases) EXPECT_EQ(TimeText(time), text);
}

}  // namespace
}  // namespace mq
