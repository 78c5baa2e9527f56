// The control and its dialogs on Qt's offscreen platform. With
// MQ_SCREENSHOT_DIR set, the design-mode control and the About box are also
// saved there as PNG files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <cstdlib>

#include "control/about_box.h"
#include "control/guids.h"
#include "control/mailquarry_ctrl.h"
#include "control/prop_page.h"
#include "platform/ui/control_host.h"
#include "tests/support/automation_client.h"

namespace mq {
namespace {

HRESULT NoStore(IStoreNamespace**) {
  return REGDB_E_CLASSNOTREG;
}

void SaveScreenshot(const QImage& image, const char* name) {
  const char* dir = std::getenv("MQ_SCREENSHOT_DIR");
  if (dir && *dir) image.save(QString::fromUtf8(dir) + "/" + name, "PNG");
}

class ControlGuiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "control_gui_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
  }
  void SetUp() override { CMailquarryCtrl::SetStoreMakerForTesting(&NoStore); }
  void TearDown() override { CMailquarryCtrl::SetStoreMakerForTesting(nullptr); }
};

bool IsRed(QRgb p) {
  return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60;
}

TEST_F(ControlGuiTest, DesignModeShowsABlackBoxWithTheRedCaptionInTheMiddle) {
  QWidget dialog;
  dialog.resize(320, 120);
  ui::ControlHost host(false);
  ASSERT_EQ(host.Attach(com::MakeObject<CMailquarryCtrl>()->Identity()), S_OK);
  ASSERT_EQ(host.Activate(&dialog, ui::Rect::FromSize(10, 10, 260, 60)), S_OK);
  QImage image = host.Render();
  ASSERT_EQ(image.size(), QSize(260, 60));
  SaveScreenshot(image, "control-design-mode.png");

  int red = 0, redLeft = 0, redRight = 0, other = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      QRgb p = image.pixel(x, y);
      if (IsRed(p)) {
        ++red;
        EXPECT_LT(std::abs(y - 30), 15) << x << "," << y;
        (x < 130 ? redLeft : redRight)++;
      } else if (qRed(p) < 40 && qGreen(p) < 40 && qBlue(p) < 40) {
      } else if (qGreen(p) > 40 || qBlue(p) > 40) {
        ++other;  // anti-aliased text edges are shades of red, nothing else
      }
    }
  EXPECT_GT(red, 100);
  EXPECT_EQ(other, 0);
  // Centred: about as much caption on each side of the middle.
  EXPECT_LT(std::abs(redLeft - redRight), red / 5);
  for (QPoint corner : {QPoint(0, 0), QPoint(259, 0), QPoint(0, 59), QPoint(259, 59)})
    EXPECT_EQ(image.pixel(corner), qRgb(0, 0, 0));
}

TEST_F(ControlGuiTest, AboutBoxShowsItsCaptionAndLines) {
  ui::ControlHost host(true);
  ASSERT_EQ(host.Attach(com::MakeObject<CMailquarryCtrl>()->Identity()), S_OK);
  ASSERT_EQ(host.Activate(nullptr, ui::Rect::FromSize(0, 0, 10, 10)), S_OK);
  QString caption;
  QStringList lines;
  bool hasOk = false;
  ui::testing::HandleNextModal([&](QDialog* dialog) {
    caption = dialog->windowTitle();
    for (int i = 0;; ++i) {
      auto* label = dialog->findChild<QLabel*>(QStringLiteral("line%1").arg(i));
      if (!label) break;
      lines << label->text();
    }
    for (auto* button : dialog->findChildren<QPushButton*>())
      hasOk = hasOk || (button->text().remove('&') == "OK" && button->isDefault());
    SaveScreenshot(ui::RenderWidget(dialog), "about-box.png");
  });
  EXPECT_EQ(mqtest::Call(host.Dispatch(), "AboutBox").hr, S_OK);
  EXPECT_EQ(caption, "About Mailquarry Control");
  ASSERT_EQ(lines.size(), 2);
  EXPECT_EQ(lines[0], "Mailquarry Control, Version 1.0");
  EXPECT_TRUE(lines[1].contains("the Mailquarry developers"));
  EXPECT_TRUE(hasOk);
}

TEST_F(ControlGuiTest, ThePropertyPageIsGeneralWithItsPlaceholderText) {
  auto page = com::MakeObject<CMailquarryPropPage>();
  QWidget parent;
  QWidget* widget = page->CreatePage(&parent);
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(widget->windowTitle(), "General");
  auto labels = widget->findChildren<QLabel*>();
  ASSERT_EQ(labels.size(), 1);
  EXPECT_EQ(labels[0]->text(), kPropPageText);
}

}  // namespace
}  // namespace mq
