// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/mbox/chunked_scan.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace store::mbox {
namespace {

// Chunks taken beyond the one to hand on next, and messages read and not
// handed on, at most: enough for the helper not to wait on the hand-over,
// few enough that memory stays small whatever the size of the messages.
constexpr std::size_t kAhead = 8;
constexpr std::size_t kMostHeld = 1 << 16;
// Bytes read between two checks that they still may be.
constexpr std::uint64_t kCheckEvery = 1 << 20;

struct Chunk {
  std::uint64_t begin = 0, end = 0;
  std::vector<Scanned> messages;
  std::uint64_t reached = 0;  // where the last message read ends
  bool done = false;          // read as far as it will be
  bool complete = false;      // every message in it read
};

// What the two threads share; every member but `stop` under `mutex`.
struct State {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Chunk> chunks;  // taken and not handed on yet, in order
  std::size_t first = 0;     // the number of the front chunk (chunks handed on)
  std::size_t taken = 0;     // chunks taken so far
  std::uint64_t cursor = 0;  // where the next chunk begins
  std::size_t held = 0;      // messages of the chunks read and not handed on
  std::atomic<bool> stop{false};

  bool MayTake(std::uint64_t size) const {
    return !stop && cursor < size && taken <= first + kAhead && held < kMostHeld;
  }
};

}  // namespace

ChunkedScan::ChunkedScan(std::string_view bytes, ReadOne readOne, MayRead mayRead,
                         ChunkedScanOptions options)
    : bytes_(bytes),
      readOne_(std::move(readOne)),
      mayRead_(std::move(mayRead)),
      options_(options) {}

std::uint64_t ChunkedScan::Run(std::uint64_t start, const Take& take) {
  const std::uint64_t size = bytes_.size();
  if (start >= size) return size;
  State st;
  st.cursor = start;

  // Under the lock: the next chunk, ending at the first certain message
  // start a chunk's length on (the search reads on past it at most to the
  // next message).
  auto takeChunk = [&]() -> Chunk* {
    Chunk& c = st.chunks.emplace_back();
    c.begin = c.reached = st.cursor;
    const std::uint64_t aim = st.cursor + options_.chunkBytes;
    c.end = aim >= size ? size : CertainStart(bytes_, aim);
    st.cursor = c.end;
    ++st.taken;
    return &c;
  };
  // Outside the lock: splits one chunk and reads its messages.
  auto read = [&](Chunk& c) {
    try {
      Splitter splitter(bytes_.substr(0, c.end), c.begin);
      std::uint64_t unchecked = kCheckEvery;
      for (;;) {
        if (unchecked >= kCheckEvery) {
          if (st.stop || !mayRead_()) {
            st.stop = true;
            return;
          }
          unchecked = 0;
        }
        Span s;
        if (!splitter.Next(&s)) break;
        Scanned& m = c.messages.emplace_back();
        m.span = s;
        readOne_(bytes_, &m);
        c.reached = s.end;
        unchecked += s.end - s.from;
      }
      c.reached = c.end;
      c.complete = true;
    } catch (const std::bad_alloc&) {
      c.messages.clear();
      c.reached = c.begin;
      st.stop = true;
    }
  };
  auto finish = [&](Chunk* c) {
    std::lock_guard<std::mutex> lock(st.mutex);
    c->done = true;
    st.held += c->messages.size();
    st.changed.notify_all();
  };

  auto stopAll = [&] {
    std::lock_guard<std::mutex> lock(st.mutex);
    st.stop = true;
    st.changed.notify_all();
  };
  std::thread helper;
  // Whatever ends the hand-over (an exception from `take` too), the helper
  // stops and is waited for before the state it uses goes.
  struct Joiner {
    std::thread& thread;
    const std::function<void()> stop;
    ~Joiner() {
      stop();
      if (thread.joinable()) thread.join();
    }
  } joiner{helper, stopAll};
  if (size - start >= options_.parallelFrom) {
    try {
      helper = std::thread([&] {
        try {
          for (;;) {
            std::unique_lock<std::mutex> lock(st.mutex);
            st.changed.wait(lock, [&] { return st.stop || st.cursor >= size || st.MayTake(size); });
            if (!st.MayTake(size)) return;
            Chunk* c = takeChunk();
            lock.unlock();
            read(*c);
            finish(c);
          }
        } catch (const std::bad_alloc&) {
          stopAll();
        }
      });
    } catch (const std::system_error&) {
      // No thread to be had: this one reads every chunk.
    }
  }

  // Hands the chunks on in order, reading one itself whenever the next is
  // not ready and another may be taken.
  std::uint64_t handed = start;
  for (;;) {
    std::unique_lock<std::mutex> lock(st.mutex);
    const bool ready = !st.chunks.empty() && st.chunks.front().done;
    if (!ready && st.MayTake(size)) {
      Chunk* c = takeChunk();
      lock.unlock();
      read(*c);
      finish(c);
      continue;
    }
    if (!ready) {
      if (st.chunks.empty()) break;  // all handed on, or stopped
      st.changed.wait(lock);
      continue;
    }
    Chunk c = std::move(st.chunks.front());
    st.chunks.pop_front();
    ++st.first;
    st.held -= c.messages.size();
    st.changed.notify_all();
    lock.unlock();
    if (!take(c.messages, c.reached)) {
      st.stop = true;
      break;
    }
    handed = c.reached;
    if (!c.complete) {
      st.stop = true;
      break;
    }
  }
  return handed;
}

}  // namespace store::mbox
