// SPDX-License-Identifier: LGPL-2.1-or-later
// Hosting a control created by class id from a module of its own, which
// brings its own copy of the UI library.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <cstdlib>

#include "platform/activation/activation.h"
#include "platform/registry/registry.h"
#include "platform/testing/scratch.h"
#include "platform/ui/control_host.h"
#include "platform/ui/test_control.h"

namespace ui {
namespace {

TEST(HostActivationTest, ControlFromAModulePaintsThroughQt) {
  int argc = 1;
  char name[] = "ui_host_activation_test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  mqtest::TempDir dir;
  mqtest::ScopedEnv registry("MAILQUARRY_REGISTRY", dir / "registry");
  {
    ControlHost host(/*userMode=*/false);
    EXPECT_EQ(host.Create(test::kTestCtrlClsid), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(host.HasControl());
    const std::string key =
        "CLSID\\" + com::GuidToString(test::kTestCtrlClsid) + "\\InprocServer32";
    const std::string module = std::string(std::getenv("MQ_BIN_DIR")) + "/ui_test_control.so";
    ASSERT_EQ(reg::Edit().SetString(reg::Root::ClassesRoot, key, "", module).Commit(), S_OK);

    QWidget dialog;
    dialog.resize(300, 200);
    ASSERT_EQ(host.Create(test::kTestCtrlClsid), S_OK);
    EXPECT_EQ(host.Create(test::kTestCtrlClsid), E_UNEXPECTED);
    ASSERT_TRUE(host.Dispatch());
    ASSERT_EQ(host.Activate(&dialog, Rect::FromSize(10, 10, 120, 40)), S_OK);
    QImage image = host.Render();
    ASSERT_EQ(image.size(), QSize(120, 40));
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
    int red = 0;
    for (int x = 0; x < image.width(); ++x) red += qRed(image.pixel(x, 20)) > 200;
    EXPECT_GT(red, 0) << "the module's copy of the UI library paints through Qt";
  }
  CoFreeUnusedLibraries();
}

}  // namespace
}  // namespace ui
