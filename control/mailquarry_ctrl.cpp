// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/mailquarry_ctrl.h"

#include "control/about_box.h"
#include "control/contacts/address_book_connection.h"
#include "control/guids.h"
#include "control/typelib.h"
#include "platform/activation/activation.h"
#include "platform/activation/registration.h"
#include "platform/com/typeinfo.h"

namespace mq {
namespace {

HRESULT CreateStoreNamespace(IStoreNamespace** out) {
  return CoCreateInstance(CLSID_StoreNamespace, nullptr, CLSCTX_SERVER, IID_IStoreNamespace,
                          reinterpret_cast<void**>(out));
}

CMailquarryCtrl::StoreMaker g_storeMaker = &CreateStoreNamespace;

}  // namespace

void CMailquarryCtrl::SetStoreMakerForTesting(StoreMaker maker) {
  g_storeMaker = maker ? maker : &CreateStoreNamespace;
}

CMailquarryCtrl::CMailquarryCtrl() : Control(MailquarryLibrary(), DIID__DMailquarry) {
  MakeCollections();
  context_.openAddressBook = [this](bool first) { OpenAddressBook(first); };
}

CMailquarryCtrl::~CMailquarryCtrl() {
  // The platform runs no hook once the control itself goes, so a control
  // whose window was never destroyed still has to take its back references
  // out of collections that clients may hold.
  Teardown();
}

void CMailquarryCtrl::MakeCollections() {
  folders_ = com::MakeObject<CFolders>();
  messages_ = com::MakeObject<CMessages>();
  contacts_ = com::MakeObject<CContacts>();
  context_.folders = folders_.Get();
  context_.messages = messages_.Get();
  context_.contacts = contacts_.Get();
}

bool CMailquarryCtrl::OnCreate() {
  // A window created again after an earlier one was destroyed gets fresh
  // collections: the old ones went with that window.
  if (!folders_ || !messages_ || !contacts_) {
    Teardown();
    MakeCollections();
  }
  com::ComPtr<IStoreNamespace> store;
  if (FAILED(g_storeMaker(store.ReleaseAndGetAddressOf())) || !store) return true;
  if (FAILED(store->Initialize(nullptr, 0))) return true;
  context_.store = std::move(store);
  folders_->Attach(&context_);
  messages_->Attach(&context_);
  contacts_->Attach(&context_);
  folders_->LoadFolderList(FOLDERID_ROOT);
  OpenAddressBook(true);
  return true;
}

void CMailquarryCtrl::OnDestroy() {
  Teardown();
}

void CMailquarryCtrl::Teardown() {
  context_.store.Reset();
  context_.currentFolder.Reset();
  context_.destinationFolder.Reset();
  context_.folders = nullptr;
  context_.messages = nullptr;
  context_.contacts = nullptr;
  if (folders_) folders_->Detach();
  folders_.Reset();
  if (messages_) messages_->Detach();
  messages_.Reset();
  addressBookPath_.reset();
  if (contacts_) contacts_->Detach();
  contacts_.Reset();
  CloseAddressBook();
}

void CMailquarryCtrl::OpenAddressBook(bool first) {
  if (!first) {
    addressBookPath_.reset();
    CloseAddressBook();
  }
  addressBookPath_ = std::string();
  context_.addressBook = std::make_shared<CAddressBookConnection>(*addressBookPath_);
  if (contacts_) context_.addressBook->LoadContacts(*contacts_);
}

void CMailquarryCtrl::CloseAddressBook() {
  context_.addressBook.reset();
}

com::ComPtr<IDispatch> CMailquarryCtrl::GetFolders() {
  return folders_ ? folders_->AsDispatch() : nullptr;
}

SHORT CMailquarryCtrl::GetFolder() {
  return context_.folderIndex;
}

void CMailquarryCtrl::SetFolder(SHORT index) {
  SetModifiedFlag();
  if (!AmbientUserMode()) BoundPropertyChanged(2);
  context_.LoadMessageList(index);
  context_.folderIndex = index;
}

com::ComPtr<IDispatch> CMailquarryCtrl::GetMessages() {
  return messages_ ? messages_->AsDispatch() : nullptr;
}

com::ComPtr<IDispatch> CMailquarryCtrl::GetContacts() {
  return contacts_ ? contacts_->AsDispatch() : nullptr;
}

void CMailquarryCtrl::AboutBox() {
  ui::ShowAboutBox(AboutBoxContent());
}

void CMailquarryCtrl::OnDraw(ui::Painter& painter, const ui::Rect& bounds) {
  if (AmbientUserMode()) {
    ResizeWindow(1, 1);
    return;
  }
  painter.SetBackgroundMode(ui::BackgroundMode::kTransparent);
  painter.FillSolidRect(bounds, ui::Rgb(0, 0, 0));
  painter.SetTextColor(ui::Rgb(255, 0, 0));
  painter.DrawCenteredText(kDesignCaption, bounds);
}

void CMailquarryCtrl::DoPropExchange(ui::PropExchange& px) {
  ExchangeVersion(px, ui::MakeVersion(1, 0));
  Control::DoPropExchange(px);
}

std::vector<CLSID> CMailquarryCtrl::GetPropertyPageIds() {
  static const std::vector<CLSID> pages = {CLSID_MailquarryPropPage};
  return pages;
}

QWidget* CMailquarryCtrl::CreatePropertyPage(const CLSID& clsid, QWidget* parent) {
  return clsid == CLSID_MailquarryPropPage ? MakePropertyPage(parent) : nullptr;
}

std::string CMailquarryCtrl::UserTypeName() const {
  return kControlTypeName;
}

HRESULT CMailquarryCtrl::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT CMailquarryCtrl::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  // Only the registered library describes the control to its containers.
  com::ComPtr<ITypeLib> library;
  HRESULT hr = LoadRegTypeLib(LIBID_MAILQUARRYLib, kLibMajor, kLibMinor, lcid,
                              library.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  return library->GetTypeInfoOfGuid(DIID__DMailquarry, out);
}

const com::Bindings<CMailquarryCtrl>& CMailquarryCtrl::GetBindings() {
  static const auto bindings = com::Bindings<CMailquarryCtrl>()
                                   .Get<&CMailquarryCtrl::GetFolders>(1)
                                   .Get<&CMailquarryCtrl::GetFolder>(2)
                                   .Put<&CMailquarryCtrl::SetFolder>(2)
                                   .Get<&CMailquarryCtrl::GetMessages>(3)
                                   .Get<&CMailquarryCtrl::GetContacts>(4)
                                   .Method<&CMailquarryCtrl::AboutBox>(DISPID_ABOUTBOX);
  return bindings;
}

}  // namespace mq
