// SPDX-License-Identifier: LGPL-2.1-or-later
// Reading messages for the index: what a listing learns of one message, and
// reading a batch of them shared among a few threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/store/engine/summary.h"
#include "platform/store/store.h"

namespace store {

// A message as the index keeps it. The caller sets uniq, name and sub;
// reading fills the rest, and `ok` tells whether the file could be read.
struct FileSummary {
  std::string uniq, name;
  int sub = 0;
  std::int64_t size = 0, mtime = 0, received = 0, sent = 0;
  DWORD flags = 0;  // MSG_FLAG_ATTACHMENT from the headers; the Maildir flags are the caller's
  Summary sum;
  bool ok = false;
};

// What a reader keeps from one file to the next: its header buffer and the
// address headers it has parsed. One per thread.
struct ReaderState {
  std::string headers;
  AddressCache addresses;
};

// Reads the summary of the file at `path`, which holds one message and
// nothing else, into `p`; its received time is the file's, for a format that
// keeps no delivery time of its own. `ok` stays false for what is no regular
// file or cannot be read.
void ReadWholeMessageFile(const std::string& path, FileSummary* p, ReaderState* reader);

// How many readers (threads) to give a listing of `files` new files.
std::size_t ReaderCount(std::size_t files);

// Runs `readOne` on every element of `batch`, on as many threads as there
// are `readers` when the batch is large enough to repay starting them. A
// first listing of a large folder is bound by these reads (a few system calls
// and a header parse per file, every file on its own). Each element is
// touched by one thread only, each thread has a reader of its own, and GMime
// is safe to use from several threads on objects of their own.
void ReadAll(std::vector<FileSummary>& batch, std::vector<ReaderState>& readers,
             const std::function<void(FileSummary&, ReaderState&)>& readOne);
// The same over the indexes 0 to count - 1, for work that is not one file
// each; threads start from `parallelFrom` items on.
void ForEachParallel(std::size_t count, std::vector<ReaderState>& readers,
                     const std::function<void(std::size_t, ReaderState&)>& readOne,
                     std::size_t parallelFrom = 256);

// One task on a thread of its own, waited for at the latest when this goes
// out of scope (so an early return never leaves it running). Run in the
// calling thread when no thread can be started.
class Background {
 public:
  Background() = default;
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  ~Background() { Wait(); }
  void Run(std::function<void()> task);
  void Wait() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::function<void()> task_;
  std::thread thread_;
};

}  // namespace store
