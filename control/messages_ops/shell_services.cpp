#include "control/messages_ops/shell_services.h"

#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace msgops {
namespace {

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// A directory that only we can enter: ours, not a link, no access for others.
bool IsPrivateDirectory(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

class System final : public ShellServices {
 public:
  std::optional<std::string> TempDirectory() override {
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) return WithoutTrailingSlashes(tmp);
    std::string dir = "/tmp/mailquarry-" + std::to_string(geteuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    if (!IsPrivateDirectory(dir)) return std::nullopt;
    return dir;
  }

  std::optional<std::string> HomeDirectory() override {
    if (const char* home = std::getenv("HOME"); home && *home) return WithoutTrailingSlashes(home);
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir) {
      return WithoutTrailingSlashes(found->pw_dir);
    }
    return std::nullopt;
  }

  void OpenDocument(const std::string& path) override {
    ReapFinished();
    std::string program = "xdg-open";
    std::vector<char*> argv = {program.data(), const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0) {
      children_.push_back(pid);
    }
  }

 private:
  // The opener runs on its own; its exit is collected at a later call.
  void ReapFinished() {
    std::erase_if(children_, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
  }

  std::vector<pid_t> children_;
};

}  // namespace

ShellServices& SystemShell() {
  static System system;
  return system;
}

}  // namespace msgops
