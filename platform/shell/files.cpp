// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/shell/files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace files {
namespace {

// Counts down to the injected failure; 0 when none is planned.
std::atomic<long> g_writes_before_failure{0};
std::atomic<int> g_injected_error{0};

// The error to fail this write with, or 0.
int InjectedFailure() {
  if (g_injected_error.load(std::memory_order_relaxed) == 0) return 0;
  long left = g_writes_before_failure.load(std::memory_order_relaxed);
  while (left > 1 && !g_writes_before_failure.compare_exchange_weak(left, left - 1,
                                                                    std::memory_order_relaxed)) {
  }
  return left <= 1 ? g_injected_error.load(std::memory_order_relaxed) : 0;
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes `bytes` into a new hidden file beside `path` and syncs it; the
// temporary path in `temp`. 0 or an errno value; on failure nothing stays.
int WriteTemporary(const std::string& path, std::string_view bytes, mode_t mode,
                   std::string* temp) {
  UniqueFd fd;
  if (temp->empty()) {
    std::size_t slash = path.rfind('/');
    std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    *temp = DirectoryOf(path) + "/." + name + ".XXXXXX";
    fd.Reset(mkostemp(temp->data(), O_CLOEXEC));
  } else {
    unlink(temp->c_str());
    fd.Reset(open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  }
  if (!fd) return errno;
  int err = fchmod(fd.get(), mode) == 0 ? 0 : errno;
  if (!err) err = WriteAll(fd.get(), bytes.data(), bytes.size());
  if (!err && fsync(fd.get()) != 0) err = errno;
  if (int closed = fd.Close(); !err) err = closed;
  if (err) unlink(temp->c_str());
  return err;
}

}  // namespace

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

int UniqueFd::Close() {
  if (fd_ < 0) return 0;
  int fd = Release();
  // After EINTR the descriptor is gone on Linux: nothing to retry.
  return close(fd) == 0 || errno == EINTR ? 0 : errno;
}

int WriteAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    if (int injected = InjectedFailure()) return injected;
    ssize_t n = write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;  // no progress and no reason: never loop for good
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

int SyncDirectory(const std::string& directory) {
  UniqueFd fd(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return errno;
  // Some file systems cannot sync a directory and say so; nothing is lost.
  if (fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS) return errno;
  return 0;
}

int ReplaceFile(const std::string& path, std::string_view bytes, mode_t mode,
                const std::string& fixedTemp) {
  std::string temp = fixedTemp;
  if (int err = WriteTemporary(path, bytes, mode, &temp)) return err;
  if (rename(temp.c_str(), path.c_str()) != 0) {
    int err = errno;
    unlink(temp.c_str());
    return err;
  }
  return SyncDirectory(DirectoryOf(path));
}

int CreateFileWhole(const std::string& path, std::string_view bytes, mode_t mode) {
  std::string temp;
  if (int err = WriteTemporary(path, bytes, mode, &temp)) return err;
  int err = RenameNoReplace(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str());
  if (err) {
    unlink(temp.c_str());
    return err;
  }
  return SyncDirectory(DirectoryOf(path));
}

int RenameNoReplace(int fromDir, const char* from, int toDir, const char* to) {
  if (renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // link() refuses an existing target, as the rename would have.
  if (linkat(fromDir, from, toDir, to, 0) != 0) return errno;
  unlinkat(fromDir, from, 0);
  return 0;
}

Lock::Lock(const std::string& path, bool create) {
  int flags = O_RDONLY | O_CLOEXEC;
  if (create) flags = O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
  UniqueFd fd(open(path.c_str(), flags, 0600));
  if (!fd) {
    error_ = errno;
    return;
  }
  while (flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      error_ = errno;
      return;
    }
  }
  fd_ = std::move(fd);
}

std::string ErrorWords(int error) {
  switch (error) {
    case 0:
      return "no error";
    case ENOSPC:
      return "the disk is full";
    case EDQUOT:
      return "the disk quota is used up";
    case EFBIG:
      return "the file is too large";
    case EACCES:
    case EPERM:
      return "permission denied";
    case EROFS:
      return "read-only file system";
    case EIO:
      return "an input/output error";
    case ENOENT:
      return "no such file or directory";
    case ENOTDIR:
      return "not a directory";
    case ENAMETOOLONG:
      return "the name is too long";
    case ELOOP:
      return "a symbolic link is in the way";
    case EEXIST:
      return "a file of that name exists";
    case EPIPE:
      return "the reader has gone";
    default: {
      std::string text = std::strerror(error);
      if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' &&
          !(text.size() > 1 && text[1] >= 'A' && text[1] <= 'Z'))
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
      return text;
    }
  }
}

void FailWritesFrom(long nth, int error) {
  g_writes_before_failure.store(nth < 1 ? 1 : nth);
  g_injected_error.store(error);
}

void ClearWriteFailure() {
  g_injected_error.store(0);
  g_writes_before_failure.store(0);
}

}  // namespace files
