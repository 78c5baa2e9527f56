// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/messages_ops/shell_services.h"

#include "platform/shell/shell.h"

namespace msgops {
namespace {

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

class System final : public ShellServices {
 public:
  std::optional<std::string> TempDirectory() override {
    std::string dir;
    if (FAILED(shell::TempDirectory(&dir)) || dir.empty()) return std::nullopt;
    return WithoutTrailingSlashes(dir);
  }
  std::optional<std::string> HomeDirectory() override {
    std::string home = shell::HomeDirectory();
    if (home.empty()) return std::nullopt;
    return WithoutTrailingSlashes(home);
  }
  void OpenDocument(const std::string& path) override { shell::OpenDocument(path); }
};

}  // namespace

ShellServices& SystemShell() {
  static System system;
  return system;
}

}  // namespace msgops
