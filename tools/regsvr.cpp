// regsvr [-u] MODULE: loads an in-process server and calls its
// DllRegisterServer (or, with -u, DllUnregisterServer), printing the result.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/com/class_factory.h"

int main(int argc, char** argv) {
  bool unregister = false;
  const char* module = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-u") == 0 && !unregister && !module)
      unregister = true;
    else if (!module && argv[i][0] != '-')
      module = argv[i];
    else
      module = nullptr, i = argc;
  }
  if (!module) {
    std::fprintf(stderr, "usage: regsvr [-u] MODULE\n");
    return 2;
  }
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
