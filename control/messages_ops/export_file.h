// A file the control writes for the user: created or truncated without
// following a symbolic link at its path, only ever a regular file, and
// written through one userspace buffer so that many small chunks cost few
// system calls.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace msgops {

class ExportFile {
 public:
  ExportFile() = default;
  ExportFile(const ExportFile&) = delete;
  ExportFile& operator=(const ExportFile&) = delete;
  ~ExportFile();  // closes without reporting; call Close() to learn of errors

  // Creates `path` (mode before umask) or truncates the regular file there.
  // On failure answers false and keeps errno.
  bool Create(const std::string& path, mode_t mode);
  // False (errno kept) when the bytes cannot be written.
  bool Write(const void* data, std::size_t size);
  // Writes what is buffered and closes; false (errno kept) on any error.
  bool Close();

 private:
  bool Flush();

  int fd_ = -1;
  std::vector<char> buffer_;
};

}  // namespace msgops
