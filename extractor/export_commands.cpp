// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/export_commands.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "extractor/unique_names.h"
#include "platform/shell/files.h"

namespace mailsift {
namespace {

using files::ErrorWords;
using files::UniqueFd;

// A 16-bit count says the real count modulo 65,536.
constexpr long kCountWrap = 65536;

// A probe never writes more than this: a failure of a larger file is told by
// a write of this size on any real disk, and a quota or size limit of this
// size is met only by tests.
constexpr long kMaxProbe = 256L << 20;

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
    return "Cannot write into \"" + dir + "\": " + ErrorWords(error);
  }

  int parentFd_;
  int fd_ = -1;
  DIR* listing_ = nullptr;
  std::string name_;
  std::string path_;
};

// The file of a text export, opened for appending; every line ends in CR LF.
// The file is whole or as before: a write that fails cuts it back to the size
// it had when opened, and removes it when this export made it.
class AppendingTextFile {
 public:
  explicit AppendingTextFile(const std::string& path) : path_(path) {
    fd_.Reset(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666));
    created_ = static_cast<bool>(fd_);
    if (!fd_ && errno == EEXIST) fd_.Reset(open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    struct stat st {};
    if (!fd_ || fstat(fd_.get(), &st) != 0)
      throw FileError("Cannot open \"" + path + "\" for appending: " + ErrorWords(errno));
    startSize_ = st.st_size;
    identity_ = {st.st_dev, st.st_ino};
  }
  AppendingTextFile(const AppendingTextFile&) = delete;
  AppendingTextFile& operator=(const AppendingTextFile&) = delete;

  // Once a write failed, the lines since are not written, only counted.
  void WriteLine(const std::string& text) {
    if (error_) {
      ++lost_;
      return;
    }
    buffer_ += text;
    buffer_ += "\r\n";
    ++buffered_;
    if (buffer_.size() >= kBuffer) Flush();
  }

  // Writes what is buffered, syncs (a quota or a network file system may
  // refuse only now) and closes. On failure the file is cut back; `outcome`
  // counts the lines that stay and the ones that do not.
  void Close(ExportOutcome& outcome) {
    if (Flush() && fdatasync(fd_.get()) != 0 && errno != EINVAL) error_ = errno;
    if (!error_) error_ = fd_.Close();
    const long lines = kept_ + buffered_ + lost_;
    outcome.written = kept_;
    if (!error_) return;
    outcome.written = 0;
    for (long i = 0; i < lines; ++i) outcome.Fail(Quoted(path_), ErrorWords(error_));
    if (!fd_) fd_.Reset(open(path_.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd_ && ftruncate(fd_.get(), startSize_) == 0) {
      if (created_) RemoveIfStillOurs();
      outcome.afterword = "; the file is as it was before";
    } else {
      // Whole lines up to the last flush stay; the failed write may have
      // added part of one more.
      outcome.written = kept_;
      outcome.failed = lines - kept_;
      outcome.afterword = "; the file could not be cut back (" + ErrorWords(errno) +
                          "): " + std::to_string(kept_) + " lines stay added, and part of one more";
    }
  }

 private:
  static constexpr std::size_t kBuffer = 64 * 1024;

  // Removes the file this export made, unless another has taken its name
  // meanwhile.
  void RemoveIfStillOurs() {
    struct stat st {};
    if (stat(path_.c_str(), &st) == 0 && st.st_dev == identity_.first &&
        st.st_ino == identity_.second)
      unlink(path_.c_str());
  }

  bool Flush() {
    if (error_) return false;
    if (int err = files::WriteAll(fd_.get(), buffer_)) {
      error_ = err;
      lost_ += buffered_;
    } else {
      kept_ += buffered_;
    }
    buffer_.clear();
    buffered_ = 0;
    return !error_;
  }

  std::string path_;
  UniqueFd fd_;
  off_t startSize_ = 0;
  std::string buffer_;
  long buffered_ = 0;  // lines in the buffer
  long kept_ = 0;      // lines written
  long lost_ = 0;      // lines whose write failed or came after one that did
  int error_ = 0;
  bool created_ = false;  // this export made the file
  std::pair<dev_t, ino_t> identity_;
};

// Appends the line `lineAt` gives for each position (none: no line) to
// `file`. After a failed write nothing more is written, but every line is
// still counted, so the summary says how many did not reach the file.
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
    outcome.processed = i + 1;
    if (std::optional<std::string> line = lineAt(i)) out.WriteLine(*line);
  }
  out.Close(outcome);
  return outcome;
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
  UniqueFd target(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!target)
    throw FileError("Cannot open the directory \"" + directory + "\": " + ErrorWords(errno));
  StagingDir staging(target.get(), directory);
  UniqueNames names;
  for (long i = 0; i < count; ++i) {
    if (!progress.Continue(i, count)) {
      outcome.cancelled = true;
      break;
    }
    const bool whole = mq.Messages().ExtractAttachment(i, staging.Path());
    long moved = 0;
    for (const std::string& written : staging.Entries()) {
      std::string name = names.Propose(written);
      ++moved;
      if (renameat(staging.Fd(), written.c_str(), target.get(), name.c_str()) == 0) {
        names.Take(name);
        ++outcome.written;
        progress.Wrote(directory + "/" + name);
      } else {
        outcome.Fail(Quoted(name), ErrorWords(errno));
        unlinkat(staging.Fd(), written.c_str(), 0);
      }
    }
    // The control writes what it can and removes what it could not write
    // whole; the difference to the message's attachments is what was lost.
    if (!whole && mq.Messages().FindMessageID(i) != 0) {
      const long lost = std::max(1L, mq.Messages().GetAttachmentCount(i) - moved);
      const int reason = WriteProbe(staging.Fd(), mq.Messages().FindSize(i));
      const std::string what = "an attachment of " + Quoted(mq.Messages().FindSubject(i));
      for (long k = 0; k < lost; ++k)
        outcome.Fail(what, reason ? ErrorWords(reason) : "the control could not write it whole");
    }
    outcome.processed = i + 1;
  }
  return outcome;
}

ExportOutcome ExportEml(const CMailquarry& mq, long count, const std::string& directory,
                        Progress& progress) {
  ExportOutcome outcome;
  outcome.total = count;
  UniqueFd target(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!target)
    throw FileError("Cannot open the directory \"" + directory + "\": " + ErrorWords(errno));
  UniqueNames names;
  for (long i = 0; i < count; ++i) {
    if (!progress.Continue(i, count)) {
      outcome.cancelled = true;
      break;
    }
    outcome.processed = i + 1;
    const std::string subject = mq.Messages().FindSubject(i);
    if (NamesAnotherPlace(subject)) {
      outcome.Fail(Quoted(subject + ".eml"), "the subject names another directory");
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
      // written and nothing failed. The control answers only FALSE (and
      // removes what it wrote): a write of the message's size in the same
      // place tells whether the place refuses it, and why.
      const int reason = WriteProbe(target.get(), mq.Messages().FindSize(i));
      outcome.Fail(Quoted(name), reason
                                     ? ErrorWords(reason)
                                     : "the message could not be copied, though the place takes a "
                                       "file of its size");
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

int WriteProbe(int dirFd, long size) {
  // An unnamed file vanishes with its descriptor, whatever happens to us.
  UniqueFd fd(openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  std::string name;
  if (!fd && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    for (int attempt = 0; !fd && attempt < 100; ++attempt) {
      name = ".mailsift-probe-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
      fd.Reset(openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
      if (!fd && errno != EEXIST) break;
    }
  }
  if (!fd) return errno;
  const std::string zeros(64 * 1024, '\0');
  int err = 0;
  for (long left = std::clamp(size, 1L, kMaxProbe); left > 0 && !err;) {
    const std::size_t n = static_cast<std::size_t>(std::min<long>(left, zeros.size()));
    err = files::WriteAll(fd.get(), zeros.data(), n);
    left -= static_cast<long>(n);
  }
  if (!err && fdatasync(fd.get()) != 0 && errno != EINVAL) err = errno;
  if (int closed = fd.Close(); !err) err = closed;
  if (!name.empty()) unlinkat(dirFd, name.c_str(), 0);
  return err;
}

}  // namespace mailsift
