// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/testing/maildir_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "platform/store/engine/disk.h"
#include "platform/store/maildir/files.h"
#include "platform/store/maildir/names.h"

namespace store::testing {

MaildirFixture::MaildirFixture() {
  for (const char* sub : {"/cur", "/new", "/tmp"}) mkdir((root_ + sub).c_str(), 0700);
}

void MaildirFixture::UseAsMailDir() {
  if (!env_) env_.emplace("MAILDIR", root_);
  setenv("MAILDIR", root_.c_str(), 1);
}

std::string MaildirFixture::FolderDir(const FolderPath& folder) const {
  std::string dir = root_;
  if (folder.empty()) return dir;
  dir += "/";
  for (const auto& name : folder) dir += "." + maildir::EncodeName(name);
  return dir;
}

std::string MaildirFixture::AddFolder(const FolderPath& folder) {
  for (std::size_t n = 1; n <= folder.size(); ++n) {
    std::string dir = FolderDir(FolderPath(folder.begin(), folder.begin() + n));
    if (!disk::IsDirectory(dir)) maildir::MakeMaildir(dir, true);
  }
  return FolderDir(folder);
}

std::string MaildirFixture::AddMessage(const FolderPath& folder, std::string_view bytes,
                                       const MessageOptions& options) {
  std::string dir = folder.empty() ? root_ : AddFolder(folder);
  std::int64_t when = options.delivered ? options.delivered : std::time(nullptr);
  std::string uniq = std::to_string(when) + ".M" + std::to_string(++counter_) + "P" +
                     std::to_string(getpid()) + ".fixture";
  std::string path =
      options.inNew ? dir + "/new/" + uniq : dir + "/cur/" + maildir::CurName(uniq, options.flags);
  if (!std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size()).flush())
    throw std::runtime_error("cannot write " + path);
  struct timespec times[2] = {{static_cast<time_t>(when), 0}, {static_cast<time_t>(when), 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
  return path;
}

std::string MaildirFixture::Message(std::string_view from, std::string_view to,
                                    std::string_view subject, std::string_view body) {
  return "From: " + std::string(from) + "\r\nTo: " + std::string(to) +
         "\r\nSubject: " + std::string(subject) +
         "\r\nDate: Sun, 05 Mar 2006 14:07:09 +0000\r\nMessage-ID: <" +
         std::to_string(std::hash<std::string_view>{}(subject)) + "@fixture>\r\n\r\n" +
         std::string(body);
}

std::vector<std::string> MaildirFixture::Files(const FolderPath& folder) const {
  std::vector<std::string> files;
  for (const char* sub : {"/cur", "/new"}) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(FolderDir(folder) + sub, ec))
      if (e.path().filename().string()[0] != '.') files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace store::testing
