// SPDX-License-Identifier: LGPL-2.1-or-later
// The one place where files are written safely: every module that writes a
// file (the registry, the address book, the MIME layer, the control's and
// Mailsift's exports) goes through these. Plain POSIX underneath; failures
// are errno values (0 for success), which callers turn into their own
// HRESULTs or messages.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace files {

// Owns one file descriptor and closes it when it goes.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1);
  // Closes now: 0, or the errno of a failed close (some file systems report a
  // failed write only there).
  int Close();

 private:
  int fd_;
};

// Writes all of `data`, retrying short writes and EINTR. 0 or an errno value
// (ENOSPC, EDQUOT, EFBIG, EIO, EPIPE, ...).
int WriteAll(int fd, const void* data, std::size_t size);
inline int WriteAll(int fd, std::string_view text) {
  return WriteAll(fd, text.data(), text.size());
}

// fsync of a directory, so that the names created, renamed or removed in it
// last. 0 or an errno value.
int SyncDirectory(const std::string& directory);

// Writes `bytes` into a hidden temporary file beside `path`, gives it `mode`,
// fsyncs it and renames it over `path`, then syncs the directory: a reader
// sees the old content or the new, never a part, and a crash loses neither.
// 0 or an errno value; the temporary file never stays behind. A writer that
// holds a lock may name the temporary file (`fixedTemp`): one left by a writer
// killed earlier is then removed first instead of piling up.
int ReplaceFile(const std::string& path, std::string_view bytes, mode_t mode,
                const std::string& fixedTemp = {});

// The same, but the file appears only when no file of that name exists
// (EEXIST then).
int CreateFileWhole(const std::string& path, std::string_view bytes, mode_t mode);

// Renames `from` (relative to directory `fromDir`) to `to` (relative to
// `toDir`) only when nothing is there: EEXIST otherwise, never a replaced
// file. File systems without RENAME_NOREPLACE are served by link and unlink.
int RenameNoReplace(int fromDir, const char* from, int toDir, const char* to);

// An exclusive flock held on a file or directory while the object lives;
// released when it goes. `Error()` says why it is not held.
class Lock {
 public:
  // Locks `path`, a directory or a file; with `create`, a missing file is
  // created (mode 0600, never through a symbolic link) to be the lock.
  explicit Lock(const std::string& path, bool create = false);
  bool Held() const { return static_cast<bool>(fd_); }
  int Error() const { return error_; }

 private:
  UniqueFd fd_;
  int error_ = 0;
};

// The reason in the words a person reads in a message: "the disk is full",
// "permission denied", "read-only file system", ...
std::string ErrorWords(int error);

// For tests: the `nth` call of WriteAll from now (1 = the next) and every one
// after fails with `error` without writing, until ClearWriteFailure().
void FailWritesFrom(long nth, int error);
void ClearWriteFailure();

}  // namespace files
