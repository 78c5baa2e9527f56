// The hosting machinery and the dialogs on Qt's offscreen platform.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <cstdlib>

#include "platform/ui/control_host.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/prompts.h"
#include "platform/ui/test_control.h"

namespace ui {
namespace {

using test::TestCtrl;
using ::testing::ElementsAre;

class GuiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "ui_gui_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
  }
  com::ComPtr<TestCtrl> MakeCtrl() { return com::MakeObject<TestCtrl>(&log); }
  std::vector<std::string> log;
};

bool IsRed(QRgb p) {
  return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60;
}

TEST_F(GuiTest, DesignModeRendersBlackBoxWithRedCentredCaption) {
  QWidget dialog;
  dialog.resize(300, 200);
  ControlHost host(/*userMode=*/false);
  ASSERT_EQ(host.Attach(MakeCtrl()->Identity()), S_OK);
  ASSERT_EQ(host.Activate(&dialog, Rect::FromSize(20, 30, 200, 60)), S_OK);
  QWidget* window = host.Window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->parentWidget(), &dialog);
  EXPECT_EQ(window->geometry(), QRect(20, 30, 200, 60));

  QImage image = host.Render();
  ASSERT_EQ(image.size(), QSize(200, 60));
  for (QPoint corner : {QPoint(0, 0), QPoint(199, 0), QPoint(0, 59), QPoint(199, 59)})
    EXPECT_EQ(image.pixel(corner), qRgb(0, 0, 0)) << corner.x() << "," << corner.y();
  // The caption's red pixels sit around the centre, none near the edges.
  int central = 0, outside = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (!IsRed(image.pixel(x, y))) continue;
      bool nearCentre = std::abs(y - 30) < 15 && std::abs(x - 100) < 80;
      ++(nearCentre ? central : outside);
    }
  }
  EXPECT_GT(central, 20);
  EXPECT_EQ(outside, 0);
  EXPECT_EQ(host.Window()->size(), QSize(200, 60));
}

TEST_F(GuiTest, RunModeShrinksToOnePixelOnFirstPaint) {
  QWidget dialog;
  dialog.resize(300, 200);
  ControlHost host(/*userMode=*/true);
  ASSERT_EQ(host.Attach(MakeCtrl()->Identity()), S_OK);
  ASSERT_EQ(host.Activate(&dialog, Rect::FromSize(217, 135, 14, 14)), S_OK);
  host.Render();
  EXPECT_EQ(host.Window()->geometry(), QRect(217, 135, 1, 1));
  EXPECT_EQ(host.WindowRect(), Rect::FromSize(217, 135, 1, 1));
}

TEST_F(GuiTest, WindowGoesWithItsParentAndTheHookRuns) {
  auto dialog = std::make_unique<QWidget>();
  ControlHost host(true);
  auto ctrl = MakeCtrl();
  ASSERT_EQ(host.Attach(ctrl->Identity()), S_OK);
  ASSERT_EQ(host.Activate(dialog.get(), Rect::FromSize(0, 0, 10, 10)), S_OK);
  dialog.reset();
  EXPECT_THAT(log, ElementsAre("create, window exists", "destroy, window gone"));
  EXPECT_FALSE(ctrl->HasWindow());
  EXPECT_EQ(host.Window(), nullptr);
  EXPECT_EQ(host.Deactivate(), S_FALSE);
}

TEST_F(GuiTest, AboutBoxShowsCaptionLinesAndClosesWithOk) {
  AboutBoxContent content{
      "About Mailquarry Control",
      {"Mailquarry Control, Version 1.0", "Copyright (C) 2026 the Mailquarry developers"},
      {}};
  bool seen = false;
  testing::HandleNextModal([&](QDialog* dialog) {
    seen = true;
    EXPECT_EQ(dialog->windowTitle(), "About Mailquarry Control");
    EXPECT_EQ(dialog->findChild<QLabel*>("line0")->text(), "Mailquarry Control, Version 1.0");
    EXPECT_EQ(dialog->findChild<QLabel*>("line1")->text(),
              "Copyright (C) 2026 the Mailquarry developers");
    DialogUnits du(dialog->font());
    EXPECT_EQ(dialog->size(), QSize(du.X(260), du.Y(55)));
    EXPECT_FALSE(dialog->findChild<QLabel*>("icon")->pixmap().isNull());
    auto* ok = dialog->findChild<QPushButton*>("ok");
    ASSERT_TRUE(ok);
    EXPECT_TRUE(ok->isDefault());
    ok->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
  });
  ShowAboutBox(content);
  EXPECT_TRUE(seen);

  // Without a GUI nothing is shown (and nothing blocks).
  setenv("MQ_HEADLESS", "1", 1);
  EXPECT_FALSE(GuiAvailable());
  ShowAboutBox(content);
  unsetenv("MQ_HEADLESS");
}

TEST_F(GuiTest, AboutBoxRendersForScreenshots) {
  QImage image = RenderAboutBox({"About", {"Version 1.0"}, {}});
  auto dialog = MakeAboutBox({"About", {"Version 1.0"}, {}});
  EXPECT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), dialog->size());
}

TEST_F(GuiTest, MessagePromptIsAModalDialogTestsCanAnswer) {
  QtUserPrompts prompts;
  QString text;
  testing::HandleNextModal([&](QDialog* dialog) {
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) text = box->text();
  });
  prompts.ShowMessage(nullptr, "Mailsift", "Export complete", UserPrompts::Icon::kInformation);
  EXPECT_EQ(text, "Export complete");
}

TEST_F(GuiTest, DialogUnitsFollowTheFont) {
  DialogUnits du(8, 16);
  EXPECT_EQ(du.ToPixels(4, 8, 260, 55), QRect(8, 16, 520, 110));
  PropertyPageWidget page("General", "placeholder text", 250, 62);
  DialogUnits fontUnits(page.font());
  EXPECT_EQ(page.size(), QSize(fontUnits.X(250), fontUnits.Y(62)));
  EXPECT_EQ(page.Caption(), "General");
  EXPECT_EQ(page.findChild<QLabel*>("placeholder")->text(), "placeholder text");
}

class PagedCtrl : public TestCtrl {
 public:
  using TestCtrl::TestCtrl;

 protected:
  QWidget* CreatePropertyPage(const CLSID& clsid, QWidget* parent) override {
    if (!(clsid == test::kTestPageClsid)) return nullptr;
    return new PropertyPageWidget("General", "nothing to set", 250, 62, parent);
  }
};

TEST_F(GuiTest, PropertiesVerbShowsThePagesModally) {
  ControlHost host(false);
  auto ctrl = com::MakeObject<PagedCtrl>(&log);
  ASSERT_EQ(host.Attach(ctrl->Identity()), S_OK);
  QStringList tabs;
  QString caption;
  testing::HandleNextModal([&](QDialog* dialog) {
    caption = dialog->windowTitle();
    auto* tabWidget = dialog->findChild<QTabWidget*>();
    for (int i = 0; tabWidget && i < tabWidget->count(); ++i) tabs << tabWidget->tabText(i);
  });
  EXPECT_EQ(host.Control()->DoPropertiesVerb(nullptr), S_OK);
  EXPECT_EQ(caption, "Test Control Properties");
  EXPECT_EQ(tabs, QStringList{"General"});
}

}  // namespace
}  // namespace ui
