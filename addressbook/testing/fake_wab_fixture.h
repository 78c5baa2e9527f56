// A test fixture around the fake address-book library: a private registry
// that names the fake as the address-book library, the fake loaded (so its
// state outlives every connection) and reset, and a small book to fill it.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "addressbook/testing/fake_wab.h"
#include "platform/registry/registry.h"

namespace mq::testing {

class FakeWabTest : public ::testing::Test {
 protected:
  static std::string FakePath() {
    const char* bin = std::getenv("MQ_BIN_DIR");
    return std::string(bin ? bin : "bin") + "/fakewab/WAB32.DLL";
  }

  void SetUp() override {
    char dir[] = "/tmp/mq-wab-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    setenv("MAILQUARRY_REGISTRY", (dir_ + "/registry").c_str(), 1);
    // The registry names the fake as the address-book library.
    reg::Edit edit;
    edit.SetString(reg::Root::LocalMachine, WAB_DLL_PATH_KEY, "", FakePath());
    ASSERT_EQ(edit.Commit(), S_OK);
    library_ = dlopen(FakePath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    auto state = reinterpret_cast<FakeWabStateFn>(dlsym(library_, kFakeWabStateFunction));
    ASSERT_NE(state, nullptr);
    wab_ = state();
    wab_->Reset();
  }
  void TearDown() override {
    if (wab_) {
      EXPECT_EQ(wab_->liveBuffers, 0) << "buffers of the address book not given back";
      EXPECT_EQ(wab_->badFrees, 0);
      EXPECT_EQ(wab_->liveInterfaces, 0) << "interfaces of the address book not released";
    }
    if (library_) dlclose(library_);
    unsetenv("MAILQUARRY_REGISTRY");
    std::remove((dir_ + "/registry").c_str());
    rmdir(dir_.c_str());
  }

  // Alpha (its own display name differing from the table's, and a tag the
  // contact list does not read), a group, Beta. Which text lands in which
  // field is the contacts' end-to-end test's, over the real book.
  void FillBook() {
    wab_->entries = {{{0xA1, 0x00, 0x7F},
                      MAPI_MAILUSER,
                      "Alpha",
                      {{PR_DISPLAY_NAME, "Alpha's own name"},
                       {PR_EMAIL_ADDRESS, "alpha@example.org"},
                       {PR_TITLE, "title"},
                       {PROP_TAG(PT_STRING8, 0x6600), "unknown"}}},
                     {{0x6D}, MAPI_DISTLIST, "Group", {}},
                     {{0xB2}, MAPI_MAILUSER, "Beta", {{PR_EMAIL_ADDRESS, "beta@example.org"}}}};
  }

  std::string dir_;
  void* library_ = nullptr;
  FakeWab* wab_ = nullptr;
};

}  // namespace mq::testing
