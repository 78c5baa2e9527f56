// SPDX-License-Identifier: LGPL-2.1-or-later
// The control hosted in this process over a Maildir, on Qt's offscreen
// platform: window creation and destruction, the Folder property, drawing,
// its dialogs, the collections' enumerators, and what clients still holding
// its collections see afterwards.
#include "control/mailquarry_ctrl.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <cstdlib>

#include "control/collection_enum.h"
#include "control/guids.h"
#include "control/prop_page.h"
#include "platform/com/testing/automation_client.h"
#include "platform/store/objects.h"
#include "platform/store/testing/maildir_fixture.h"
#include "platform/ui/control_host.h"
#include "platform/ui/dialogs.h"

namespace mq {
namespace {

using mqtest::Get;
using mqtest::Put;
// Inbox, A (with A1) and B.
class ControlTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "control_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
  }
  // The store made directly: this program has no registry to find it in.
  void SetUp() override {
    maildir.UseAsMailDir();
    maildir.AddFolder({"A", "A1"});
    maildir.AddFolder({"B"});
    CMailquarryCtrl::SetStoreMakerForTesting([](IStoreNamespace** out) {
      return store::CreateStoreNamespace(IID_IStoreNamespace, reinterpret_cast<void**>(out));
    });
  }
  void TearDown() override { CMailquarryCtrl::SetStoreMakerForTesting(nullptr); }

  HRESULT Start(ui::ControlHost& host, QWidget* parent = nullptr,
                ui::Rect rect = ui::Rect::FromSize(10, 10, 120, 40)) {
    HRESULT hr = host.Attach(com::MakeObject<CMailquarryCtrl>()->Identity());
    return FAILED(hr) ? hr : host.Activate(parent, rect);
  }
  com::ComPtr<IDispatch> Collection(ui::ControlHost& host, const char* name) {
    return Get(host.Dispatch(), name).Object();
  }

  store::testing::MaildirFixture maildir;
};

TEST_F(ControlTest, SelectsFoldersTellsADesignHostOnlyAndOffersItsPageAndAboutBox) {
  ui::ControlHost run(true);
  ASSERT_EQ(Start(run), S_OK);
  auto folders = Collection(run, "Folders");
  EXPECT_EQ(Put(run.Dispatch(), "Folder", SHORT{2}).hr, S_OK);
  EXPECT_TRUE(run.ChangedProperties().empty());
  EXPECT_GE(run.ModifiedNotifications(), 1);
  // The same objects for the control's whole life.
  EXPECT_EQ(Collection(run, "Folders"), folders);

  ui::ControlHost design(false);
  ASSERT_EQ(Start(design), S_OK);
  EXPECT_EQ(Put(design.Dispatch(), "Folder", SHORT{1}).hr, S_OK);
  EXPECT_EQ(design.ChangedProperties(), std::vector<DISPID>{2});

  // What containers read of the class, and its dialogs (their mechanics,
  // modal with OK as default, are the platform's tests).
  std::vector<CLSID> pages;
  ASSERT_EQ(run.Control()->GetPropertyPages(&pages), S_OK);
  EXPECT_EQ(pages, std::vector<CLSID>{CLSID_MailquarryPropPage});
  DWORD status = 0;
  ASSERT_EQ(run.Control()->GetMiscStatus(&status), S_OK);
  EXPECT_EQ(status, 0x20191u);
  QWidget parent;
  EXPECT_NE(com::MakeObject<CMailquarryPropPage>()->CreatePage(&parent), nullptr);
  bool shown = false;
  ui::testing::HandleNextModal([&](QDialog*) { shown = true; });
  EXPECT_EQ(mqtest::Call(run.Dispatch(), "AboutBox").hr, S_OK);
  EXPECT_TRUE(shown);
}

TEST_F(ControlTest, HeldReferencesStaySafeAfterTheWindowGoesAndAfterTheControlGoes) {
  com::ComPtr<IDispatch> folders;
  {
    ui::ControlHost host(true);
    ASSERT_EQ(Start(host), S_OK);
    folders = Collection(host, "Folders");
    ASSERT_EQ(host.Deactivate(), S_OK);
    // A window made again gets collections of its own.
    ASSERT_EQ(host.Control()->Activate(nullptr, ui::Rect::FromSize(0, 0, 5, 5)), S_OK);
    EXPECT_EQ(Get(Collection(host, "Folders"), "Count").Long(), 4);
    EXPECT_NE(Collection(host, "Folders"), folders);
  }
  EXPECT_EQ(Get(folders, "Count").Long(), 0);

  // A control released with its window still up lets go of everything too.
  {
    auto made = com::MakeObject<CMailquarryCtrl>();
    ASSERT_EQ(made->Activate(nullptr, ui::Rect::FromSize(0, 0, 5, 5)), S_OK);
    folders = made->GetFolders();
  }
  EXPECT_EQ(Get(folders, "Count").Long(), 0);
}

TEST_F(ControlTest, DesignModeShowsABlackBoxWithTheRedCaptionInTheMiddle) {
  ui::ControlHost design(false);
  ASSERT_EQ(Start(design), S_OK);
  EXPECT_EQ(
      design.Paint().Describe(),
      (std::vector<std::string>{"mode transparent", "fill 0,0,120,40 #000000", "textcolor #ff0000",
                                "text 0,0,120,40 \"Mailquarry ActiveX Control\""}));

  QWidget dialog;
  dialog.resize(320, 120);
  ui::ControlHost shown(false);
  ASSERT_EQ(Start(shown, &dialog, ui::Rect::FromSize(10, 10, 260, 60)), S_OK);
  QImage image = shown.Render();
  ASSERT_EQ(image.size(), QSize(260, 60));
  // Red text in the middle of a black box.
  int red = 0, redLeft = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (const QRgb p = image.pixel(x, y); qRed(p) > 200 && qGreen(p) < 60) {
        ++red;
        redLeft += x < 130;
        EXPECT_LT(std::abs(y - 30), 15) << x << "," << y;
      }
  EXPECT_GT(red, 100);
  EXPECT_LT(std::abs(2 * redLeft - red), red / 5);
  EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));

  // In run mode the control draws nothing and shrinks away.
  ui::ControlHost run(true);
  ASSERT_EQ(Start(run), S_OK);
  EXPECT_TRUE(run.Paint().Calls().empty());
  EXPECT_EQ(run.WindowRect(), ui::Rect::FromSize(10, 10, 1, 1));
}

// The folder names the next Next(count) delivers, with its result and count.
std::vector<std::string> Take(IEnumVARIANT* e, ULONG count, HRESULT* hr, ULONG* fetched) {
  std::vector<VARIANT> cells(count);
  for (VARIANT& slot : cells) slot.vt = VT_I4;  // not yet emptied
  *hr = e->Next(count, cells.data(), fetched);
  std::vector<std::string> names;
  for (VARIANT& slot : cells) {
    names.push_back(slot.vt == VT_DISPATCH && slot.pdispVal ? Get(slot.pdispVal, "Name").Str()
                                                            : "<" + std::to_string(slot.vt) + ">");
    VariantClear(&slot);
  }
  return names;
}

// What a client fetching several members at a time meets; walking the lists
// is the end-to-end tests'.
TEST_F(ControlTest, EnumeratorsCountAsTheInterfaceSays) {
  using Names = std::vector<std::string>;
  ui::ControlHost host(true);
  ASSERT_EQ(Start(host), S_OK);
  auto Enum = [&](const char* collection) {
    com::ComPtr<IEnumVARIANT> e;
    if (auto unknown = Get(Collection(host, collection), "_NewEnum").Unknown()) {
      EXPECT_EQ(unknown.As(&e), S_OK);
    }
    return e;
  };
  HRESULT hr;
  ULONG n = 7;
  EXPECT_EQ(Take(Enum("Messages").Get(), 1, &hr, &n), Names{"<0>"});  // no folder read yet
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(n, 0u);

  auto e = Enum("Folders");
  EXPECT_EQ(Take(e.Get(), 3, &hr, &n), (Names{"Inbox", "A", "A1"}));
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(Take(e.Get(), 2, &hr, &n), (Names{"B", "<0>"}));  // short: S_FALSE, rest emptied
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(1), S_OK);
  // Without a count only one member at a time; a refused call changes nothing.
  VARIANT cells[2];
  cells[0].vt = cells[1].vt = VT_I4;
  EXPECT_EQ(e->Next(2, cells, nullptr), E_INVALIDARG);
  EXPECT_EQ(cells[0].vt, VT_I4);
  EXPECT_EQ(e->Next(1, nullptr, &n), E_POINTER);
  EXPECT_EQ(Take(e.Get(), 1, &hr, nullptr), Names{"A"});
  EXPECT_EQ(e->Skip(5), S_FALSE);
  EXPECT_EQ(Take(e.Get(), 1, &hr, &n), Names{"<0>"});

  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(1), S_OK);
  com::ComPtr<IEnumVARIANT> copy;
  ASSERT_EQ(e->Clone(copy.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_NE(copy.Get(), e.Get());
  EXPECT_EQ(Take(copy.Get(), 2, &hr, &n), (Names{"A", "A1"}));
  EXPECT_EQ(Take(e.Get(), 1, &hr, &n), Names{"A"});  // each moves on its own

  CCollectionEnum::FailAllocationsForTesting(1);
  IEnumVARIANT* failed = e.Get();  // anything but null
  EXPECT_EQ(e->Clone(&failed), E_OUTOFMEMORY);
  EXPECT_EQ(failed, nullptr);
  EXPECT_EQ(Take(e.Get(), 1, &hr, &n), Names{"A1"});  // unchanged by the failure
  CCollectionEnum::FailAllocationsForTesting(2);
  EXPECT_FALSE(Enum("Folders"));
  EXPECT_FALSE(Enum("Folders"));
  EXPECT_TRUE(Enum("Folders"));
}

}  // namespace
}  // namespace mq
