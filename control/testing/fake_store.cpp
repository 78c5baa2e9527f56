// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/testing/fake_store.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>

#include "platform/com/memory.h"
#include "platform/mime/mime.h"

namespace mq::testing {
namespace {

struct SubFolderEnum {
  std::vector<STOREFOLDERID> children;
  std::size_t next = 0;
  int request = 0;
  STOREFOLDERID parent = 0;
};

struct MessageEnum {
  std::size_t next = 0;
  int request = 0;
};

LPSTR Dup(const std::optional<std::string>& text) {
  return text ? com::CoTaskStrDup(text->c_str(), text->size()) : nullptr;
}

class FakeStream final : public com::Object<IStream> {
 public:
  FakeStream(std::string bytes, FakeFolder& folder) : bytes_(std::move(bytes)), folder_(folder) {
    folder_.reads.clear();
  }
  HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    folder_.reads.push_back(cb);
    if (static_cast<int>(folder_.reads.size()) - 1 == folder_.failRead) return STG_E_READFAULT;
    const size_t n = std::min<size_t>({cb, folder_.maxRead, bytes_.size() - at_});
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

 private:
  std::string bytes_;
  FakeFolder& folder_;
  size_t at_ = 0;
};

class FakeBody final : public com::Object<IMimeBody> {
 public:
  explicit FakeBody(const FakePart& part) : part_(part) {}
  HRESULT GetDisplayName(LPSTR* out) override {
    *out = com::CoTaskStrDup(part_.name.c_str(), part_.name.size());
    return S_OK;
  }
  HRESULT SaveToFile(ENCODINGTYPE, LPCSTR path) override {
    std::ofstream(path, std::ios::binary) << part_.content;
    return S_OK;
  }
  HRESULT GetPropText(LPCSTR, LPSTR* out) override {
    *out = nullptr;
    return S_FALSE;
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
  HRESULT GetTextBody(DWORD, LPSTR* out) override {
    *out = nullptr;
    return S_FALSE;
  }

 private:
  const FakePart& Part(HBODY h) { return parts_.at(reinterpret_cast<size_t>(h) - 1); }
  std::vector<FakePart> parts_;
};

class FakeFolderObject : public com::Object<IStoreFolder> {
 public:
  FakeFolderObject(FakeStoreState& state, STOREFOLDERID id) : state_(state), id_(id) {
    ++state_.openFolders;
  }
  ~FakeFolderObject() override { --state_.openFolders; }

  FakeFolder& Folder() { return state_.folders.at(id_); }
  const FakeMessage* Find(MESSAGEID id) {
    const auto& messages = Folder().messages;
    auto it = std::find_if(messages.begin(), messages.end(), [&](auto& m) { return m.id == id; });
    return it == messages.end() ? nullptr : &*it;
  }

  HRESULT Fill(std::size_t index, MESSAGEPROPS* props) {
    if (!props || props->cbSize != MESSAGEPROPS_SIZE) return E_INVALIDARG;
    const FakeMessage& m = Folder().messages[index];
    std::memset(props, 0, sizeof *props);
    props->cbSize = MESSAGEPROPS_SIZE;
    props->dwMessageId = m.id;
    props->pszNormalSubject = Dup(m.subject);
    props->pszSubject = Dup(m.subject ? std::optional("Re: " + *m.subject) : std::nullopt);
    props->dwFlags = m.flags;
    return S_OK;
  }

  HRESULT GetFolderProps(DWORD, FOLDERPROPS*) override { return Call(E_NOTIMPL); }
  HRESULT DeleteMessages(MESSAGEIDLIST*, DWORD, IProgressNotify*) override {
    return Call(E_NOTIMPL);
  }
  HRESULT SetLanguage(DWORD, DWORD, MESSAGEIDLIST*) override { return Call(E_NOTIMPL); }
  HRESULT MarkMessagesAsRead(BOOL, DWORD, MESSAGEIDLIST*) override { return Call(E_NOTIMPL); }
  HRESULT SetFlags(MESSAGEIDLIST*, DWORD, DWORD, DWORD*) override { return Call(E_NOTIMPL); }
  HRESULT OpenMessage(MESSAGEID id, REFIID riid, void** out) override {
    Call(S_OK);
    *out = nullptr;
    const FakeMessage* message = Find(id);
    if (!message) return STG_E_FILENOTFOUND;
    if (riid == IID_IStream) {
      *out = static_cast<IStream*>(com::MakeObject<FakeStream>(message->bytes, Folder()).Detach());
    } else if (riid == IID_IMimeMessage) {
      *out = com::MakeObject<FakeMime>(message->parts).Detach();
    } else {
      return E_NOINTERFACE;
    }
    return S_OK;
  }
  HRESULT SaveMessage(REFIID, void*, DWORD, MESSAGEID*) override { return Call(E_NOTIMPL); }
  HRESULT BatchLock(DWORD, HBATCHLOCK*) override { return Call(E_NOTIMPL); }
  HRESULT BatchFlush(DWORD, HBATCHLOCK) override { return Call(E_NOTIMPL); }
  HRESULT BatchUnlock(DWORD, HBATCHLOCK) override { return Call(E_NOTIMPL); }
  HRESULT CreateStream(HBATCHLOCK, DWORD, IStream**, MESSAGEID*) override {
    return Call(E_NOTIMPL);
  }
  HRESULT CommitStream(HBATCHLOCK, DWORD, DWORD, IStream*, MESSAGEID, IMimeMessage*) override {
    return Call(E_NOTIMPL);
  }
  HRESULT RegisterNotification(DWORD, HWND) override { return Call(E_NOTIMPL); }
  HRESULT UnregisterNotification(DWORD, HWND) override { return Call(E_NOTIMPL); }
  HRESULT GetMessageProps(MESSAGEID id, DWORD, MESSAGEPROPS* props) override {
    Call(S_OK);
    const FakeMessage* message = Find(id);
    return message ? Fill(static_cast<std::size_t>(message - Folder().messages.data()), props)
                   : STG_E_FILENOTFOUND;
  }
  HRESULT FreeMessageProps(MESSAGEPROPS* props) override {
    Call(S_OK);
    for (LPSTR* field : {&props->pszSubject, &props->pszNormalSubject, &props->pszDisplayFrom,
                         &props->pszDisplayTo, &props->pszMessageId}) {
      CoTaskMemFree(*field);
      *field = nullptr;
    }
    return S_OK;
  }
  HRESULT GetFirstMessage(DWORD, DWORD, MESSAGEID first, MESSAGEPROPS* props,
                          HENUMSTORE* handle) override {
    Call(S_OK);
    if (first != MESSAGEID_FIRST || !handle) return E_INVALIDARG;
    *handle = nullptr;
    FakeFolder& folder = Folder();
    if (folder.failMessageRequest == 0) return E_FAIL;
    auto* e = new MessageEnum;
    *handle = e;
    if (folder.messages.empty()) return S_FALSE;
    e->next = 1;
    return Fill(0, props);
  }
  HRESULT GetNextMessage(HENUMSTORE handle, DWORD, MESSAGEPROPS* props) override {
    Call(S_OK);
    if (!handle) return E_INVALIDARG;
    auto* e = static_cast<MessageEnum*>(handle);
    FakeFolder& folder = Folder();
    if (folder.failMessageRequest == ++e->request) return E_FAIL;
    if (e->next >= folder.messages.size()) return S_FALSE;
    return Fill(e->next++, props);
  }
  HRESULT GetMessageClose(HENUMSTORE handle) override {
    Call(S_OK);
    delete static_cast<MessageEnum*>(handle);
    return S_OK;
  }

 private:
  HRESULT Call(HRESULT hr) {
    ++state_.storeCalls;
    return hr;
  }
  FakeStoreState& state_;
  STOREFOLDERID id_;
};

class FakeNamespace : public com::Object<IStoreNamespace> {
 public:
  explicit FakeNamespace(FakeStoreState& state) : state_(state) {}

  HRESULT GetDirectory(LPSTR, DWORD) override { return Call(E_NOTIMPL); }
  HRESULT Initialize(HWND, DWORD) override { return Call(S_OK); }
  HRESULT OpenSpecialFolder(LONG, DWORD, IStoreFolder**) override { return Call(E_NOTIMPL); }
  HRESULT OpenFolder(STOREFOLDERID id, DWORD, IStoreFolder** folder) override {
    Call(S_OK);
    *folder = nullptr;
    if (!state_.folders.count(id)) return STG_E_FILENOTFOUND;
    *folder = com::MakeObject<FakeFolderObject>(state_, id).Detach();
    return S_OK;
  }
  HRESULT CreateFolder(STOREFOLDERID, LPCSTR, DWORD, STOREFOLDERID* id) override {
    if (id) *id = 0;
    return Change("CreateFolder");
  }
  HRESULT RenameFolder(STOREFOLDERID, DWORD, LPCSTR) override { return Change("RenameFolder"); }
  HRESULT MoveFolder(STOREFOLDERID, STOREFOLDERID, DWORD) override { return Change("MoveFolder"); }
  HRESULT DeleteFolder(STOREFOLDERID, DWORD) override { return Change("DeleteFolder"); }
  HRESULT GetFolderProps(STOREFOLDERID, DWORD, FOLDERPROPS*) override { return Call(E_NOTIMPL); }
  HRESULT CopyMoveMessages(IStoreFolder* source, IStoreFolder* dest, MESSAGEIDLIST* list, DWORD,
                           DWORD flagsRemove, IProgressNotify* progress) override {
    if (!dynamic_cast<FakeFolderObject*>(source) || !dynamic_cast<FakeFolderObject*>(dest) ||
        !list || list->cbSize != sizeof(MESSAGEIDLIST) || progress ||
        (list->cMsgs && !list->prgdwMsgId))
      return Call(E_INVALIDARG);
    return Change("CopyMoveMessages", flagsRemove);
  }
  HRESULT RegisterNotification(DWORD, HWND) override { return Call(E_NOTIMPL); }
  HRESULT UnregisterNotification(DWORD, HWND) override { return Call(E_NOTIMPL); }
  HRESULT CompactAll(DWORD) override { return Change("CompactAll"); }

  HRESULT GetFirstSubFolder(STOREFOLDERID parent, FOLDERPROPS* props, HENUMSTORE* handle) override {
    Call(S_OK);
    if (!props || props->cbSize != FOLDERPROPS_SIZE || !handle) return E_INVALIDARG;
    *handle = nullptr;
    auto fail = state_.failSubFolderRequest.find(parent);
    if (fail != state_.failSubFolderRequest.end() && fail->second == 0) return E_FAIL;
    auto e = std::make_unique<SubFolderEnum>();
    e->parent = parent;
    for (STOREFOLDERID id : state_.order)
      if (state_.folders.at(id).parent == parent) e->children.push_back(id);
    if (e->children.empty()) return S_FALSE;
    Fill(e->children[0], props);
    e->next = 1;
    if (state_.noSubFolderHandle[parent]) return S_OK;
    *handle = e.release();
    return S_OK;
  }
  HRESULT GetNextSubFolder(HENUMSTORE handle, FOLDERPROPS* props) override {
    Call(S_OK);
    if (!handle || !props || props->cbSize != FOLDERPROPS_SIZE) return E_INVALIDARG;
    auto* e = static_cast<SubFolderEnum*>(handle);
    auto fail = state_.failSubFolderRequest.find(e->parent);
    if (fail != state_.failSubFolderRequest.end() && fail->second == ++e->request) return E_FAIL;
    if (e->next >= e->children.size()) return S_FALSE;
    Fill(e->children[e->next++], props);
    return S_OK;
  }
  HRESULT GetSubFolderClose(HENUMSTORE handle) override {
    Call(S_OK);
    delete static_cast<SubFolderEnum*>(handle);
    return S_OK;
  }

 private:
  HRESULT Call(HRESULT hr) {
    ++state_.storeCalls;
    return hr;
  }
  HRESULT Change(const char* operation, DWORD flagsRemove = 0) {
    state_.changes.push_back({operation, flagsRemove});
    return Call(state_.changeResult);
  }
  void Fill(STOREFOLDERID id, FOLDERPROPS* props) {
    const FakeFolder& folder = state_.folders.at(id);
    std::memset(props, 0, sizeof *props);
    props->cbSize = FOLDERPROPS_SIZE;
    props->dwFolderId = id;  // the counts are read by no member
    std::strncpy(props->szName, folder.name.c_str(), sizeof props->szName - 1);
  }
  FakeStoreState& state_;
};

}  // namespace

FakeFolder& FakeStoreState::AddFolder(STOREFOLDERID id, std::string name, STOREFOLDERID parent) {
  FakeFolder& folder = folders[id];
  folder.id = id;
  folder.name = std::move(name);
  folder.parent = parent;
  order.push_back(id);
  return folder;
}

FakeMessage& FakeFolder::Add(MESSAGEID id) {
  FakeMessage& message = messages.emplace_back();
  message.id = id;
  return message;
}

com::ComPtr<IStoreNamespace> MakeFakeStore(FakeStoreState& state) {
  return com::MakeObject<FakeNamespace>(state);
}

com::ComPtr<IStoreFolder> OpenFakeFolder(FakeStoreState& state, STOREFOLDERID id) {
  com::ComPtr<IStoreFolder> folder;
  MakeFakeStore(state)->OpenFolder(id, 0, folder.ReleaseAndGetAddressOf());
  return folder;
}

FILETIME Ticks(ULONGLONG ticks) {
  return {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

FILETIME Utc(int year, int month, int day, int hour, int minute, int second, int ms) {
  using namespace std::chrono;
  const sys_days date =
      year_month_day{std::chrono::year(year), std::chrono::month(month), std::chrono::day(day)};
  const sys_days epoch1601 = year_month_day{std::chrono::year(1601), January, std::chrono::day(1)};
  const auto since =
      (date - epoch1601) + hours(hour) + minutes(minute) + seconds(second) + milliseconds(ms);
  return Ticks(static_cast<ULONGLONG>(duration_cast<microseconds>(since).count()) * 10);
}

}  // namespace mq::testing
