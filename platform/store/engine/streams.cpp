// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/engine/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/mime/mime.h"
#include "platform/shell/files.h"
#include "platform/store/engine/disk.h"
#include "platform/store/engine/internal.h"
#include "platform/store/engine/store_engine.h"

namespace store {
namespace {

// Shared by the read-only message stream and the write stream of a new message.
template <class Self>
class FdStreamBase : public com::PlainStream {
 public:
  HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (pcbRead) *pcbRead = 0;
    if (!pv && cb) return STG_E_INVALIDPOINTER;
    if (fd_ < 0) return STG_E_REVERTED;
    ULONG done = 0;
    while (done < cb) {
      ssize_t n = read(fd_, static_cast<char*>(pv) + done, cb - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return STG_E_READFAULT;
      if (n == 0) break;
      done += static_cast<ULONG>(n);
    }
    if (pcbRead) *pcbRead = done;
    return S_OK;  // a short count (0 at the end) tells the caller where the file ends
  }
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* pos) override {
    if (fd_ < 0) return STG_E_REVERTED;
    int whence = origin == STREAM_SEEK_SET   ? SEEK_SET
                 : origin == STREAM_SEEK_CUR ? SEEK_CUR
                 : origin == STREAM_SEEK_END ? SEEK_END
                                             : -1;
    if (whence < 0) return STG_E_INVALIDFUNCTION;
    off_t at = lseek(fd_, static_cast<off_t>(move.QuadPart), whence);
    if (at < 0) return STG_E_INVALIDFUNCTION;
    if (pos) pos->QuadPart = static_cast<ULONGLONG>(at);
    return S_OK;
  }
  HRESULT Stat(STATSTG* st, DWORD) override {
    if (!st) return STG_E_INVALIDPOINTER;
    std::memset(st, 0, sizeof *st);
    struct stat s;
    if (fd_ < 0 || fstat(fd_, &s) != 0) return STG_E_ACCESSDENIED;
    st->type = STGTY_STREAM;
    st->cbSize.QuadPart = static_cast<ULONGLONG>(s.st_size);
    st->mtime =
        disk::TicksToFileTime(disk::UnixToTicks(s.st_mtim.tv_sec) + s.st_mtim.tv_nsec / 100);
    st->atime = disk::TicksToFileTime(disk::UnixToTicks(s.st_atim.tv_sec));
    st->ctime = disk::TicksToFileTime(disk::UnixToTicks(s.st_ctim.tv_sec));
    st->grfMode = static_cast<const Self*>(this)->Mode();
    return S_OK;
  }

 protected:
  int fd_ = -1;
};

class FileStream final : public FdStreamBase<FileStream> {
 public:
  explicit FileStream(int fd) { fd_ = fd; }
  ~FileStream() override {
    if (fd_ >= 0) close(fd_);
  }
  DWORD Mode() const { return 0; }  // STGM_READ
  HRESULT Write(const void*, ULONG, ULONG* written) override {
    if (written) *written = 0;
    return STG_E_ACCESSDENIED;
  }
  HRESULT SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
};

// The stream of a message being written: a file in tmp/ with its id reserved.
// Released without CommitStream, it leaves nothing behind.
class NewMessageStream final : public FdStreamBase<NewMessageStream> {
 public:
  NewMessageStream(std::shared_ptr<Store> store, STOREFOLDERID folder, MESSAGEID id, int fd,
                   std::string path)
      : store_(std::move(store)), folder_(folder), id_(id), path_(std::move(path)) {
    fd_ = fd;
  }
  ~NewMessageStream() override {
    if (fd_ >= 0) close(fd_);
    if (!committed_) store_->AbandonMessage(folder_, id_, path_);
  }
  DWORD Mode() const { return 2; }  // STGM_READWRITE
  HRESULT Write(const void* pv, ULONG cb, ULONG* written) override {
    if (written) *written = 0;
    if (!pv && cb) return STG_E_INVALIDPOINTER;
    if (fd_ < 0) return STG_E_REVERTED;
    if (int error = ::files::WriteAll(fd_, pv, cb))
      return error == ENOSPC || error == EDQUOT ? STG_E_MEDIUMFULL : STG_E_WRITEFAULT;
    if (written) *written = cb;
    return S_OK;
  }
  HRESULT SetSize(ULARGE_INTEGER size) override {
    if (fd_ < 0) return STG_E_REVERTED;
    return ftruncate(fd_, static_cast<off_t>(size.QuadPart)) == 0 ? S_OK : STG_E_MEDIUMFULL;
  }

  HRESULT CommitTo(STOREFOLDERID folder, MESSAGEID id, DWORD msgFlags) {
    if (committed_ || fd_ < 0) return STG_E_REVERTED;
    if (folder != folder_ || id != id_) return E_INVALIDARG;
    HRESULT hr = store_->CommitMessage(folder_, id_, fd_, path_, msgFlags);
    if (FAILED(hr)) return hr;
    committed_ = true;
    close(fd_);
    fd_ = -1;  // the stream is spent: the message is in place
    return S_OK;
  }

 private:
  std::shared_ptr<Store> store_;
  STOREFOLDERID folder_;
  MESSAGEID id_;
  std::string path_;
  bool committed_ = false;
};

}  // namespace

HRESULT CreateFileStream(int fd, IStream** out) {
  if (!out) return E_POINTER;
  auto stream = com::MakeObject<FileStream>(fd);
  if (!stream) {
    close(fd);
    return E_OUTOFMEMORY;
  }
  *out = stream.Detach();
  return S_OK;
}

bool IsMessageInterface(REFIID riid) {
  return riid == IID_IStream || riid == IID_ISequentialStream || riid == IID_IUnknown ||
         riid == IID_IMimeMessage;
}

HRESULT OpenWholeMessageFile(const std::string& path, REFIID riid, void** ppv) {
  if (riid == IID_IMimeMessage)
    return mime::OpenMessageFile(path.c_str(), reinterpret_cast<IMimeMessage**>(ppv));
  if (!IsMessageInterface(riid)) return E_NOINTERFACE;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return engine::Errno();
  com::ComPtr<IStream> stream;
  HRESULT hr = CreateFileStream(fd, stream.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  return stream->QueryInterface(riid, ppv);
}

HRESULT OpenMessageSlice(int fd, const mime::FileSlice& slice, REFIID riid, void** ppv) {
  if (riid == IID_IMimeMessage)
    return mime::OpenMessageSlice(fd, slice, reinterpret_cast<IMimeMessage**>(ppv));
  if (!IsMessageInterface(riid)) {
    close(fd);
    return E_NOINTERFACE;
  }
  com::ComPtr<IStream> stream;
  HRESULT hr = mime::OpenSliceStream(fd, slice, stream.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  return stream->QueryInterface(riid, ppv);
}

HRESULT CreateNewMessageStream(std::shared_ptr<Store> store, STOREFOLDERID folder, MESSAGEID id,
                               int fd, const std::string& path, IStream** out) {
  auto stream = com::MakeObject<NewMessageStream>(store, folder, id, fd, path);
  if (!stream) {
    close(fd);
    store->AbandonMessage(folder, id, path);
    return E_OUTOFMEMORY;
  }
  *out = stream.Detach();
  return S_OK;
}

HRESULT CommitNewMessageStream(IStream* stream, STOREFOLDERID folder, MESSAGEID id,
                               DWORD msgFlags) {
  auto* written = dynamic_cast<NewMessageStream*>(stream);
  if (!written) return E_INVALIDARG;
  return written->CommitTo(folder, id, msgFlags);
}

}  // namespace store
