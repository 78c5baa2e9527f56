// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/folders.h"

#include "control/guids.h"
#include "control/typelib.h"

namespace mq {

CFolders::CFolders() : DispatchObject(MailquarryLibrary(), IID_IFolders) {}

void CFolders::Detach() {
  context_ = nullptr;
  list_.Clear();
}

void CFolders::LoadFolderList(STOREFOLDERID parent) {
  if (!context_ || !context_->store) return;
  std::vector<FolderData> folders;
  ReadFolderTree(*context_->store, parent, folders);
  for (FolderData& folder : folders) {
    auto record = com::MakeObject<CFolder>(std::move(folder));
    if (record) list_.Append(std::move(record));
  }
}

void CFolders::OpenCurrentFolder(STOREFOLDERID id) {
  if (!context_) return;
  context_->currentFolder.Reset();
  if (!context_->store) return;
  com::ComPtr<IStoreFolder> folder;
  if (SUCCEEDED(context_->store->OpenFolder(id, 0, folder.ReleaseAndGetAddressOf())))
    context_->currentFolder = std::move(folder);
}

SHORT CFolders::Count() {
  return static_cast<SHORT>(static_cast<WORD>(list_.Size()));
}

std::string CFolders::FindFolderName(SHORT iIndex) {
  const CFolder* folder = list_.At(iIndex);
  return folder ? folder->Data().name : std::string();
}

LONG CFolders::FindFolderID(SHORT iIndex) {
  const CFolder* folder = list_.At(iIndex);
  return folder ? static_cast<LONG>(folder->Data().id) : 0;
}

com::ComPtr<IDispatch> CFolders::Item(const VARIANT& Key) {
  CFolder* folder = FindByKey(
      list_, Key, [](const CFolder& record) -> const std::string& { return record.Data().name; });
  return com::ComPtr<IDispatch>(folder);
}

void CFolders::Refresh() {
  list_.Clear();
  if (context_) LoadFolderList(FOLDERID_ROOT);
}

void CFolders::BindCore(com::Bindings<CFolders>& bindings) {
  bindings.Get<&CFolders::Count>(1)
      .Method<&CFolders::FindFolderName>(2)
      .Method<&CFolders::FindFolderID>(3)
      .Method<&CFolders::Refresh>(10)
      .Get<&CFolders::Item>(13);
}

const com::Bindings<CFolders>& CFolders::GetBindings() {
  static const auto bindings = [] {
    com::Bindings<CFolders> b;
    BindCore(b);
    BindOperations(b);
    BindEnumeration(b);
    return b;
  }();
  return bindings;
}

}  // namespace mq
