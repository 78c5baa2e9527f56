#include "control/messages_ops/export_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace msgops {
namespace {
constexpr std::size_t kBufferSize = 64 * 1024;

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t done = ::write(fd, data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}
}  // namespace

ExportFile::~ExportFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool ExportFile::Create(const std::string& path, mode_t mode) {
  if (fd_ >= 0) {
    errno = EBUSY;
    return false;
  }
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  // Non-blocking so that a FIFO at the path cannot hold the caller; only a
  // regular file is kept.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                  mode);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  fd_ = fd;
  buffer_.reserve(kBufferSize);
  return true;
}

bool ExportFile::Write(const void* data, std::size_t size) {
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  const char* bytes = static_cast<const char*>(data);
  if (buffer_.size() + size > kBufferSize && !Flush()) return false;
  if (size >= kBufferSize) return WriteAll(fd_, bytes, size);
  buffer_.insert(buffer_.end(), bytes, bytes + size);
  return true;
}

bool ExportFile::Flush() {
  bool ok = WriteAll(fd_, buffer_.data(), buffer_.size());
  buffer_.clear();
  return ok;
}

bool ExportFile::Close() {
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  bool ok = Flush();
  int saved = errno;
  if (::close(fd_) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  fd_ = -1;
  errno = saved;
  return ok;
}

}  // namespace msgops
