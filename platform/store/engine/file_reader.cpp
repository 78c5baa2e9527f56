// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/engine/file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <system_error>

#include "platform/store/engine/disk.h"

namespace store {

namespace {
// A batch is read by up to this many threads, and only when it is large
// enough to repay starting them.
constexpr unsigned kMaxReaders = 4;
constexpr std::size_t kParallelFrom = 256;
}  // namespace

void ReadWholeMessageFile(const std::string& path, FileSummary* p, ReaderState* reader) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ReadHeaderBlock(fd, &reader->headers)) {
    p->size = st.st_size;
    p->mtime = disk::MTimeOf(st);
    p->sum = ParseHeaderBlock(reader->headers, &reader->addresses);
    p->received = disk::UnixToTicks(st.st_mtim.tv_sec);
    p->sent = p->sum.sentSeconds ? disk::UnixToTicks(*p->sum.sentSeconds) : p->received;
    p->ok = true;
  }
  close(fd);
}

std::size_t ReaderCount(std::size_t files) {
  if (files < kParallelFrom) return 1;
  return std::min(kMaxReaders, std::max(1u, std::thread::hardware_concurrency()));
}

void ReadAll(std::vector<FileSummary>& batch, std::vector<ReaderState>& readers,
             const std::function<void(FileSummary&, ReaderState&)>& readOne) {
  ForEachParallel(batch.size(), readers,
                  [&](std::size_t i, ReaderState& reader) { readOne(batch[i], reader); });
}

void ForEachParallel(std::size_t count, std::vector<ReaderState>& readers,
                     const std::function<void(std::size_t, ReaderState&)>& readOne,
                     std::size_t parallelFrom) {
  constexpr std::size_t kChunk = 32;
  std::atomic<std::size_t> next{0};
  auto work = [&](ReaderState& reader) {
    for (std::size_t from; (from = next.fetch_add(kChunk)) < count;)
      for (std::size_t i = from; i < std::min(count, from + kChunk); ++i) readOne(i, reader);
  };
  std::size_t threads = count < parallelFrom ? 1 : readers.size();
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(work, std::ref(readers[t]));
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the ones running do the rest
    }
  }
  work(readers[0]);
  for (auto& h : helpers) h.join();
}

void Background::Run(std::function<void()> task) {
  task_ = std::move(task);
  try {
    thread_ = std::thread([this] { task_(); });
  } catch (const std::system_error&) {
    task_();
  }
}

}  // namespace store
