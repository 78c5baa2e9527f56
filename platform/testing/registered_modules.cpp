// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/testing/registered_modules.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

// The modules a test loads at run time (the control, the store, the address
// book's vCard library, Qt's plugins) bring thread-local storage of their own.
// The sanitizer records such blocks with bounds that glibc 2.36 no longer
// gives it and crashes scanning them at the leak check in some memory
// layouts; without that tracking the leak check still runs, over everything
// else. Every test program that loads modules links this file.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "intercept_tls_get_addr=0";
}

namespace mqtest {

std::string BinDir() {
  const char* dir = std::getenv("MQ_BIN_DIR");
  return dir ? dir : "bin";
}

int RunCommand(const std::string& command, std::string* output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    if (output) output->append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RegisteredModules::RegisteredModules(std::vector<std::string> modules) {
  if (dir_.path().empty()) {
    ok_ = false;
    log_ = "cannot make a temporary directory";
    return;
  }
  for (const std::string& module : modules) ok_ = Regsvr(module) && ok_;
}

bool RegisteredModules::Regsvr(const std::string& module, bool unregister) {
  // regsvr loads the module too, and needs the same sanitizer default (see
  // the top of the file); its own options come from the environment.
  const char* asan = std::getenv("ASAN_OPTIONS");
  std::string options = asan && *asan ? std::string(asan) + ":" : std::string();
  std::string command = "ASAN_OPTIONS='" + options + "intercept_tls_get_addr=0' '" + BinDir() +
                        "/regsvr' " + (unregister ? "-u " : "") + "'" + BinDir() + "/" + module +
                        "'";
  return RunCommand(command, &log_) == 0;
}

}  // namespace mqtest
