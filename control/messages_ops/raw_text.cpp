// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/messages_ops/raw_text.h"

#include <algorithm>
#include <cstring>

#include <glib.h>

namespace msgops {

std::optional<std::string> ReadRawText(IStoreFolder* folder, MESSAGEID id) {
  return ReadRawTextUntil(folder, id, nullptr);
}

std::optional<std::string> ReadRawTextUntil(IStoreFolder* folder, MESSAGEID id,
                                            const std::function<bool(std::string_view)>& settled) {
  if (!folder) return std::nullopt;
  com::ComPtr<IStream> stream;
  if (FAILED(folder->OpenMessage(id, IID_IStream, stream.ReleaseAndGetVoidAddress())) || !stream) {
    return std::nullopt;
  }
  return ReadTextInChunks(
      [&](char* buffer, ULONG count, ULONG* read) { return stream->Read(buffer, count, read); },
      settled);
}

std::optional<std::string> ReadTextInChunks(const ChunkRead& read,
                                            const std::function<bool(std::string_view)>& settled) {
  std::string text;
  char buffer[kRawTextChunk + 1];
  for (;;) {
    ULONG got = 0;
    if (FAILED(read(buffer, kRawTextChunk, &got))) return std::nullopt;
    if (got == 0) break;
    got = std::min(got, kRawTextChunk);  // a stream must not claim more than asked
    buffer[got] = '\0';
    text.append(buffer, strnlen(buffer, got));
    if (settled && settled(text)) break;
  }
  return text;
}

namespace {

// Finds `marker` in `text` from `*searched` on; when it is not there, moves
// `*searched` to where a later search must start (a marker may begin in the
// text's last bytes and end in what is appended next).
std::size_t FindFrom(std::string_view text, std::string_view marker, std::size_t* searched) {
  std::size_t at = text.find(marker, *searched);
  if (at == std::string_view::npos && text.size() >= marker.size())
    *searched = std::max(*searched, text.size() - marker.size() + 1);
  return at;
}

}  // namespace

bool ReturnAddressSettled::operator()(std::string_view text) {
  // Once "Return-Path:" is found the "To:" fallback is never made, and the
  // first ">" after it fixes the answer: a "<" after that ">" gives nothing.
  if (header_ == std::string_view::npos) {
    header_ = FindFrom(text, "Return-Path:", &searched_);
    if (header_ == std::string_view::npos) return false;
    searched_ = header_;
  }
  std::size_t close = text.find('>', searched_);
  if (close == std::string_view::npos) searched_ = text.size();
  return close != std::string_view::npos;
}

bool DeliveredToSettled::operator()(std::string_view text) {
  constexpr std::string_view kHeader = "Delivered-To:";
  constexpr std::size_t kNeeded = kHeader.size() + 1 + 50;  // the name, a character, the piece
  if (header_ == std::string_view::npos) header_ = FindFrom(text, kHeader, &searched_);
  return header_ != std::string_view::npos && text.size() >= header_ + kNeeded;
}

std::string ScanReturnAddress(std::string_view text) {
  size_t start = text.find("Return-Path:");
  if (start == std::string_view::npos) start = text.find("To:");
  if (start == std::string_view::npos) return {};
  const size_t open = text.find('<', start);
  const size_t close = text.find('>', start);
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return {};
  return std::string(text.substr(open + 1, close - open - 1));
}

std::string ScanDeliveredTo(std::string_view text) {
  constexpr std::string_view kHeader = "Delivered-To:";
  constexpr size_t kSkip = kHeader.size() + 1;  // the name and the character behind it
  constexpr size_t kPiece = 50;
  const size_t at = text.find(kHeader);
  if (at == std::string_view::npos || at + kSkip > text.size()) return {};
  const std::string_view piece = text.substr(at + kSkip, kPiece);
  const size_t received = piece.find("Received:");
  if (received == std::string_view::npos) return {};
  // Only the Delivered-To line itself: a shorter header standing between it
  // and "Received:" is not part of an address.
  std::string_view line = piece.substr(0, received);
  std::string_view body = line;
  if (body.ends_with('\n')) body.remove_suffix(1);
  if (body.ends_with('\r')) body.remove_suffix(1);
  if (body.find_first_of("\r\n") != std::string_view::npos) return {};
  return std::string(line);
}

}  // namespace msgops
