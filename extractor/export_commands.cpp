#include "extractor/export_commands.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "extractor/unique_names.h"

namespace mailsift {
namespace {

// A 16-bit count says the real count modulo 65,536.
constexpr long kCountWrap = 65536;

std::string Reason(int error) {
  return std::strerror(error);
}

// An open directory, closed when it goes.
class DirFd {
 public:
  explicit DirFd(int fd = -1) : fd_(fd) {}
  DirFd(const DirFd&) = delete;
  DirFd& operator=(const DirFd&) = delete;
  ~DirFd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// A private directory (mode 0700) inside the export directory, on the same
// file system, removed with what is left in it when the command ends.
class StagingDir {
 public:
  StagingDir(int parentFd, const std::string& parentPath) : parentFd_(parentFd) {
    std::string pattern = parentPath + "/.mailsift-XXXXXX";
    if (!mkdtemp(pattern.data())) throw FileError(Describe(parentPath, errno));
    name_ = pattern.substr(pattern.rfind('/') + 1);
    fd_ = openat(parentFd, name_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) {
      int error = errno;
      unlinkat(parentFd, name_.c_str(), AT_REMOVEDIR);
      throw FileError(Describe(parentPath, error));
    }
    int listingFd = openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    listing_ = listingFd >= 0 ? fdopendir(listingFd) : nullptr;
    if (!listing_ && listingFd >= 0) close(listingFd);
    path_ = parentPath + "/" + name_ + "/";
  }
  ~StagingDir() {
    for (const std::string& name : Entries()) unlinkat(fd_, name.c_str(), 0);
    if (listing_) closedir(listing_);
    close(fd_);
    unlinkat(parentFd_, name_.c_str(), AT_REMOVEDIR);
  }
  StagingDir(const StagingDir&) = delete;
  StagingDir& operator=(const StagingDir&) = delete;

  const std::string& Path() const { return path_; }
  int Fd() const { return fd_; }

  // The names in it, sorted so that renaming is the same from run to run.
  // Read through one open directory stream, rewound each time: this runs
  // once a message, mostly over an empty directory.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    if (!listing_) return names;
    rewinddir(listing_);
    while (dirent* entry = readdir(listing_)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  static std::string Describe(const std::string& dir, int error) {
    return "Cannot write into \"" + dir + "\": " + Reason(error);
  }

  int parentFd_;
  int fd_ = -1;
  DIR* listing_ = nullptr;
  std::string name_;
  std::string path_;
};

// The file of a text export, opened for appending; every line ends in CR LF.
class AppendingTextFile {
 public:
  explicit AppendingTextFile(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "ab");
    if (!file_) throw FileError("Cannot open \"" + path + "\" for appending: " + Reason(errno));
  }
  ~AppendingTextFile() {
    if (file_) std::fclose(file_);
  }
  AppendingTextFile(const AppendingTextFile&) = delete;
  AppendingTextFile& operator=(const AppendingTextFile&) = delete;

  void WriteLine(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fwrite("\r\n", 1, 2, file_);
  }
  // Closes the file and reports what went wrong while writing it.
  void Close() {
    bool bad = std::ferror(file_) != 0;
    int error = bad ? errno : 0;
    if (std::fclose(file_) != 0 && !bad) {
      bad = true;
      error = errno;
    }
    file_ = nullptr;
    if (bad) throw FileError("Cannot write \"" + path_ + "\": " + Reason(error ? error : EIO));
  }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
};

// Appends the line `lineAt` gives for each position (none: no line) to `file`.
ExportOutcome AppendLines(long count, const std::string& file, Progress& progress,
                          const std::function<std::optional<std::string>(long)>& lineAt) {
  ExportOutcome outcome;
  outcome.total = count;
  AppendingTextFile out(file);
  for (long i = 0; i < count; ++i) {
    if (!progress.Continue(i, count)) {
      outcome.cancelled = true;
      break;
    }
    if (std::optional<std::string> line = lineAt(i)) {
      out.WriteLine(*line);
      ++outcome.written;
    }
    outcome.processed = i + 1;
  }
  out.Close();
  return outcome;
}

void Failed(ExportOutcome& outcome, const std::string& name, const std::string& reason) {
  if (outcome.failed++ == 0) outcome.firstFailure = "\"" + name + "\": " + reason;
}

bool NamesAnotherPlace(const std::string& subject) {
  return subject.find('/') != std::string::npos || subject.find('\0') != std::string::npos;
}

}  // namespace

long SelectFolder(const CMailquarry& mq, int selection, int range) {
  mq.SetFolder(selection);
  const short count = mq.Messages().Count();
  if (range == kFirst500) return 500;
  if (range == kFirst1000) return 1000;
  // The count is the real one modulo 65,536; a position there that still has
  // a message (a store id is never 0) says the folder holds 65,536 more.
  long real = static_cast<unsigned short>(count);
  while (mq.Messages().FindMessageID(real) != 0) real += kCountWrap;
  return real;
}

ExportOutcome ExportAttachments(const CMailquarry& mq, long count, const std::string& directory,
                                Progress& progress) {
  ExportOutcome outcome;
  outcome.total = count;
  DirFd target(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (target.get() < 0)
    throw FileError("Cannot open the directory \"" + directory + "\": " + Reason(errno));
  StagingDir staging(target.get(), directory);
  UniqueNames names;
  for (long i = 0; i < count; ++i) {
    if (!progress.Continue(i, count)) {
      outcome.cancelled = true;
      break;
    }
    mq.Messages().ExtractAttachment(i, staging.Path());
    for (const std::string& written : staging.Entries()) {
      std::string name = names.Propose(written);
      if (renameat(staging.Fd(), written.c_str(), target.get(), name.c_str()) == 0) {
        names.Take(name);
        ++outcome.written;
        progress.Wrote(directory + "/" + name);
      } else {
        Failed(outcome, name, Reason(errno));
        unlinkat(staging.Fd(), written.c_str(), 0);
      }
    }
    outcome.processed = i + 1;
  }
  return outcome;
}

ExportOutcome ExportEml(const CMailquarry& mq, long count, const std::string& directory,
                        Progress& progress) {
  ExportOutcome outcome;
  outcome.total = count;
  UniqueNames names;
  for (long i = 0; i < count; ++i) {
    if (!progress.Continue(i, count)) {
      outcome.cancelled = true;
      break;
    }
    outcome.processed = i + 1;
    const std::string subject = mq.Messages().FindSubject(i);
    if (NamesAnotherPlace(subject)) {
      Failed(outcome, subject + ".eml", "the subject names another directory");
      continue;
    }
    const std::string name = names.Propose(subject, ".eml");
    const std::string path = directory + "/" + name;
    if (mq.Messages().Save2eml(i, path)) {
      names.Take(name);
      ++outcome.written;
      progress.Wrote(path);
    } else if (mq.Messages().FindMessageID(i) != 0) {
      // Past the folder's end (the first 500 of a smaller folder) nothing is
      // written and nothing failed. The control says only that it failed: a
      // directory we may not write into is the likely reason worth naming.
      Failed(outcome, name,
             access(directory.c_str(), W_OK | X_OK) != 0 ? Reason(errno)
                                                         : "the message could not be read");
    }
  }
  return outcome;
}

ExportOutcome ExportReturnEmails(const CMailquarry& mq, long count, const std::string& file,
                                 Progress& progress) {
  return AppendLines(count, file, progress, [&mq](long i) -> std::optional<std::string> {
    std::string address = mq.Messages().FindReturnEmail(i);
    if (address.empty()) return std::nullopt;
    return address;
  });
}

ExportOutcome ExportContactEmails(const CMailquarry& mq, long count, const std::string& file,
                                  Progress& progress) {
  return AppendLines(count, file, progress, [&mq](long i) -> std::optional<std::string> {
    return mq.Contacts().FindEmail(i);
  });
}

std::string CompletionText(const std::string& title, const ExportOutcome& outcome,
                           const std::string& itemNoun, const std::string& fileNoun) {
  std::string text = outcome.cancelled
                         ? title + " cancelled after " + std::to_string(outcome.processed) +
                               " of " + std::to_string(outcome.total) + " " + itemNoun
                         : title + " completed";
  if (outcome.failed > 0)
    text += "\n" + std::to_string(outcome.failed) + " " + fileNoun + " could not be written.";
  return text;
}

}  // namespace mailsift
