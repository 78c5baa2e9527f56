// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/shell/shell.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <utility>
#include <vector>

extern char** environ;

namespace shell {
namespace {

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir.push_back('/');
  return dir;
}

HRESULT FromErrno(int err) {
  // A link where a file or directory must be is refused, not "failed".
  if (err == ELOOP) return E_ACCESSDENIED;
  if (err == EFBIG) return MakeHResult(0x800700DF);  // "the file is too large"
  if (err == EISDIR) return E_ACCESSDENIED;
  return com::HResultFromErrno(err);
}

// A path holding a NUL byte would silently name another file.
bool UsablePath(std::string_view path) {
  return !path.empty() && path.find('\0') == std::string_view::npos;
}

void CloseFd(int fd) {
  if (fd >= 0) close(fd);
}

}  // namespace

HRESULT PrivateDirectoryIn(std::string_view parent, std::string* out) {
  if (!out) return E_POINTER;
  const uid_t uid = geteuid();
  std::string dir = std::string(parent);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  dir += "/mailquarry-" + std::to_string(uid);
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return FromErrno(errno);
  // Checked through a descriptor of the directory itself, so that what is
  // checked is what was opened; O_NOFOLLOW refuses a link planted there.
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOTDIR ? E_ACCESSDENIED : FromErrno(errno);
  struct stat st;
  HRESULT hr = S_OK;
  if (fstat(fd, &st) != 0) {
    hr = FromErrno(errno);
  } else if (!S_ISDIR(st.st_mode) || st.st_uid != uid || (st.st_mode & 022) != 0) {
    hr = E_ACCESSDENIED;
  } else if ((st.st_mode & 077) != 0 && fchmod(fd, 0700) != 0) {
    hr = FromErrno(errno);  // ours, but others could read it: make it private
  }
  CloseFd(fd);
  if (SUCCEEDED(hr)) *out = dir + "/";
  return hr;
}

HRESULT TempDirectory(std::string* out) {
  if (!out) return E_POINTER;
  if (const char* tmpdir = std::getenv("TMPDIR"); tmpdir && *tmpdir) {
    *out = WithSlash(tmpdir);
    return S_OK;
  }
  return PrivateDirectoryIn("/tmp", out);
}

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return WithSlash(home);
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir) {
    return WithSlash(pw->pw_dir);
  }
  return "/";
}

// xdg-open may run as long as the viewer it starts, and we must neither wait
// for it nor leave a zombie behind. A thread waiting for it would run code of
// this library, which may be unloaded with the module meanwhile; a SIGCHLD
// handler would take over a process-wide setting that the host owns. So the
// child forks once more and exits at once: we reap it right away, and the
// grandchild that runs xdg-open belongs to init, which reaps it. Between fork
// and exec only async-signal-safe calls run (the host may have threads), so
// everything the children need is prepared beforehand, including the $PATH
// search. A close-on-exec pipe tells whether the exec happened.
namespace {

// The exit status of the forked helper when xdg-open ended in failure.
constexpr int kViewerFailed = 3;

// In the helper between Mailsift and xdg-open (after fork: only calls that
// are safe there): waits up to `waitMs` for `child` and answers the helper's
// exit status. A failed exec is reported through the pipe, not here.
int AwaitViewer(pid_t child, int waitMs) {
  constexpr int kStepMs = 20;
  for (int waited = 0;; waited += kStepMs) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child)
      return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 127)
                 ? 0
                 : kViewerFailed;
    if (waited >= waitMs) return 0;
    struct timespec step = {0, kStepMs * 1000000L};
    nanosleep(&step, nullptr);
  }
}

}  // namespace

HRESULT OpenDocument(std::string_view path, int waitMs) {
  if (!UsablePath(path)) return E_INVALIDARG;
  const std::string program = "xdg-open";
  std::vector<std::string> candidates;
  {
    const char* env_path = std::getenv("PATH");
    std::string_view search = env_path ? env_path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= search.size()) {
      size_t end = search.find(':', start);
      if (end == std::string_view::npos) end = search.size();
      std::string dir(search.substr(start, end - start));
      candidates.push_back((dir.empty() ? std::string(".") : dir) + "/" + program);
      start = end + 1;
    }
  }
  // xdg-open would take a relative path beginning with '-' for an option.
  std::string argument = path[0] == '-' ? "./" + std::string(path) : std::string(path);
  char* argv[] = {const_cast<char*>(program.c_str()), argument.data(), nullptr};
  std::vector<const char*> files;
  for (const std::string& c : candidates) files.push_back(c.c_str());

  int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null_fd < 0) return FromErrno(errno);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    int err = errno;
    CloseFd(null_fd);
    return FromErrno(err);
  }

  pid_t child = _Fork();
  if (child == 0) {
    pid_t grandchild = _Fork();
    if (grandchild < 0) _exit(1);
    if (grandchild > 0) _exit(waitMs > 0 ? AwaitViewer(grandchild, waitMs) : 0);
    // The grandchild: a clean signal state, quiet standard streams, then exec.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGTERM, SIGHUP})
      sigaction(sig, &dfl, nullptr);
    setsid();  // not killed with the host's terminal or process group
    for (int fd = 0; fd < 3; ++fd) dup2(null_fd, fd);
    // The host's other descriptors (sockets, locks) are no business of the
    // viewer; the report pipe still closes only at exec.
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    int err = ENOENT;
    for (const char* file : files) {
      execve(file, argv, environ);
      if (errno != ENOENT && errno != ENOTDIR) err = errno;
    }
    [[maybe_unused]] ssize_t n = write(report[1], &err, sizeof err);
    _exit(127);
  }
  int fork_error = child < 0 ? errno : 0;
  CloseFd(report[1]);
  CloseFd(null_fd);
  if (child < 0) {
    CloseFd(report[0]);
    return FromErrno(fork_error);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  HRESULT hr = S_OK;
  if (WIFEXITED(status) && WEXITSTATUS(status) == kViewerFailed) {
    hr = kNoViewer;
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    hr = E_FAIL;  // the second fork failed
  } else {
    int err = 0;
    ssize_t n;
    while ((n = read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    if (n == static_cast<ssize_t>(sizeof err)) hr = FromErrno(err);
  }
  CloseFd(report[0]);
  return hr;
}

HRESULT DeleteFile(std::string_view path) {
  if (!UsablePath(path)) return E_INVALIDARG;
  if (unlink(std::string(path).c_str()) != 0) return FromErrno(errno);
  return S_OK;
}

bool IsDirectory(std::string_view path) {
  struct stat st;
  return UsablePath(path) && stat(std::string(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

HRESULT FileWriter::Open(std::string_view path) {
  if (fd_) Close();
  error_ = S_OK;
  errno_ = 0;
  path_.clear();
  if (!UsablePath(path)) return E_INVALIDARG;
  const std::string target(path);
  // O_NONBLOCK keeps a FIFO at the path from blocking the open; anything but
  // a regular file is refused before a byte is written.
  files::UniqueFd fd(open(
      target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644));
  if (!fd) {
    errno_ = errno == ENXIO ? EACCES : errno;
    return FromErrno(errno_);
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return E_ACCESSDENIED;
  fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  fd_ = std::move(fd);
  path_ = target;
  return S_OK;
}

HRESULT FileWriter::Write(const void* data, std::size_t size) {
  if (FAILED(error_)) return error_;
  if (!fd_) return E_HANDLE;
  if (int err = files::WriteAll(fd_.get(), data, size)) return Failed(err);
  return S_OK;
}

HRESULT FileWriter::Close() {
  if (int err = fd_.Close(); err && SUCCEEDED(error_)) Failed(err);
  return error_;
}

HRESULT FileWriter::Failed(int err) {
  errno_ = err;
  return error_ = FromErrno(err);
}

void FileWriter::Discard() {
  if (path_.empty()) return;
  Close();
  unlink(path_.c_str());
  path_.clear();
}

}  // namespace shell
