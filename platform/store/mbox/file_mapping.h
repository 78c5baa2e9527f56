// SPDX-License-Identifier: LGPL-2.1-or-later
// A whole file mapped read-only, and whether its bytes can be read through
// the mapping without the process being killed.
//
// A page of a mapping that lies past the file's end once the file has been
// truncated (a mail program rewriting or emptying an mbox in place) raises
// SIGBUS when read. The listing walks a mapping only while it holds a read
// lease on the file: nobody can open the file for writing or truncate it
// without first asking the lease holder to let go, and the kernel then waits
// (fs.lease-break-time, 45 s by default) before it breaks the lease itself.
// The listing checks the lease between windows, a few milliseconds apart, and
// when someone asks, lets go at once and reads the rest with pread. A file
// already open for writing elsewhere, a file system without leases, or a file
// of another owner get no lease: they are read with pread throughout.
#pragma once

#include <cstddef>
#include <string_view>

namespace store::mbox {

class FileMapping {
 public:
  // Maps `size` bytes of `fd` (opened read-only); `sequential` when it is
  // read once from start to end.
  FileMapping(int fd, std::size_t size, bool sequential = false);
  ~FileMapping();
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;

  // Whether the mapping was made (an empty file needs none).
  bool ok() const { return wanted_ == 0 || addr_; }
  // The bytes as mapped; read them only while Intact() holds, or where
  // nobody could have truncated the file since it was opened.
  std::string_view bytes() const;

  // Takes a read lease on the file; false when it cannot be had (or was
  // let go already).
  bool Lease();
  // Whether the lease is held and nobody has asked for it: the mapping can
  // be read until the next check. Once false, stays false (the lease is let
  // go at once, so the writer waits no longer than it must).
  bool Intact();
  // The same check without letting go: safe to call from several threads
  // while they read the mapping. Intact() lets go once they are done.
  bool Held() const;
  // Lets go of the lease, when the mapping will not be read again.
  void Release();
  // Unmaps the pages before `offset`, which will not be read again (they
  // stay in the page cache), a few megabytes at a time: a listing's
  // resident memory stays small however large the file.
  void DropBefore(std::size_t offset);

 private:
  int fd_;
  std::size_t wanted_;
  void* addr_ = nullptr;
  std::size_t size_ = 0;
  bool leased_ = false;
  bool letGo_ = false;
  std::size_t dropped_ = 0;  // the pages before it are unmapped
};

}  // namespace store::mbox
