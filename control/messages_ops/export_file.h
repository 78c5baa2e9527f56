// SPDX-License-Identifier: LGPL-2.1-or-later
// A file the control writes for the user, through the shell's writer (no
// symbolic link followed at the path, only ever a regular file), with one
// userspace buffer in front so that many small chunks cost few system calls.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/shell/shell.h"

namespace msgops {

class ExportFile {
 public:
  // Creates `path` or truncates the regular file there.
  HRESULT Open(const std::string& path);
  HRESULT Write(const void* data, std::size_t size);
  // Writes what is buffered and closes; the first error met, or S_OK.
  HRESULT Close();
  // Closes and removes the file, after a failure.
  void Discard() { writer_.Discard(); }

 private:
  HRESULT Flush();

  shell::FileWriter writer_;
  std::vector<char> buffer_;
};

}  // namespace msgops
