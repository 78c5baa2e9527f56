// SPDX-License-Identifier: LGPL-2.1-or-later
// The shell services the control and the extractor use: the user's private
// temporary directory, the home directory, "open" through xdg-open, and the
// file helpers of the exports.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/com/hresult.h"
#include "platform/shell/files.h"

namespace shell {

// The user's private temporary directory, ending in '/': $TMPDIR when set,
// else /tmp/mailquarry-<uid>, created with mode 0700 on first use. An
// existing directory is used only when it is a real directory (not a link),
// owned by this user and writable by nobody else; otherwise E_ACCESSDENIED
// and never a shared place instead.
HRESULT TempDirectory(std::string* out);

// The same check and creation for <parent>/mailquarry-<uid>; TempDirectory
// uses it with "/tmp". Given so that tests can use a parent of their own.
HRESULT PrivateDirectoryIn(std::string_view parent, std::string* out);

// The user's home directory, ending in '/': $HOME, else the password entry.
std::string HomeDirectory();

// The "open" verb: starts `xdg-open <path>` (found on $PATH, the path passed
// as one argument, no shell involved) with its standard streams on /dev/null,
// and returns without waiting for it. S_OK once the program is running;
// HRESULT_FROM_WIN32_FILE_NOT_FOUND when there is no xdg-open to run. A URL
// is passed on as it is; a relative path beginning with '-' gets "./" first.
//
// Every function here answers E_INVALIDARG for an empty path or one holding
// a NUL byte (it would name another file).
//
// With `waitMs`, it also waits that long for xdg-open to finish: when it
// ends in failure by then (no viewer for the file), kNoViewer. A viewer still
// running after that counts as opened.
HRESULT OpenDocument(std::string_view path, int waitMs = 0);

// xdg-open found no program to show the document (the platform's "no
// application is associated" code).
constexpr HRESULT kNoViewer = MakeHResult(0x80070483);

// Removes a file (not a directory). S_OK, or the failure as an HRESULT
// (HRESULT_FROM_WIN32_FILE_NOT_FOUND when absent, E_ACCESSDENIED for a directory).
HRESULT DeleteFile(std::string_view path);

// True for a directory, following links.
bool IsDirectory(std::string_view path);

// Writes a new file, or replaces the content of an existing one, without ever
// following a symbolic link at the final path (E_ACCESSDENIED there) and
// without writing into anything but a regular file. New files get mode 0644
// less the umask. The first failure (a full disk, say) sticks: later Writes
// and Close report it. Writes go through files::WriteAll.
class FileWriter {
 public:
  HRESULT Open(std::string_view path);
  HRESULT Write(const void* data, std::size_t size);
  HRESULT Write(std::string_view text) { return Write(text.data(), text.size()); }
  // Closes the file; the first error of the writer's life, or S_OK.
  HRESULT Close();
  // Closes (if still open) and removes the file this writer opened: what
  // could not be written whole is not left to pass for the whole.
  void Discard();
  bool is_open() const { return static_cast<bool>(fd_); }
  // The errno value behind the first error, for a message in words
  // (files::ErrorWords); 0 when there was none or it was no system error.
  int errorNumber() const { return errno_; }

 private:
  HRESULT Failed(int err);

  files::UniqueFd fd_;
  std::string path_;
  HRESULT error_ = S_OK;
  int errno_ = 0;
};

}  // namespace shell
