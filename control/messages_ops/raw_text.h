// SPDX-License-Identifier: LGPL-2.1-or-later
// A message's stored text as the header lookups see it, and the two header
// scans made on it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com/codepage.h"
#include "platform/store/store.h"

namespace msgops {

// Bytes asked of the stream per read for the raw text.
constexpr ULONG kRawTextChunk = 4095;

// The stored text of message `id` of `folder`, read in chunks of
// kRawTextChunk bytes. Each chunk is taken as a C string, so a NUL byte ends
// its own chunk's contribution (the rest of that chunk is dropped) and the
// next chunk starts afresh. Nothing when the folder is absent, the message
// cannot be opened as a stream or a read fails.
std::optional<std::string> ReadRawText(IStoreFolder* folder, MESSAGEID id);

// The chunked reading itself, over any source of reads: `read` fills at most
// the given count of bytes and tells how many it delivered.
using ChunkRead = std::function<HRESULT(char* buffer, ULONG count, ULONG* read)>;
std::optional<std::string> ReadTextInChunks(const ChunkRead& read,
                                            const std::function<bool(std::string_view)>& settled);

// The same text read only as far as needed: after each chunk `settled` is
// asked with the text so far and ends the reading by answering true.
std::optional<std::string> ReadRawTextUntil(IStoreFolder* folder, MESSAGEID id,
                                            const std::function<bool(std::string_view)>& settled);

// The scans below answer the same for every text that starts with a text that
// these say is settled: what follows cannot change the answer. Each remembers
// how far it has looked, so a growing text is searched once.
class ReturnAddressSettled {
 public:
  bool operator()(std::string_view text);

 private:
  std::size_t searched_ = 0;  // no "Return-Path:" starts before this
  std::size_t header_ = std::string_view::npos;
};

class DeliveredToSettled {
 public:
  bool operator()(std::string_view text);

 private:
  std::size_t searched_ = 0;
  std::size_t header_ = std::string_view::npos;
};

// The return address: the text between the first "<" and the first ">" after
// the first "Return-Path:", or, without one, after the first "To:" (which may
// be the tail of "Delivered-To:"). Exact, case-sensitive, first occurrences;
// empty when a marker is missing or ">" comes before "<".
std::string ScanReturnAddress(std::string_view text);

// The delivered-to address: the piece of at most 50 characters that starts 14
// characters after the first "Delivered-To:", up to the "Received:" inside it
// (the line break before it stays); empty when either marker is missing or
// another line stands between the two.
std::string ScanDeliveredTo(std::string_view text);

// The narrow text handed to clients is UTF-8: valid UTF-8 stays as it is, and
// every other byte becomes its Windows-1252 character, as old 8-bit mail
// means it (Latin-1 and its superset).
using codepage::Utf8OrWindows1252;

}  // namespace msgops
