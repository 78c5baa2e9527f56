// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/maildir/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/store/engine/disk.h"

namespace store::maildir {

bool IsMaildir(const std::string& path) {
  return disk::IsDirectory(path + "/cur") && disk::IsDirectory(path + "/new") &&
         disk::IsDirectory(path + "/tmp");
}

HRESULT MakeMaildir(const std::string& path, bool folder) {
  if (mkdir(path.c_str(), 0700) != 0) return com::HResultFromErrno(errno);
  for (const char* sub : {"/cur", "/new", "/tmp"}) {
    if (mkdir((path + sub).c_str(), 0700) != 0) {
      int err = errno;
      disk::RemoveTree(path);
      return com::HResultFromErrno(err);
    }
  }
  if (folder) {
    int fd = open((path + "/maildirfolder").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
      int err = errno;
      disk::RemoveTree(path);
      return com::HResultFromErrno(err);
    }
    close(fd);
  }
  return S_OK;
}

HRESULT AddMessageDirs(const std::string& path) {
  std::vector<std::string> made;
  for (const char* sub : {"/cur", "/new", "/tmp"}) {
    if (mkdir((path + sub).c_str(), 0700) == 0) {
      made.push_back(path + sub);
    } else if (errno != EEXIST || !disk::IsDirectory(path + sub)) {
      int err = errno == EEXIST ? ENOTDIR : errno;
      for (const auto& m : made) rmdir(m.c_str());
      return com::HResultFromErrno(err);
    }
  }
  return S_OK;
}

}  // namespace store::maildir
