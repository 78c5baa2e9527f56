// SPDX-License-Identifier: LGPL-2.1-or-later
// A temporary registry for one test program, with modules registered into it
// by the platform's own `regsvr` tool, as a user's installation registers them.
// $MAILQUARRY_REGISTRY points at it while the object lives.
//
//   mqtest::RegisteredModules registry;                 // MailStore.so, Mailquarry.ocx
//   ASSERT_TRUE(registry.Ok()) << registry.Log();
#pragma once

#include <string>
#include <vector>

#include "platform/testing/scratch.h"

namespace mqtest {

// $MQ_BIN_DIR (set by CTest for every test), where the modules and tools are.
std::string BinDir();

// Runs a shell command; returns its exit status and appends its output
// (stdout and stderr) to `output`.
int RunCommand(const std::string& command, std::string* output);

class RegisteredModules {
 public:
  // Module file names in BinDir(), registered in this order.
  explicit RegisteredModules(std::vector<std::string> modules = {"MailStore.so", "Mailquarry.ocx"});
  RegisteredModules(const RegisteredModules&) = delete;
  RegisteredModules& operator=(const RegisteredModules&) = delete;

  // Every regsvr run succeeded.
  bool Ok() const { return ok_; }
  // What the regsvr runs printed.
  const std::string& Log() const { return log_; }
  const std::string& RegistryFile() const { return file_; }
  // Runs `regsvr [-u] <BinDir()/module>`; true when it succeeded.
  bool Regsvr(const std::string& module, bool unregister = false);

 private:
  TempDir dir_;
  std::string file_ = dir_ / "registry";
  ScopedEnv env_{"MAILQUARRY_REGISTRY", file_};
  bool ok_ = true;
  std::string log_;
};

}  // namespace mqtest
