// SPDX-License-Identifier: LGPL-2.1-or-later
// ISequentialStream and IStream, in the standard slot order.
#pragma once

#include <algorithm>

#include "platform/com/unknown.h"

struct STATSTG {
  LPOLESTR pwcsName;  // freed with CoTaskMemFree; null with STATFLAG_NONAME
  DWORD type;
  ULARGE_INTEGER cbSize;
  FILETIME mtime;
  FILETIME ctime;
  FILETIME atime;
  DWORD grfMode;
  DWORD grfLocksSupported;
  CLSID clsid;
  DWORD grfStateBits;
  DWORD reserved;
};

constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;
constexpr DWORD STATFLAG_DEFAULT = 0;
constexpr DWORD STATFLAG_NONAME = 1;
constexpr DWORD STGTY_STREAM = 2;
constexpr DWORD STGC_DEFAULT = 0;

struct ISequentialStream : IUnknown {
  static constexpr IID iid = com::Guid("{0C733A30-2A1C-11CE-ADE5-00AA0044773D}");
  using Base = IUnknown;
  // Reads up to cb bytes; *pcbRead = 0 with S_OK (or S_FALSE) is the end.
  virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
  virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
};

struct IStream : ISequentialStream {
  static constexpr IID iid = com::Guid("{0000000C-0000-0000-C000-000000000046}");
  using Base = ISequentialStream;
  virtual HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) = 0;
  virtual HRESULT SetSize(ULARGE_INTEGER libNewSize) = 0;
  virtual HRESULT CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                         ULARGE_INTEGER* pcbWritten) = 0;
  virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
  virtual HRESULT Revert() = 0;
  virtual HRESULT LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
  virtual HRESULT UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
  virtual HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
  virtual HRESULT Clone(IStream** ppstm) = 0;
};

constexpr IID IID_ISequentialStream = ISequentialStream::iid;
constexpr IID IID_IStream = IStream::iid;

namespace com {

// What the system's streams answer alike: they keep no transactions, lock no
// regions and cannot be cloned, and CopyTo reads the stream itself from its
// current position, up to `cb` bytes, in buffer-sized pieces.
class PlainStream : public Object<IStream> {
 public:
  HRESULT CopyTo(IStream* to, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                 ULARGE_INTEGER* pcbWritten) override {
    if (!to) return STG_E_INVALIDPOINTER;
    ULONGLONG left = cb.QuadPart, read = 0, written = 0;
    char buf[65536];
    HRESULT hr = S_OK;
    while (left > 0) {
      ULONG n = 0;
      hr = Read(buf, static_cast<ULONG>(std::min<ULONGLONG>(left, sizeof buf)), &n);
      if (FAILED(hr) || n == 0) break;
      read += n;
      left -= n;
      ULONG w = 0;
      hr = to->Write(buf, n, &w);
      written += w;
      if (FAILED(hr) || w != n) break;
    }
    if (pcbRead) pcbRead->QuadPart = read;
    if (pcbWritten) pcbWritten->QuadPart = written;
    return FAILED(hr) ? hr : S_OK;
  }
  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return S_OK; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }
};

}  // namespace com
