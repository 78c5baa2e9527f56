// Stand-ins for the store folder, its message streams and the MIME layer,
// with the desktop services, for the message operation tests.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "control/messages_ops/message_ops.h"
#include "platform/com/memory.h"
#include "tests/support/scratch.h"

namespace msgops::testing {

using mqtest::ReadFile;
using mqtest::TempDir;
using mqtest::WriteFile;

// A message's stored bytes; reads deliver at most `maxRead` bytes and the
// read numbered `failAt` (from 0) fails.
class FakeStream final : public com::Object<IStream> {
 public:
  FakeStream(std::string bytes, ULONG maxRead, int failAt)
      : bytes_(std::move(bytes)), maxRead_(maxRead), failAt_(failAt) {}
  HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    asked.push_back(cb);
    if (static_cast<int>(asked.size()) - 1 == failAt_) return STG_E_READFAULT;
    size_t n = std::min<size_t>({cb, maxRead_, bytes_.size() - at_});
    std::memcpy(pv, bytes_.data() + at_, n);
    at_ += n;
    *pcbRead = static_cast<ULONG>(n);
    return S_OK;
  }
  HRESULT Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT Commit(DWORD) override { return E_NOTIMPL; }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }

  std::vector<ULONG> asked;

 private:
  std::string bytes_;
  ULONG maxRead_;
  int failAt_;
  size_t at_ = 0;
};

struct FakePart {
  std::string name;
  std::string content;
  bool attachment = true;
  bool bindFails = false;
};

class FakeBody final : public com::Object<IMimeBody> {
 public:
  explicit FakeBody(const FakePart& part) : part_(part) {}
  HRESULT GetDisplayName(LPSTR* out) override {
    *out = com::CoTaskStrDup(part_.name.c_str(), part_.name.size());
    return S_OK;
  }
  HRESULT SaveToFile(ENCODINGTYPE, LPCSTR path) override {
    WriteFile(path, part_.content);
    return S_OK;
  }

 private:
  FakePart part_;
};

class FakeMime final : public com::Object<IMimeMessage> {
 public:
  explicit FakeMime(std::vector<FakePart> parts) : parts_(std::move(parts)) {}
  HRESULT GetAttachments(ULONG* count, HBODY** handles) override {
    *count = static_cast<ULONG>(parts_.size());
    *handles = nullptr;
    if (parts_.empty()) return S_OK;
    *handles = static_cast<HBODY*>(CoTaskMemAlloc(sizeof(HBODY) * parts_.size()));
    for (size_t i = 0; i < parts_.size(); ++i) (*handles)[i] = reinterpret_cast<HBODY>(i + 1);
    return S_OK;
  }
  HRESULT IsBodyType(HBODY h, IMSGBODYTYPE) override { return Part(h).attachment ? S_OK : S_FALSE; }
  HRESULT BindToObject(HBODY h, REFIID riid, void** out) override {
    *out = nullptr;
    if (riid != IID_IMimeBody || Part(h).bindFails) return E_FAIL;
    *out = com::MakeObject<FakeBody>(Part(h)).Detach();
    return S_OK;
  }

 private:
  const FakePart& Part(HBODY h) { return parts_.at(reinterpret_cast<size_t>(h) - 1); }
  std::vector<FakePart> parts_;
};

// A store folder whose messages are byte strings and lists of MIME parts.
class FakeFolder final : public com::Object<IStoreFolder> {
 public:
  struct Message {
    std::string bytes;
    std::vector<FakePart> parts;
  };
  std::map<MESSAGEID, Message> messages;
  ULONG maxRead = 1 << 30;
  int failAt = -1;
  com::ComPtr<FakeStream> lastStream;

  HRESULT OpenMessage(MESSAGEID id, REFIID riid, void** out) override {
    *out = nullptr;
    auto it = messages.find(id);
    if (it == messages.end()) return STG_E_FILENOTFOUND;
    if (riid == IID_IStream) {
      lastStream = com::MakeObject<FakeStream>(it->second.bytes, maxRead, failAt);
      *out = static_cast<IStream*>(lastStream.CopyOut());
      return S_OK;
    }
    if (riid == IID_IMimeMessage) {
      *out = com::MakeObject<FakeMime>(it->second.parts).Detach();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  // The read-state probe: only a listed message can be marked.
  HRESULT MarkMessagesAsRead(BOOL, DWORD, MESSAGEIDLIST* list) override {
    if (!list || list->cMsgs != 1) return E_INVALIDARG;
    return messages.count(list->prgdwMsgId[0]) ? S_OK : STG_E_FILENOTFOUND;
  }
  HRESULT DeleteMessages(MESSAGEIDLIST*, DWORD, IProgressNotify*) override { return E_NOTIMPL; }

  HRESULT GetFolderProps(DWORD, FOLDERPROPS*) override { return E_NOTIMPL; }
  HRESULT SetLanguage(DWORD, DWORD, MESSAGEIDLIST*) override { return E_NOTIMPL; }
  HRESULT SetFlags(MESSAGEIDLIST*, DWORD, DWORD, DWORD*) override { return E_NOTIMPL; }
  HRESULT SaveMessage(REFIID, void*, DWORD, MESSAGEID*) override { return E_NOTIMPL; }
  HRESULT BatchLock(DWORD, HBATCHLOCK*) override { return E_NOTIMPL; }
  HRESULT BatchFlush(DWORD, HBATCHLOCK) override { return E_NOTIMPL; }
  HRESULT BatchUnlock(DWORD, HBATCHLOCK) override { return E_NOTIMPL; }
  HRESULT CreateStream(HBATCHLOCK, DWORD, IStream**, MESSAGEID*) override { return E_NOTIMPL; }
  HRESULT CommitStream(HBATCHLOCK, DWORD, DWORD, IStream*, MESSAGEID, IMimeMessage*) override {
    return E_NOTIMPL;
  }
  HRESULT RegisterNotification(DWORD, HWND) override { return E_NOTIMPL; }
  HRESULT UnregisterNotification(DWORD, HWND) override { return E_NOTIMPL; }
  HRESULT GetMessageProps(MESSAGEID, DWORD, MESSAGEPROPS*) override { return E_NOTIMPL; }
  HRESULT FreeMessageProps(MESSAGEPROPS*) override { return E_NOTIMPL; }
  HRESULT GetFirstMessage(DWORD, DWORD, MESSAGEID, MESSAGEPROPS*, HENUMSTORE*) override {
    return E_NOTIMPL;
  }
  HRESULT GetNextMessage(HENUMSTORE, DWORD, MESSAGEPROPS*) override { return E_NOTIMPL; }
  HRESULT GetMessageClose(HENUMSTORE) override { return E_NOTIMPL; }
};

class FakeShell final : public ShellServices {
 public:
  std::optional<std::string> temp;
  std::optional<std::string> home;
  std::vector<std::string> opened;
  std::optional<std::string> TempDirectory() override { return temp; }
  std::optional<std::string> HomeDirectory() override { return home; }
  void OpenDocument(const std::string& path) override { opened.push_back(path); }
};

struct Record {
  std::string subject, displayFrom, displayTo, receiveTime, sentTime;
  LONG size = 0;
  MESSAGEID id = 0;
};

inline auto Snapshot(const std::vector<Record>& records) {
  return SnapshotOf(records, [](const Record& r) { return ViewOf(r); });
}

}  // namespace msgops::testing
