#include "platform/store/testing/maildir_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <stdexcept>

#include "platform/store/maildir.h"

namespace store::testing {

MaildirFixture::MaildirFixture() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/mq-maildir-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  for (const char* sub : {"/cur", "/new", "/tmp"}) mkdir((root_ + sub).c_str(), 0700);
}

MaildirFixture::~MaildirFixture() {
  if (setEnv_) {
    if (hadEnv_)
      setenv("MAILDIR", oldEnv_.c_str(), 1);
    else
      unsetenv("MAILDIR");
  }
  chmod(root_.c_str(), 0700);
  maildir::RemoveTree(root_);
}

void MaildirFixture::UseAsMailDir() {
  if (!setEnv_) {
    const char* old = std::getenv("MAILDIR");
    hadEnv_ = old != nullptr;
    if (old) oldEnv_ = old;
    setEnv_ = true;
  }
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
    if (!maildir::IsDirectory(dir)) maildir::MakeMaildir(dir, true);
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
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  struct timespec times[2] = {{static_cast<time_t>(when), 0}, {static_cast<time_t>(when), 0}};
  futimens(fd, times);
  close(fd);
  return path;
}

std::string MaildirFixture::Message(std::string_view from, std::string_view to,
                                    std::string_view subject, std::string_view body) {
  std::string m;
  m += "From: " + std::string(from) + "\r\n";
  m += "To: " + std::string(to) + "\r\n";
  m += "Subject: " + std::string(subject) + "\r\n";
  m += "Date: Sun, 05 Mar 2006 14:07:09 +0000\r\n";
  m += "Message-ID: <" + std::to_string(std::hash<std::string_view>{}(subject)) + "@fixture>\r\n";
  m += "\r\n";
  m += body;
  return m;
}

std::vector<std::string> MaildirFixture::Files(const FolderPath& folder) const {
  std::vector<std::string> files;
  std::string dir = FolderDir(folder);
  for (const char* sub : {"/cur", "/new"}) {
    DIR* d = opendir((dir + sub).c_str());
    if (!d) continue;
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') files.push_back(dir + sub + "/" + e->d_name);
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace store::testing
