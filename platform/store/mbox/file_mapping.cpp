// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/mbox/file_mapping.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace store::mbox {
namespace {

// How long a writer waits for a lease holder before the kernel breaks the
// lease itself. The listing checks its lease every few milliseconds; below
// this margin a slow window could outlast the wait, so no lease is taken.
constexpr int kLeastBreakSeconds = 5;

int LeaseBreakSeconds() {
  int seconds = 0;
  if (FILE* f = std::fopen("/proc/sys/fs/lease-break-time", "re")) {
    if (std::fscanf(f, "%d", &seconds) != 1) seconds = 0;
    std::fclose(f);
  }
  return seconds;
}

}  // namespace

// The mapping keeps a descriptor of its own (for the lease): the caller may
// close its copy at once, and a later F_SETLEASE never lands on a number
// that has come to mean another file.
FileMapping::FileMapping(int fd, std::size_t size, bool sequential)
    : fd_(fcntl(fd, F_DUPFD_CLOEXEC, 0)), wanted_(size) {
  if (size == 0 || fd_ < 0) return;
  void* p = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return;
  addr_ = p;
  size_ = size;
  if (sequential) madvise(addr_, size_, MADV_SEQUENTIAL);
}

FileMapping::~FileMapping() {
  if (addr_) munmap(addr_, size_);
  Release();
  if (fd_ >= 0) close(fd_);
}

std::string_view FileMapping::bytes() const {
  return addr_ ? std::string_view(static_cast<const char*>(addr_), size_) : std::string_view();
}

bool FileMapping::Lease() {
  if (leased_) return true;
  if (!addr_ || letGo_ || LeaseBreakSeconds() < kLeastBreakSeconds) return false;
  // A lease's holder is told of a writer by a signal, SIGIO unless set,
  // whose default action ends the process. The listing asks instead
  // (F_GETLEASE), so no signal is wanted: until the owner is cleared below,
  // one that slips through is SIGURG, which a process ignores unless it asks.
  if (fcntl(fd_, F_SETSIG, SIGURG) != 0 || fcntl(fd_, F_SETLEASE, F_RDLCK) != 0) return false;
  leased_ = true;
  if (fcntl(fd_, F_SETOWN, 0) != 0) {
    Release();
    return false;
  }
  // The lease holds off truncations from now on, not one made between the
  // mapping and the lease: a file already shorter than its mapping is not
  // read through it.
  struct stat st;
  if (fstat(fd_, &st) != 0 || static_cast<std::uint64_t>(st.st_size) < size_) {
    Release();
    return false;
  }
  return true;
}

bool FileMapping::Intact() {
  if (!leased_) return false;
  if (fcntl(fd_, F_GETLEASE) == F_RDLCK) return true;
  Release();
  return false;
}

bool FileMapping::Held() const {
  return leased_ && fcntl(fd_, F_GETLEASE) == F_RDLCK;
}

void FileMapping::DropBefore(std::size_t offset) {
  constexpr std::size_t kStep = 32 << 20;
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  offset = std::min(offset, size_) / page * page;
  if (!addr_ || offset < dropped_ + kStep) return;
  madvise(static_cast<char*>(addr_) + dropped_, offset - dropped_, MADV_DONTNEED);
  dropped_ = offset;
}

void FileMapping::Release() {
  if (!leased_) return;
  fcntl(fd_, F_SETLEASE, F_UNLCK);
  leased_ = false;
  letGo_ = true;
}

}  // namespace store::mbox
