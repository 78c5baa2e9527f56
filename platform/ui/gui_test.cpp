// SPDX-License-Identifier: LGPL-2.1-or-later
// The hosting machinery and the dialogs on Qt's offscreen platform.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include "platform/ui/click_testing.h"
#include "platform/ui/control_host.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/prompts.h"
#include "platform/ui/test_control.h"

namespace ui {
namespace {

using test::TestCtrl;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class GuiTest : public ::testing::Test {
 protected:
  com::ComPtr<TestCtrl> MakeCtrl() { return com::MakeObject<TestCtrl>(&log); }
  std::vector<std::string> log;
};

// Painting is the control's test (its design mode, rendered in a dialog).
TEST_F(GuiTest, WindowSitsInItsParentAndGoesWithItAndTheHookRuns) {
  auto dialog = std::make_unique<QWidget>();
  ControlHost host(true);
  auto ctrl = MakeCtrl();
  ASSERT_EQ(host.Attach(ctrl->Identity()), S_OK);
  ASSERT_EQ(host.Activate(dialog.get(), Rect::FromSize(20, 30, 200, 60)), S_OK);
  ASSERT_NE(host.Window(), nullptr);
  EXPECT_EQ(host.Window()->parentWidget(), dialog.get());
  EXPECT_EQ(host.Window()->geometry(), QRect(20, 30, 200, 60));
  dialog.reset();
  EXPECT_THAT(log, ElementsAre("create, window exists", "destroy, window gone"));
  EXPECT_FALSE(ctrl->HasWindow());
  EXPECT_EQ(host.Window(), nullptr);
  EXPECT_EQ(host.Deactivate(), S_FALSE);
}

// The caption and lines are the control's own strings; here, the box's
// size, its icon, and an OK that a click reaches.
TEST_F(GuiTest, AboutBoxIsSizedInDialogUnitsAndClosesWithAClickOnOk) {
  AboutBoxContent content{"About", {"Version 1.0", "A second line"}, {}};
  auto about = MakeAboutBox(content);
  DialogUnits du(about->font());
  EXPECT_EQ(about->size(), QSize(du.X(260), du.Y(55)));
  EXPECT_FALSE(about->findChild<QLabel*>("icon")->pixmap().isNull());
  about->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(about.get()));
  EXPECT_THAT(testing::CoveredChildren(about.get()), IsEmpty());
  auto* ok = about->findChild<QPushButton*>("ok");
  EXPECT_TRUE(ok->isDefault());
  testing::Click(ok);
  EXPECT_EQ(about->result(), QDialog::Accepted);
  EXPECT_FALSE(about->isVisible());
}

TEST_F(GuiTest, PropertiesVerbShowsThePagesModallyAndOkTakesAClick) {
  ControlHost host(false);
  ASSERT_EQ(host.Attach(MakeCtrl()->Identity()), S_OK);
  QStringList tabs;
  QString caption;
  std::vector<std::string> covered{"the sheet was not shown"};
  int result = -1;
  testing::HandleNextModal([&](QDialog* sheet) {
    caption = sheet->windowTitle();
    auto* tabWidget = sheet->findChild<QTabWidget*>();
    for (int i = 0; tabWidget && i < tabWidget->count(); ++i) tabs << tabWidget->tabText(i);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    covered = testing::CoveredChildren(sheet);
    testing::Click(sheet->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok));
    result = sheet->result();
  });
  EXPECT_EQ(host.Control()->DoPropertiesVerb(nullptr), S_OK);
  EXPECT_EQ(caption, "Test Control Properties");
  EXPECT_EQ(tabs, QStringList{"General"});
  EXPECT_THAT(covered, IsEmpty());
  EXPECT_EQ(result, QDialog::Accepted);
}

// Frames and captions given after the controls they frame or touch, as
// templates give them: a click still reaches the control under the pointer,
// a button looks pressed while the mouse button is held on it, and a frame
// is drawn beneath the controls wherever the template lists it.
TEST_F(GuiTest, NoTemplateOrderHidesAControlFromTheMouse) {
  const DialogItem button{7, ItemKind::kPushButton, "Press", kTabStop, 20, 20, 60, 14};
  const DialogItem radio{8, ItemKind::kRadioButton, "Choice", kTabStop | kGroup, 20, 38, 60, 10};
  const DialogItem frame{kNoId, ItemKind::kGroupBox, {}, kNoStyle, 5, 5, 100, 50};
  const DialogItem caption{kNoId, ItemKind::kStatic, "A caption", kNoStyle, 10, 22, 90, 26};
  const DialogItem icon{kNoId, ItemKind::kIcon, {}, kNoStyle, 18, 18, 20, 20};
  const struct {
    const char* name;
    std::vector<DialogItem> items;
  } cases[] = {
      {"frame after the controls", {button, radio, frame}},
      {"frame before the controls", {frame, button, radio}},
      {"caption after the controls", {button, radio, caption}},
      {"icon after the controls", {button, radio, icon}},
  };
  std::vector<QImage> looks;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QDialog dialog;
    const DialogTemplate tmpl{"Frames", "Arial", 8, 110, 60, c.items};
    const std::map<int, QWidget*> items = BuildDialog(tmpl, &dialog);
    auto* press = static_cast<QPushButton*>(items.at(7));
    auto* choice = static_cast<QRadioButton*>(items.at(8));
    int clicks = 0;
    QObject::connect(press, &QPushButton::clicked, [&] { ++clicks; });
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_THAT(testing::CoveredChildren(&dialog), IsEmpty());
    looks.push_back(dialog.grab().toImage());

    testing::PressAt(press, testing::Centre(press));
    EXPECT_TRUE(press->isDown());
    testing::ReleaseAt(press, testing::Centre(press));
    EXPECT_EQ(clicks, 1);
    // On its circle, where a person clicks a radio button.
    testing::ClickAt(choice, QPoint(4, choice->height() / 2));
    EXPECT_TRUE(choice->isChecked());
  }
  EXPECT_TRUE(looks[0] == looks[1]) << "the frame listed last is drawn over the controls";
}

// The real browser opens on a directory with nothing typed in, so that Enter
// picks that directory at once; a start that does not exist opens at home.
TEST_F(GuiTest, TheFolderBrowserOpensOnADirectoryWithNothingTyped) {
  QTemporaryDir existing;
  const struct {
    QString start;
    QString picked;
  } cases[] = {
      {existing.path(), existing.path()},
      {existing.path() + "/Desktop", QDir::homePath()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start.toStdString());
    QString typed = "not shown";
    testing::HandleNextModal([&](QDialog* dialog) {
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      ASSERT_NE(name, nullptr);
      typed = name->text();
      // A typed name that does not exist would answer Enter with a message box.
      if (typed.isEmpty()) QTest::keyClick(dialog, Qt::Key_Return);
    });
    const QString picked = QtUserPrompts().BrowseForDirectory(nullptr, "Pick", c.start);
    EXPECT_EQ(typed.toStdString(), "");
    EXPECT_EQ(picked.toStdString(), c.picked.toStdString());
  }
}

}  // namespace
}  // namespace ui

// The application lives in main, so it is gone before the process's exit
// handlers run (Qt's input devices, made by the first mouse event, must go
// before Qt's own globals do).
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
