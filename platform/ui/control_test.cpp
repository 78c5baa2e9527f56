// SPDX-License-Identifier: LGPL-2.1-or-later
// The hosting machinery without any GUI: no QApplication exists here. (An
// object that is no control is refused with E_NOINTERFACE: the Python
// client's hosting test, test_control.py, over a module's plain object.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ui/control_host.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/test_control.h"

namespace ui {
namespace {

using test::TestCtrl;
using ::testing::ElementsAre;

class HeadlessHostTest : public ::testing::Test {
 protected:
  com::ComPtr<TestCtrl> MakeCtrl() { return com::MakeObject<TestCtrl>(&log); }
  std::vector<std::string> log;
};

TEST_F(HeadlessHostTest, DesignModeCreatesPaintsAndDestroys) {
  ControlHost host(/*userMode=*/false);
  auto ctrl = MakeCtrl();
  EXPECT_EQ(host.Attach(nullptr), E_POINTER);
  ASSERT_EQ(host.Attach(ctrl->Identity()), S_OK);
  ASSERT_TRUE(host.Dispatch());
  EXPECT_EQ(ctrl->value, 7) << "attaching initialises to defaults";
  EXPECT_EQ(host.Create(test::kTestCtrlClsid), E_UNEXPECTED) << "a host holds one control";

  const Rect rect = Rect::FromSize(10, 20, 100, 50);
  EXPECT_EQ(host.Activate(nullptr, {5, 5, 4, 4}), E_INVALIDARG);
  EXPECT_TRUE(log.empty());
  ASSERT_EQ(host.Activate(nullptr, rect), S_OK);
  EXPECT_EQ(host.Activate(nullptr, rect), E_UNEXPECTED);
  EXPECT_EQ(host.Control()->SetObjectRect({5, 5, 4, 4}), E_INVALIDARG);
  EXPECT_THAT(log, ElementsAre("create, window exists"));
  EXPECT_EQ(host.Window(), nullptr);
  EXPECT_EQ(host.WindowRect(), rect);

  EXPECT_EQ(host.Deactivate(), S_OK);
  EXPECT_EQ(host.Deactivate(), S_FALSE);
  EXPECT_THAT(log, ElementsAre("create, window exists", "destroy, window gone"));
  EXPECT_EQ(host.WindowRect(), Rect{});

  // The window can be made again.
  EXPECT_EQ(host.Activate(nullptr, rect), S_OK);
  host.Close();
  EXPECT_EQ(log.size(), 4u);
  EXPECT_FALSE(host.HasControl());
}

TEST_F(HeadlessHostTest, FailedCreationLeavesNoWindowAndCleansUp) {
  ControlHost host(true);
  auto ctrl = MakeCtrl();
  ctrl->failCreate = true;
  ASSERT_EQ(host.Attach(ctrl->Identity()), S_OK);
  EXPECT_EQ(host.Activate(nullptr, Rect::FromSize(0, 0, 5, 5)), E_FAIL);
  EXPECT_THAT(log, ElementsAre("create, window exists", "destroy, window gone"));
  EXPECT_EQ(host.Deactivate(), S_FALSE);
}

TEST_F(HeadlessHostTest, PropertyExchangeKeepsValuesAndRestampsTheVersion) {
  auto ctrl = MakeCtrl();
  IPlatformControl* pc = ctrl.Get();
  PropertyBag bag;
  ctrl->value = 12;
  ASSERT_EQ(pc->Save(&bag, true), S_OK);
  EXPECT_EQ(bag, (PropertyBag{{"_Version", "1.0"}, {"Value", "12"}}));

  // Data of another stamp loads, and is saved back under 1.0.
  ASSERT_EQ(pc->Load({{"_Version", "2.3"}, {"Value", "42"}}), S_OK);
  EXPECT_EQ(ctrl->value, 42);
  bag.clear();
  pc->Save(&bag, true);
  EXPECT_EQ(bag.at("_Version"), "1.0");

  // Malformed or out-of-range values fall back to the default.
  for (const char* bad : {"x", "99999", "", "12abc"}) {
    ASSERT_EQ(pc->Load({{"_Version", "junk"}, {"Value", bad}}), S_OK);
    EXPECT_EQ(ctrl->value, 7) << bad;
  }
}

// The pages themselves are the GUI test's (GuiTest.PropertiesVerbShowsThePages...).
TEST_F(HeadlessHostTest, NoDialogsWithoutAGui) {
  auto ctrl = MakeCtrl();
  IPlatformControl* pc = ctrl.Get();
  EXPECT_FALSE(GuiAvailable());
  EXPECT_EQ(pc->DoPropertiesVerb(nullptr), S_FALSE);
  // Returns at once, without even making the icon (no pixmaps without a GUI).
  ShowAboutBox({"About", {"line"}, {}, [] {
                  ADD_FAILURE() << "icon made without a GUI";
                  return QIcon();
                }});
  EXPECT_EQ(pc->Activate(reinterpret_cast<QWidget*>(pc), Rect{}), E_INVALIDARG)
      << "a parent widget cannot exist without a QApplication";
}

TEST_F(HeadlessHostTest, ControlOutlivingItsHostFallsBackToDefaults) {
  auto ctrl = MakeCtrl();
  {
    ControlHost host(false);
    ASSERT_EQ(host.Attach(ctrl->Identity()), S_OK);
    ASSERT_EQ(host.Activate(nullptr, Rect::FromSize(0, 0, 4, 4)), S_OK);
    EXPECT_FALSE(ctrl->AmbientUserMode());
  }
  EXPECT_THAT(log, ElementsAre("create, window exists", "destroy, window gone"));
  EXPECT_EQ(ctrl->ClientSite(), nullptr);
  EXPECT_TRUE(ctrl->AmbientUserMode());
  ctrl->SetValue(1);  // no site to tell: must not crash
}

}  // namespace
}  // namespace ui
