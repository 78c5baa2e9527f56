// SPDX-License-Identifier: LGPL-2.1-or-later
// A GoogleTest fixture for test programs that drive the real modules: the
// suite shares one temporary registry with the store and the control
// registered, and each test is skipped when the store module is not built.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/testing/registered_modules.h"

namespace mqtest {

class RegisteredModulesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { registry_ = new RegisteredModules(); }
  static void TearDownTestSuite() {
    delete registry_;
    registry_ = nullptr;
  }

  // Call first in SetUp: a failure or a skip here keeps the test body from running.
  static void RequireRegisteredModules() {
    if (access((BinDir() + "/MailStore.so").c_str(), F_OK) != 0)
      GTEST_SKIP() << "the store module is not built";
    ASSERT_TRUE(registry_->Ok()) << registry_->Log();
  }

  static inline RegisteredModules* registry_ = nullptr;
};

}  // namespace mqtest
