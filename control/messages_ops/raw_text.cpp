#include "control/messages_ops/raw_text.h"

#include <algorithm>
#include <cstring>

namespace msgops {

std::optional<std::string> ReadRawText(IStoreFolder* folder, MESSAGEID id) {
  if (!folder) return std::nullopt;
  com::ComPtr<IStream> stream;
  if (FAILED(folder->OpenMessage(id, IID_IStream, stream.ReleaseAndGetVoidAddress())) || !stream) {
    return std::nullopt;
  }
  std::string text;
  char buffer[kRawTextChunk + 1];
  for (;;) {
    ULONG read = 0;
    if (FAILED(stream->Read(buffer, kRawTextChunk, &read))) return std::nullopt;
    if (read == 0) break;
    read = std::min(read, kRawTextChunk);  // a stream must not claim more than asked
    text.append(buffer, strnlen(buffer, read));
  }
  return text;
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
