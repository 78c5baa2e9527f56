// SPDX-License-Identifier: LGPL-2.1-or-later
// A GoogleTest fixture for the end-to-end tests of the control: the modules
// registered into the suite's temporary registry, a Maildir fixture as
// $MAILDIR, and the control created by its ProgID as a client creates it,
// hosted headless in run mode and driven by name through IDispatch only.
#pragma once

#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "platform/activation/activation.h"
#include "platform/com/testing/automation_client.h"
#include "platform/store/testing/maildir_fixture.h"
#include "platform/testing/registered_modules_test.h"
#include "platform/ui/control_host.h"

namespace mqtest {

class HostedControlTest : public RegisteredModulesTest {
 protected:
  void SetUp() override {
    RequireRegisteredModules();
    fixture_.UseAsMailDir();
  }
  void TearDown() override {
    control_.Reset();
    folders_.Reset();
    messages_.Reset();
    contacts_.Reset();
    host_.reset();
  }

  // Hosts a new control over the store $MAILDIR names now, with the
  // collections at hand.
  void Start() {
    host_ = std::make_unique<ui::ControlHost>(/*userMode=*/true);
    CLSID clsid{};
    ASSERT_EQ(com::ClsidFromProgId("MAILQUARRY.MailquarryCtrl.1", &clsid), S_OK);
    ASSERT_EQ(host_->Create(clsid), S_OK);
    ASSERT_EQ(host_->Activate(nullptr, ui::Rect::FromSize(0, 0, 100, 30)), S_OK);
    control_ = host_->Dispatch();
    folders_ = Get(control_, "Folders").Object();
    messages_ = Get(control_, "Messages").Object();
    contacts_ = Get(control_, "Contacts").Object();
    ASSERT_TRUE(folders_ && messages_ && contacts_);
  }

  // Every regular file below `dir`, as paths relative to it.
  static std::set<std::string> FilesBelow(const std::string& dir) {
    namespace fs = std::filesystem;
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
      if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), dir).string());
    return files;
  }

  store::testing::MaildirFixture fixture_;
  std::unique_ptr<ui::ControlHost> host_;
  com::ComPtr<IDispatch> control_, folders_, messages_, contacts_;
};

}  // namespace mqtest
