// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/engine/disk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/shell/files.h"

namespace store::disk {

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string* out, struct stat* st,
                   bool noFollow) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0));
  if (fd < 0) return false;
  struct stat own;
  if (!st) st = &own;
  bool ok = fstat(fd, st) == 0 && S_ISREG(st->st_mode) &&
            static_cast<std::uint64_t>(st->st_size) <= maxBytes;
  if (ok) {
    out->resize(static_cast<std::size_t>(st->st_size));
    std::size_t got = 0;
    while (got < out->size()) {
      ssize_t n = read(fd, out->data() + got, out->size() - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    out->resize(got);
  }
  close(fd);
  return ok;
}

namespace {
bool RemoveTreeAt(int parent, const char* name) {
  int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return unlinkat(parent, name, 0) == 0 || errno == ENOENT;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return false;
  }
  bool ok = true;
  while (dirent* e = readdir(dir)) {
    if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
    if (e->d_type == DT_DIR || e->d_type == DT_UNKNOWN)
      ok = RemoveTreeAt(dirfd(dir), e->d_name) && ok;
    else
      ok = (unlinkat(dirfd(dir), e->d_name, 0) == 0 || errno == ENOENT) && ok;
  }
  closedir(dir);
  return (unlinkat(parent, name, AT_REMOVEDIR) == 0 || errno == ENOENT) && ok;
}
}  // namespace

bool RemoveTree(const std::string& path) {
  return RemoveTreeAt(AT_FDCWD, path.c_str());
}

void FsyncDirectory(const std::string& path) {
  ::files::SyncDirectory(path);
}

int RenameNoReplace(const std::string& from, const std::string& to) {
  if (int error = ::files::RenameNoReplace(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str())) {
    errno = error;
    return -1;
  }
  return 0;
}

std::int64_t MTimeNs(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

std::int64_t NowNs() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace store::disk
