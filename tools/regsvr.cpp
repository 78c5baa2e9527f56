// regsvr [-u] MODULE: loads an in-process server and calls its
// DllRegisterServer (or, with -u, DllUnregisterServer), printing the result.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/com/class_factory.h"
#include "tools/command_line.h"

int main(int argc, char** argv) {
  static const char kUsage[] =
      "usage: regsvr [-u] MODULE\n"
      "Registers the in-process server MODULE (DllRegisterServer), or with -u\n"
      "unregisters it (DllUnregisterServer).\n";
  tools::CommandLine line = tools::ParseCommandLine(argc, argv, kUsage, {"-u"});
  if (line.exitStatus >= 0) return line.exitStatus;
  if (line.operands.size() != 1 || line.options.size() > 1) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const bool unregister = !line.options.empty();
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
