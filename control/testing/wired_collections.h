// The folder and message collections wired to a fake store as the control
// wires them; a test fills `state_` and calls Wire() in its SetUp.
#pragma once

#include <gtest/gtest.h>

#include "control/folders.h"
#include "control/messages.h"
#include "control/testing/fake_store.h"

namespace mq::testing {

class WiredCollections : public ::testing::Test {
 protected:
  void Wire() {
    context_.store = MakeFakeStore(state_);
    context_.folders = folders_.Get();
    context_.messages = messages_.Get();
    folders_->Attach(&context_);
    messages_->Attach(&context_);
    folders_->LoadFolderList(FOLDERID_ROOT);
  }
  void TearDown() override {
    folders_->Detach();
    messages_->Detach();
  }

  FakeStoreState state_;
  StoreContext context_;
  com::ComPtr<CFolders> folders_ = com::MakeObject<CFolders>();
  com::ComPtr<CMessages> messages_ = com::MakeObject<CMessages>();
};

}  // namespace mq::testing
