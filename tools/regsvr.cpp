// SPDX-License-Identifier: LGPL-2.1-or-later
// regsvr [-u] [--system] MODULE: loads an in-process server and calls its
// DllRegisterServer (or, with -u, DllUnregisterServer), printing the result.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com/class_factory.h"
#include "platform/registry/registry.h"
#include "tools/command_line.h"

namespace {

// Makes the system file's directories and the file itself readable by every
// user (the registry makes a user's own file private), whatever the umask.
bool PrepareSystemFile(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string dir = path.substr(0, slash);
    if (mkdir(dir.c_str(), 0755) == 0) {
      chmod(dir.c_str(), 0755);
    } else if (errno != EEXIST) {
      std::fprintf(stderr, "regsvr: cannot create %s: %s\n", dir.c_str(), std::strerror(errno));
      return false;
    }
  }
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd >= 0) {
    fchmod(fd, 0644);
    close(fd);
  } else if (errno != EEXIST) {
    std::fprintf(stderr, "regsvr: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  static const char kUsage[] =
      "usage: regsvr [-u] [--system] MODULE\n"
      "Registers the in-process server MODULE (DllRegisterServer), or with -u\n"
      "unregisters it (DllUnregisterServer).\n"
      "  --system  in the system-wide registry (the first mailquarry/registry\n"
      "            under $XDG_CONFIG_DIRS, default /etc/xdg) instead of the user's\n";
  tools::CommandLine line = tools::ParseCommandLine(argc, argv, kUsage, {"-u", "--system"});
  if (line.exitStatus >= 0) return line.exitStatus;
  bool unregister = false;
  bool system = false;
  for (const char* option : line.options) {
    bool& flag = std::strcmp(option, "-u") == 0 ? unregister : system;
    if (flag) line.operands.clear();  // an option given twice is wrong usage
    flag = true;
  }
  if (line.operands.size() != 1) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (system) {
    // The module's own copy of the registry writes the file that
    // $MAILQUARRY_REGISTRY names; naming the system file there makes the
    // system file the only one this registration reads and writes.
    const std::string path = reg::SystemRegistryPath();
    if (!PrepareSystemFile(path)) return 1;
    setenv("MAILQUARRY_REGISTRY", path.c_str(), 1);
  }
  const char* module = line.operands[0];
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  void* handle = dlopen(module, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "regsvr: cannot load %s: %s\n", module, dlerror());
    return 1;
  }
  auto fn = reinterpret_cast<DllRegisterServerFn>(dlsym(handle, entry));
  if (!fn) {
    std::fprintf(stderr, "regsvr: %s does not export %s\n", module, entry);
    dlclose(handle);
    return 1;
  }
  HRESULT hr = fn();
  std::printf("%s in %s: %s\n", entry, module, com::HResultToString(hr).c_str());
  dlclose(handle);
  return SUCCEEDED(hr) ? 0 : 1;
}
