// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/snapshot.h"

#include <gtest/gtest.h>

#include "control/testing/fake_store.h"
#include "control/time_text.h"

namespace mq {
namespace {

using testing::FakeStoreState;
using testing::MakeFakeStore;
using testing::Ticks;
using testing::Utc;

std::vector<std::string> Names(const std::vector<FolderData>& folders) {
  std::vector<std::string> names;
  for (const auto& f : folders) names.push_back(f.name);
  return names;
}

// The folder tree and message list as the store hands them out, and how
// they end when the store fails part-way.
TEST(FolderTree, IsDepthFirstPreOrderAndFailuresEndTheirLevelOnly) {
  FakeStoreState state;
  state.AddFolder(1, "Inbox");
  state.AddFolder(2, "A");
  state.AddFolder(4, "B");
  state.AddFolder(3, "A1", 2);
  state.AddFolder(5, "A1x", 3);
  state.AddFolder(6, "A2", 2);
  auto store = MakeFakeStore(state);
  auto read = [&](STOREFOLDERID parent) {
    std::vector<FolderData> folders;
    ReadFolderTree(*store, parent, folders);
    return Names(folders);
  };
  using Texts = std::vector<std::string>;
  EXPECT_EQ(read(FOLDERID_ROOT), (Texts{"Inbox", "A", "A1", "A1x", "A2", "B"}));

  state.failSubFolderRequest[2] = 1;  // the level below A: the next request fails
  EXPECT_EQ(read(FOLDERID_ROOT), (Texts{"Inbox", "A", "A1", "A1x", "B"}));
  state.failSubFolderRequest[2] = 0;  // the first request fails
  EXPECT_EQ(read(FOLDERID_ROOT), (Texts{"Inbox", "A", "B"}));
  // Success without an enumeration handle leaves the level at once.
  state.failSubFolderRequest.clear();
  state.noSubFolderHandle[0] = true;
  EXPECT_EQ(read(FOLDERID_ROOT), Texts{});
}

TEST(FolderTree, AStoreReportingACycleDoesNotRecurseForever) {
  FakeStoreState state;
  state.AddFolder(1, "A");
  state.AddFolder(2, "A1", 1);
  state.folders[1].parent = 2;  // A below A1 below A
  state.AddFolder(3, "B");
  auto store = MakeFakeStore(state);
  std::vector<FolderData> folders;
  ReadFolderTree(*store, 1, folders);
  EXPECT_EQ(Names(folders), (std::vector<std::string>{"A1", "A"}));
}

// The fields themselves are the end-to-end tests'; here a field the store
// leaves null, the strings going back, and failures part-way.
TEST(MessageList, TakesTheSummaryFieldsAndGivesTheStringsBack) {
  FakeStoreState state;
  auto& folder = state.AddFolder(1, "A");
  folder.messages.push_back(testing::Message(10, "hello"));
  folder.Add(11);  // every text field null
  folder.messages.push_back(testing::Message(12, "third"));
  auto store = MakeFakeStore(state);
  com::ComPtr<IStoreFolder> open;
  ASSERT_EQ(store->OpenFolder(1, 0, open.ReleaseAndGetAddressOf()), S_OK);

  auto messages = ReadMessages(*open);
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[1].subject, "");
  EXPECT_EQ(messages[1].receiveTime, "1601/01/01 00:00:00");

  // Failures keep what was read and close the handle.
  folder.failMessageRequest = 2;
  EXPECT_EQ(ReadMessages(*open).size(), 2u);
  folder.failMessageRequest = 0;
  EXPECT_EQ(ReadMessages(*open).size(), 0u);
}

TEST(TimeText, TwoDigitFieldsAndAMarkForTimesTheAutomationDateCannotHold) {
  const std::string invalid = "-1/-1/-1 -1:-1:-1";
  const std::pair<FILETIME, std::string> cases[] = {
      {Utc(2006, 3, 5, 14, 7, 9, 999), "2006/03/05 14:07:09"},  // ms dropped, not rounded
      {Utc(9999, 12, 31, 23, 59, 59), "9999/12/31 23:59:59"},
      {Ticks(0), "1601/01/01 00:00:00"},  // the start of the store's calendar
      {Utc(10000, 1, 1, 0, 0, 0), invalid},
      {Ticks(1ull << 63), invalid}};
  for (const auto& [time, text] : cases) EXPECT_EQ(TimeText(time), text);
}

}  // namespace
}  // namespace mq
