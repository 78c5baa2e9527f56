// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/messages_ops/export_file.h"

namespace msgops {
namespace {
constexpr std::size_t kBufferSize = 64 * 1024;
}  // namespace

HRESULT ExportFile::Open(const std::string& path) {
  buffer_.clear();
  if (path.empty()) return HRESULT_FROM_WIN32_PATH_NOT_FOUND;
  HRESULT hr = writer_.Open(path);
  if (SUCCEEDED(hr)) buffer_.reserve(kBufferSize);
  return hr;
}

HRESULT ExportFile::Write(const void* data, std::size_t size) {
  if (!writer_.is_open()) return E_HANDLE;
  if (buffer_.size() + size > kBufferSize) {
    if (HRESULT hr = Flush(); FAILED(hr)) return hr;
  }
  if (size >= kBufferSize) return writer_.Write(data, size);
  const char* bytes = static_cast<const char*>(data);
  buffer_.insert(buffer_.end(), bytes, bytes + size);
  return S_OK;
}

HRESULT ExportFile::Flush() {
  HRESULT hr = buffer_.empty() ? S_OK : writer_.Write(buffer_.data(), buffer_.size());
  buffer_.clear();
  return hr;
}

HRESULT ExportFile::Close() {
  if (!writer_.is_open()) return E_HANDLE;
  HRESULT flushed = Flush();
  HRESULT closed = writer_.Close();
  return FAILED(flushed) ? flushed : closed;
}

}  // namespace msgops
