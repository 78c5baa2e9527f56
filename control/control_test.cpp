// The control hosted headless, over a fake store: window creation and
// destruction, the Folder property, drawing, and what clients still holding
// its collections see afterwards.
#include "control/mailquarry_ctrl.h"

#include <gtest/gtest.h>

#include "control/guids.h"
#include "control/testing/fake_store.h"
#include "platform/ui/control_host.h"
#include "tests/support/automation_client.h"

namespace mq {
namespace {

using mqtest::Get;
using mqtest::Put;
using testing::FakeStoreState;

FakeStoreState* g_state = nullptr;

HRESULT MakeFake(IStoreNamespace** out) {
  *out = testing::MakeFakeStore(*g_state).Detach();
  return S_OK;
}

class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state.AddFolder(1, "Inbox");
    state.AddFolder(2, "A");
    state.AddFolder(3, "A1", 2);
    state.AddFolder(4, "B");
    testing::FakeMessage message;
    message.id = 5;
    message.subject = "in A1";
    state.folders[3].messages = {message};
    g_state = &state;
    CMailquarryCtrl::SetStoreMakerForTesting(&MakeFake);
  }
  void TearDown() override { CMailquarryCtrl::SetStoreMakerForTesting(nullptr); }

  HRESULT Start(ui::ControlHost& host) {
    HRESULT hr = host.Attach(com::MakeObject<CMailquarryCtrl>()->Identity());
    if (FAILED(hr)) return hr;
    return host.Activate(nullptr, ui::Rect::FromSize(10, 10, 120, 40));
  }
  com::ComPtr<IDispatch> Collection(ui::ControlHost& host, const char* name) {
    return Get(host.Dispatch(), name).Object();
  }

  FakeStoreState state;
};

TEST_F(ControlTest, SelectsFoldersAndTellsADesignHostOnly) {
  ui::ControlHost run(true);
  ASSERT_EQ(Start(run), S_OK);
  auto folders = Collection(run, "Folders");
  auto messages = Collection(run, "Messages");
  EXPECT_EQ(Get(folders, "Count").Long(), 4);
  EXPECT_EQ(Get(messages, "Count").Long(), 0);  // nothing selected yet
  EXPECT_EQ(Put(run.Dispatch(), "Folder", SHORT{2}).hr, S_OK);
  EXPECT_EQ(Get(messages, "Count").Long(), 1);
  EXPECT_EQ(Get(run.Dispatch(), "Folder").Long(), 2);
  EXPECT_TRUE(run.ChangedProperties().empty());
  EXPECT_GE(run.ModifiedNotifications(), 1);
  // The same three objects for the control's whole life.
  EXPECT_EQ(Collection(run, "Folders"), folders);
  EXPECT_EQ(Get(Collection(run, "Contacts"), "Count").Long(), 0);

  ui::ControlHost design(false);
  ASSERT_EQ(Start(design), S_OK);
  EXPECT_EQ(Put(design.Dispatch(), "Folder", SHORT{1}).hr, S_OK);
  EXPECT_EQ(design.ChangedProperties(), std::vector<DISPID>{2});
}

TEST_F(ControlTest, HeldReferencesStaySafeAfterTheWindowGoesAndAfterTheControlGoes) {
  com::ComPtr<IDispatch> folders, messages, record;
  {
    ui::ControlHost host(true);
    ASSERT_EQ(Start(host), S_OK);
    folders = Collection(host, "Folders");
    messages = Collection(host, "Messages");
    Put(host.Dispatch(), "Folder", SHORT{2});
    record = Get(messages, "Item", 1).Object();
    ASSERT_EQ(host.Deactivate(), S_OK);
    EXPECT_FALSE(Collection(host, "Folders"));
    EXPECT_EQ(state.openFolders, 0);  // no store object kept

    // A window made again gets collections of its own.
    ASSERT_EQ(host.Control()->Activate(nullptr, ui::Rect::FromSize(0, 0, 5, 5)), S_OK);
    EXPECT_EQ(Get(Collection(host, "Folders"), "Count").Long(), 4);
  }
  EXPECT_EQ(Get(folders, "Count").Long(), 0);
  EXPECT_EQ(mqtest::Call(folders, "FindFolderName", SHORT{0}).Str(), "");
  EXPECT_EQ(mqtest::Call(folders, "Refresh").hr, S_OK);
  EXPECT_FALSE(Get(folders, "Item", 1).Object());
  EXPECT_EQ(Get(messages, "Count").Long(), 0);
  EXPECT_EQ(Get(record, "Subject").Str(), "in A1");

  // A control released with its window still up lets go of everything too.
  com::ComPtr<IPlatformControl> control;
  {
    auto made = com::MakeObject<CMailquarryCtrl>();
    ASSERT_EQ(made->Activate(nullptr, ui::Rect::FromSize(0, 0, 5, 5)), S_OK);
    folders = made->GetFolders();
  }
  EXPECT_EQ(Get(folders, "Count").Long(), 0);
  EXPECT_EQ(state.openFolders, 0);
}

TEST_F(ControlTest, DrawsACaptionInDesignModeAndShrinksAwayInRunMode) {
  ui::ControlHost design(false);
  ASSERT_EQ(Start(design), S_OK);
  EXPECT_EQ(
      design.Paint().Describe(),
      (std::vector<std::string>{"mode transparent", "fill 0,0,120,40 #000000", "textcolor #ff0000",
                                "text 0,0,120,40 \"Mailquarry ActiveX Control\""}));

  ui::ControlHost run(true);
  ASSERT_EQ(Start(run), S_OK);
  EXPECT_TRUE(run.Paint().Calls().empty());
  EXPECT_EQ(run.WindowRect(), ui::Rect::FromSize(10, 10, 1, 1));
}

TEST_F(ControlTest, ReportsItsClassToContainers) {
  ui::ControlHost host(true);
  ASSERT_EQ(Start(host), S_OK);
  std::vector<CLSID> pages;
  ASSERT_EQ(host.Control()->GetPropertyPages(&pages), S_OK);
  EXPECT_EQ(pages, std::vector<CLSID>{CLSID_MailquarryPropPage});
  DWORD status = 0;
  ASSERT_EQ(host.Control()->GetMiscStatus(&status), S_OK);
  EXPECT_EQ(status, 0x20191u);
}

}  // namespace
}  // namespace mq
