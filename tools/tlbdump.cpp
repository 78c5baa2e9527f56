// SPDX-License-Identifier: LGPL-2.1-or-later
// tlbdump LIBID[@MAJOR.MINOR] | MODULE: prints a registered type library (the
// highest registered version unless one is named) or the library a module
// carries, in the text form described in README.md.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/activation/registration.h"
#include "platform/com/typeinfo.h"
#include "platform/registry/registry.h"
#include "tools/command_line.h"
#include "tools/tlbdump_format.h"

namespace {

HRESULT LoadRegistered(const std::string& arg, com::ComPtr<ITypeLib>* out) {
  std::string id = arg, version;
  if (auto at = arg.find('@'); at != std::string::npos) {
    id = arg.substr(0, at);
    version = arg.substr(at + 1);
  }
  auto libid = com::ParseGuid(id);
  if (!libid) return E_INVALIDARG;
  unsigned major = 0, minor = 0;
  if (version.empty()) {
    std::vector<std::string> versions;
    reg::ListSubkeys(reg::Root::ClassesRoot, "TypeLib\\" + com::GuidToString(*libid), &versions);
    bool found = false;
    for (const std::string& v : versions) {
      unsigned a, b;
      if (std::sscanf(v.c_str(), "%u.%u", &a, &b) == 2 &&
          (!found || a > major || (a == major && b > minor))) {
        major = a;
        minor = b;
        found = true;
      }
    }
    if (!found) return TYPE_E_LIBNOTREGISTERED;
  } else if (std::sscanf(version.c_str(), "%u.%u", &major, &minor) != 2) {
    return E_INVALIDARG;
  }
  return LoadRegTypeLib(*libid, static_cast<WORD>(major), static_cast<WORD>(minor), LOCALE_NEUTRAL,
                        out->ReleaseAndGetAddressOf());
}

}  // namespace

int main(int argc, char** argv) {
  static const char kUsage[] =
      "usage: tlbdump LIBID[@MAJOR.MINOR] | MODULE\n"
      "Prints a registered type library (its highest version unless one is\n"
      "named) or the type library a module carries.\n";
  tools::CommandLine line = tools::ParseCommandLine(argc, argv, kUsage, {});
  if (line.exitStatus >= 0) return line.exitStatus;
  if (line.operands.size() != 1 || !*line.operands[0]) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string arg = line.operands[0];
  com::ComPtr<ITypeLib> lib;
  HRESULT hr =
      arg.front() == '{' ? LoadRegistered(arg, &lib) : com::LoadTypeLibFromModule(arg, &lib);
  if (FAILED(hr)) {
    std::fprintf(stderr, "tlbdump: cannot load a type library from %s: %s\n", arg.c_str(),
                 com::HResultToString(hr).c_str());
    return 1;
  }
  std::string text = tools::FormatTypeLib(lib.Get());
  if (text.empty()) {
    std::fprintf(stderr, "tlbdump: the type library of %s cannot be read\n", arg.c_str());
    return 1;
  }
  std::fputs(text.c_str(), stdout);
  return 0;
}
