// SPDX-License-Identifier: LGPL-2.1-or-later
// Splitting a mapped mbox file and reading each message's facts on two
// threads, handing the messages on in file order.
//
// The file is cut into chunks of a few megabytes at certain message starts
// (CertainStart in splitter.h), so every chunk splits exactly as the whole
// file would there. The calling thread and one helper each take the next
// chunk, split it and read the facts of its messages (the content hash is
// most of it); the calling thread hands the chunks on in order, so whatever
// counts messages in file order (the occurrence in their keys) sees them as
// a single thread would. The helper keeps at most a few chunks ahead of what
// was handed on: memory stays bounded however large the file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/mbox/message_key.h"
#include "platform/store/mbox/splitter.h"

namespace store::mbox {

// One message of a chunk.
struct Scanned {
  Span span;  // offsets in the whole file
  MessageFacts facts;
  std::vector<std::string> labels;
  // Its header block and "From " line, copied while they are in the
  // processor's caches, for the reader of its summary.
  std::string headers, envelope;
};

struct ChunkedScanOptions {
  std::size_t chunkBytes = 4 << 20;
  // Files smaller than this are split on the calling thread alone.
  std::size_t parallelFrom = 16 << 20;
};

class ChunkedScan {
 public:
  // Reads what is wanted of the message at `out->span` of `bytes` into
  // `out`. Called on either thread.
  using ReadOne = std::function<void(std::string_view bytes, Scanned* out)>;
  // Whether the bytes may still be read (the lease holds). Called on either
  // thread, between a megabyte or so of bytes; once false, no byte is read
  // again and the scan stops at the first message it has not read.
  using MayRead = std::function<bool()>;
  // Takes the next messages in file order (the calling thread's); false
  // stops the scan.
  using Take = std::function<bool(std::vector<Scanned>& messages, std::uint64_t end)>;

  ChunkedScan(std::string_view bytes, ReadOne readOne, MayRead mayRead,
              ChunkedScanOptions options = {});

  // Splits the bytes from `start` (0 or a message's start) and hands every
  // message on to `take`, in order, a chunk at a time (`end`: where the
  // chunk's last message ends). Returns where the messages handed on end:
  // the size of the bytes when all were, less when `mayRead` or `take`
  // stopped the scan.
  std::uint64_t Run(std::uint64_t start, const Take& take);

 private:
  std::string_view bytes_;
  ReadOne readOne_;
  MayRead mayRead_;
  ChunkedScanOptions options_;
};

}  // namespace store::mbox
