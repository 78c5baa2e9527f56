// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/objects.h"

#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "platform/com/memory.h"
#include "platform/store/engine/store_engine.h"
#include "platform/store/engine/streams.h"
#include "platform/store/store_location.h"

namespace store {
namespace {

std::string DefaultRoot() {
  return LocateStore().root;
}

bool ReadIdList(const MESSAGEIDLIST* list, std::vector<MESSAGEID>* ids) {
  if (!list) return false;
  if (list->cMsgs && !list->prgdwMsgId) return false;
  ids->assign(list->prgdwMsgId, list->prgdwMsgId + list->cMsgs);
  return true;
}

// ------------------------------------------------------------ folder

class StoreFolder final : public com::Object<IStoreFolder, IStoreFolderListed> {
 public:
  StoreFolder(std::shared_ptr<Store> store, STOREFOLDERID id) : store_(std::move(store)), id_(id) {}
  ~StoreFolder() override {
    for (MessageCursor* c : cursors_) delete c;
  }
  STOREFOLDERID id() const { return id_; }

  HRESULT GetFolderProps(DWORD, FOLDERPROPS* props) override {
    if (!props) return E_POINTER;
    if (props->cbSize != FOLDERPROPS_SIZE) return E_INVALIDARG;
    FolderInfo f;
    HRESULT hr = store_->FindFolder(id_, &f);
    if (FAILED(hr)) return hr;
    // An open folder is asked for its own props: its counts are of its
    // messages as they are now, not as the folder tree last saw them.
    return store_->FillFolderProps(f, props, true);
  }
  HRESULT GetListedCount(DWORD* listed) override {
    if (!listed) return E_POINTER;
    *listed = 0;
    FolderInfo f;
    if (FAILED(store_->FindFolder(id_, &f)) || !f.format) return S_FALSE;
    return f.format->ListedCount(*store_, f, listed) ? S_OK : S_FALSE;
  }
  HRESULT DeleteMessages(MESSAGEIDLIST* list, DWORD, IProgressNotify*) override {
    std::vector<MESSAGEID> ids;
    if (!ReadIdList(list, &ids)) return E_INVALIDARG;
    return store_->DeleteMessages(id_, ids);
  }
  HRESULT SetLanguage(DWORD, DWORD, MESSAGEIDLIST*) override { return E_NOTIMPL; }
  HRESULT MarkMessagesAsRead(BOOL fRead, DWORD, MESSAGEIDLIST* list) override {
    std::vector<MESSAGEID> ids;
    if (!list)
      store_->AllMessageIds(id_, &ids);  // no list: every message of the folder
    else if (!ReadIdList(list, &ids))
      return E_INVALIDARG;
    bool changed = false;
    HRESULT hr = store_->MarkRead(id_, ids, fRead, &changed);
    if (FAILED(hr)) return hr;
    return changed ? S_OK : S_FALSE;
  }
  HRESULT SetFlags(MESSAGEIDLIST* list, DWORD state, DWORD mask, DWORD* newFlags) override {
    std::vector<MESSAGEID> ids;
    if (!ReadIdList(list, &ids)) return E_INVALIDARG;
    bool changed = false;
    HRESULT hr = store_->SetFlags(id_, ids, state, mask, &changed, newFlags);
    if (FAILED(hr)) return hr;
    return changed ? S_OK : S_FALSE;
  }
  HRESULT OpenMessage(MESSAGEID id, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return store_->OpenMessage(id_, id, riid, ppv);
  }
  HRESULT SaveMessage(REFIID riid, void* pv, DWORD msgFlags, MESSAGEID* pid) override {
    if (!pv) return E_INVALIDARG;
    if (riid != IID_IStream) return E_NOTIMPL;
    auto* source = static_cast<IStream*>(pv);
    com::ComPtr<IStream> out;
    MESSAGEID id = 0;
    HRESULT hr = CreateStream(nullptr, 0, out.ReleaseAndGetAddressOf(), &id);
    if (FAILED(hr)) return hr;
    ULARGE_INTEGER all;
    all.QuadPart = ~0ULL;
    hr = source->CopyTo(out.Get(), all, nullptr, nullptr);
    if (FAILED(hr)) return hr;
    hr = CommitStream(nullptr, 0, msgFlags, out.Get(), id, nullptr);
    if (SUCCEEDED(hr) && pid) *pid = id;
    return hr;
  }
  // Every write is durable on its own: the batch calls only hand out a token.
  HRESULT BatchLock(DWORD, HBATCHLOCK* lock) override {
    if (!lock) return E_POINTER;
    *lock = this;
    return S_OK;
  }
  HRESULT BatchFlush(DWORD, HBATCHLOCK) override { return S_OK; }
  HRESULT BatchUnlock(DWORD, HBATCHLOCK) override { return S_OK; }
  HRESULT CreateStream(HBATCHLOCK, DWORD, IStream** ppStream, MESSAGEID* pid) override {
    if (!ppStream || !pid) return E_POINTER;
    *ppStream = nullptr;
    int fd = -1;
    std::string path;
    MESSAGEID id = 0;
    HRESULT hr = store_->ReserveMessage(id_, &fd, &path, &id);
    if (FAILED(hr)) return hr;
    hr = CreateNewMessageStream(store_, id_, id, fd, path, ppStream);
    if (FAILED(hr)) return hr;
    *pid = id;
    return S_OK;
  }
  HRESULT CommitStream(HBATCHLOCK, DWORD, DWORD msgFlags, IStream* pStream, MESSAGEID id,
                       IMimeMessage*) override {
    return CommitNewMessageStream(pStream, id_, id, msgFlags);
  }
  HRESULT RegisterNotification(DWORD, HWND) override { return S_OK; }
  HRESULT UnregisterNotification(DWORD, HWND) override { return S_OK; }
  HRESULT GetMessageProps(MESSAGEID id, DWORD flags, MESSAGEPROPS* props) override {
    if (!props) return E_POINTER;
    if (props->cbSize != MESSAGEPROPS_SIZE) return E_INVALIDARG;
    return store_->GetMessageProps(id_, id, flags & MSGPROPS_FAST, props);
  }
  HRESULT FreeMessageProps(MESSAGEPROPS* props) override {
    if (!props) return E_POINTER;
    if (props->cbSize != MESSAGEPROPS_SIZE) return E_INVALIDARG;
    for (LPSTR* s : {&props->pszSubject, &props->pszDisplayTo, &props->pszDisplayFrom,
                     &props->pszNormalSubject, &props->pszMessageId}) {
      CoTaskMemFree(*s);
      *s = nullptr;
    }
    if (props->pStmOffsetTable) {
      props->pStmOffsetTable->Release();
      props->pStmOffsetTable = nullptr;
    }
    return S_OK;
  }
  HRESULT GetFirstMessage(DWORD flags, DWORD, MESSAGEID first, MESSAGEPROPS* props,
                          HENUMSTORE* phEnum) override {
    if (!props || !phEnum) return E_POINTER;
    *phEnum = nullptr;
    if (props->cbSize != MESSAGEPROPS_SIZE) return E_INVALIDARG;
    FolderInfo f;
    HRESULT hr = store_->FindFolder(id_, &f);
    if (FAILED(hr)) return hr;
    hr = store_->SyncMessages(f, false);
    if (FAILED(hr)) return hr;
    auto cursor = std::make_unique<MessageCursor>(store_, id_, first);
    hr = cursor->Next(props, flags & MSGPROPS_FAST);
    if (hr != S_OK) return hr;  // S_FALSE: an empty folder, and no handle
    *phEnum = cursor.get();
    cursors_.insert(cursor.release());
    return S_OK;
  }
  HRESULT GetNextMessage(HENUMSTORE hEnum, DWORD flags, MESSAGEPROPS* props) override {
    if (!props) return E_POINTER;
    if (props->cbSize != MESSAGEPROPS_SIZE) return E_INVALIDARG;
    auto it = cursors_.find(static_cast<MessageCursor*>(hEnum));
    if (it == cursors_.end()) return E_HANDLE;
    return (*it)->Next(props, flags & MSGPROPS_FAST);
  }
  HRESULT GetMessageClose(HENUMSTORE hEnum) override {
    auto it = cursors_.find(static_cast<MessageCursor*>(hEnum));
    if (it == cursors_.end()) return E_HANDLE;
    delete *it;
    cursors_.erase(it);
    return S_OK;
  }

 private:
  std::shared_ptr<Store> store_;
  STOREFOLDERID id_;
  std::set<MessageCursor*> cursors_;
};

// ------------------------------------------------------------ namespace

struct FolderEnum {
  std::vector<FolderInfo> children;
  std::size_t next = 0;
};

class StoreNamespace final : public com::Object<IStoreNamespace> {
 public:
  ~StoreNamespace() override {
    for (FolderEnum* e : enums_) delete e;
  }

  HRESULT GetDirectory(LPSTR path, DWORD cch) override {
    if (!store_) return E_UNEXPECTED;
    if (!path) return E_POINTER;
    const std::string& root = store_->root();
    if (root.size() >= cch) return E_INVALIDARG;
    std::memcpy(path, root.c_str(), root.size() + 1);
    return S_OK;
  }
  HRESULT Initialize(HWND, DWORD) override {
    std::shared_ptr<Store> store;
    HRESULT hr = Store::Open(DefaultRoot(), &store);
    if (FAILED(hr)) return hr;
    store_ = std::move(store);
    return S_OK;
  }
  HRESULT OpenSpecialFolder(LONG sfType, DWORD, IStoreFolder** pp) override {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    if (!store_) return E_UNEXPECTED;
    if (static_cast<DWORD>(sfType) != FOLDER_INBOX) return E_INVALIDARG;
    std::vector<FolderInfo> top;
    HRESULT hr = store_->Children(FOLDERID_ROOT, &top);
    if (FAILED(hr)) return hr;
    if (top.empty() || !top[0].inbox) return E_FAIL;
    return OpenFolder(top[0].id, 0, pp);
  }
  HRESULT OpenFolder(STOREFOLDERID id, DWORD, IStoreFolder** pp) override {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    if (!store_) return E_UNEXPECTED;
    FolderInfo f;
    HRESULT hr = store_->FindFolder(id, &f);
    if (FAILED(hr)) return hr;
    auto folder = com::MakeObject<StoreFolder>(store_, id);
    if (!folder) return E_OUTOFMEMORY;
    *pp = folder.Detach();
    return S_OK;
  }
  HRESULT CreateFolder(STOREFOLDERID parent, LPCSTR name, DWORD, STOREFOLDERID* pid) override {
    if (!store_) return E_UNEXPECTED;
    STOREFOLDERID id = 0;
    HRESULT hr = store_->CreateFolder(parent, name, &id);
    if (FAILED(hr)) return hr;
    if (pid) *pid = id;
    return S_OK;
  }
  HRESULT RenameFolder(STOREFOLDERID id, DWORD, LPCSTR name) override {
    if (!store_) return E_UNEXPECTED;
    return store_->RenameFolder(id, name);
  }
  HRESULT MoveFolder(STOREFOLDERID id, STOREFOLDERID parent, DWORD) override {
    if (!store_) return E_UNEXPECTED;
    return store_->MoveFolder(id, parent);
  }
  HRESULT DeleteFolder(STOREFOLDERID id, DWORD) override {
    if (!store_) return E_UNEXPECTED;
    return store_->DeleteFolder(id);
  }
  HRESULT GetFolderProps(STOREFOLDERID id, DWORD, FOLDERPROPS* props) override {
    if (!props) return E_POINTER;
    if (props->cbSize != FOLDERPROPS_SIZE) return E_INVALIDARG;
    if (!store_) return E_UNEXPECTED;
    FolderInfo f;
    if (id == FOLDERID_ROOT) {
      HRESULT hr = store_->SyncFolders();
      if (FAILED(hr)) return hr;
      f.id = FOLDERID_ROOT;
      f.dir = "\x01";  // not a directory: no messages, not Inbox
    } else {
      HRESULT hr = store_->FindFolder(id, &f);
      if (FAILED(hr)) return hr;
    }
    HRESULT hr = store_->FillFolderProps(f, props);
    if (id == FOLDERID_ROOT) props->sfType = FOLDER_NOTSPECIAL;
    return hr;
  }
  HRESULT CopyMoveMessages(IStoreFolder* source, IStoreFolder* dest, MESSAGEIDLIST* list,
                           DWORD flags, DWORD flagsRemove, IProgressNotify*) override {
    if (!store_) return E_UNEXPECTED;
    auto* from = dynamic_cast<StoreFolder*>(source);
    auto* to = dynamic_cast<StoreFolder*>(dest);
    std::vector<MESSAGEID> ids;
    if (!from || !to || !ReadIdList(list, &ids)) return E_INVALIDARG;
    return store_->CopyMove(from->id(), to->id(), ids, flags & CMF_MOVE, flagsRemove);
  }
  HRESULT RegisterNotification(DWORD, HWND) override { return S_OK; }
  HRESULT UnregisterNotification(DWORD, HWND) override { return S_OK; }
  HRESULT CompactAll(DWORD) override {
    if (!store_) return E_UNEXPECTED;
    return store_->Compact();
  }
  HRESULT GetFirstSubFolder(STOREFOLDERID id, FOLDERPROPS* props, HENUMSTORE* phEnum) override {
    if (!props || !phEnum) return E_POINTER;
    *phEnum = nullptr;
    if (props->cbSize != FOLDERPROPS_SIZE) return E_INVALIDARG;
    if (!store_) return E_UNEXPECTED;
    auto e = std::make_unique<FolderEnum>();
    HRESULT hr = store_->Children(id, &e->children);
    if (FAILED(hr)) return hr;
    if (e->children.empty()) return S_FALSE;  // no handle: nothing to close
    hr = store_->FillFolderProps(e->children[e->next++], props);
    if (FAILED(hr)) return hr;
    *phEnum = e.get();
    enums_.insert(e.release());
    return S_OK;
  }
  HRESULT GetNextSubFolder(HENUMSTORE hEnum, FOLDERPROPS* props) override {
    if (!props) return E_POINTER;
    if (props->cbSize != FOLDERPROPS_SIZE) return E_INVALIDARG;
    auto it = enums_.find(static_cast<FolderEnum*>(hEnum));
    if (it == enums_.end()) return E_HANDLE;
    FolderEnum* e = *it;
    if (e->next >= e->children.size()) return S_FALSE;
    return store_->FillFolderProps(e->children[e->next++], props);
  }
  HRESULT GetSubFolderClose(HENUMSTORE hEnum) override {
    auto it = enums_.find(static_cast<FolderEnum*>(hEnum));
    if (it == enums_.end()) return E_HANDLE;
    delete *it;
    enums_.erase(it);
    return S_OK;
  }

 private:
  std::shared_ptr<Store> store_;
  std::set<FolderEnum*> enums_;
};

}  // namespace

HRESULT CreateStoreNamespace(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  auto ns = com::MakeObject<StoreNamespace>();
  if (!ns) return E_OUTOFMEMORY;
  return ns->QueryInterface(riid, ppv);
}

}  // namespace store
