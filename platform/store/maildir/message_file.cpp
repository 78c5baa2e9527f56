// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/maildir/message_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/store/engine/disk.h"
#include "platform/store/maildir/names.h"

namespace store::maildir {

void ReadFileSummary(int fd, FileSummary* p, ReaderState* reader) {
  struct stat st;
  if (fstat(fd, &st) != 0) return;
  p->size = st.st_size;
  p->mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  if (!ReadHeaderBlock(fd, &reader->headers)) return;
  p->sum = ParseHeaderBlock(reader->headers, &reader->addresses);
  auto delivered = DeliverySeconds(p->uniq);
  p->received = disk::UnixToTicks(delivered ? *delivered : st.st_mtim.tv_sec);
  p->sent = p->sum.sentSeconds ? disk::UnixToTicks(*p->sum.sentSeconds) : p->received;
  if (p->sum.attachment) p->flags |= MSG_FLAG_ATTACHMENT;
  p->ok = true;
}

void ReadFileSummary(int fd, FileSummary* p) {
  ReaderState reader;
  ReadFileSummary(fd, p, &reader);
}

void ReadFileSummary(const std::string& path, FileSummary* p, ReaderState* reader) {
  ReadFileSummaryAt(AT_FDCWD, path, p, reader);
}

void ReadFileSummaryAt(int dirFd, const std::string& name, FileSummary* p, ReaderState* reader) {
  int fd = openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ReadFileSummary(fd, p, reader);
  close(fd);
}

}  // namespace store::maildir
