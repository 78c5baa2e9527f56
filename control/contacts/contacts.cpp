// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/contacts/contacts.h"

#include <utility>

#include "control/collection_enum.h"
#include "control/contacts/address_book_connection.h"
#include "control/guids.h"
#include "control/typelib.h"

namespace mq {

CContacts::CContacts() : DispatchObject(MailquarryLibrary(), IID_IContacts) {}

void CContacts::Detach() {
  context_ = nullptr;
  list_.Clear();
}

void CContacts::AddContact(ContactData data) {
  auto contact = com::MakeObject<CContact>(std::move(data));
  if (contact) list_.Append(std::move(contact));
}

std::shared_ptr<CAddressBookConnection> CContacts::Connection() const {
  return context_ ? context_->addressBook : nullptr;
}

LONG CContacts::Count() {
  return static_cast<LONG>(list_.Size());
}

void CContacts::ShowProperties(LONG iIndex) {
  const auto connection = Connection();
  if (!connection) return;
  connection->SelectContact(list_, iIndex);
  connection->ShowSelectedContact();
}

VARIANT_BOOL CContacts::DeleteContact(LONG iIndex) {
  const auto connection = Connection();
  if (!context_ || !list_.At(iIndex)) return VARIANT_FALSE;
  if (connection) {
    connection->SelectContact(list_, iIndex);
    // A contact of another program's book, which is only read, stays: the
    // delete is refused and answered as failed. Any other outcome is passed
    // on as before.
    if (connection->DeleteSelectedContact() == MAPI_E_NO_ACCESS) return VARIANT_FALSE;
  }
  return VARIANT_TRUE;
}

void CContacts::Refresh() {
  ClearContacts();
  if (context_ && context_->openAddressBook) context_->openAddressBook(false);
}

void CContacts::NewContactFromUI() {
  if (const auto connection = Connection()) connection->NewContactDialog(0);
}

VARIANT_BOOL CContacts::NewContact(const std::string& strContactName, const std::string& strEmail,
                                   const std::string& strBusTelNo, const std::string& strBusFaxNo,
                                   const std::string& strBusHomePage,
                                   const std::string& strHomeTelNo, const std::string& strHomeFaxNo,
                                   const std::string& strPager, const std::string& strMobile,
                                   const std::string& strPerHomePage,
                                   const std::string& strJobTitle, const std::string& strDepartment,
                                   const std::string& strOffice,
                                   const std::string& strCompanyName) {
  if (!context_) return VARIANT_FALSE;
  if (const auto connection = Connection())
    connection->CreateContact(strContactName, strEmail, strBusTelNo, strBusFaxNo, strHomeTelNo,
                              strHomeFaxNo, strPager, strMobile, strPerHomePage, strJobTitle,
                              strDepartment, strOffice, strCompanyName, strBusHomePage);
  return VARIANT_TRUE;
}

com::ComPtr<IDispatch> CContacts::Item(const VARIANT& Key) {
  if (Key.vt == VT_BSTR) {
    const std::string wanted = com::Utf8FromBstr(Key.bstrVal);
    for (const auto& contact : list_.All())
      if (contact->TextOf(&ContactData::name) == wanted) return contact->AsDispatch();
    return nullptr;
  }
  com::Variant position;
  if (FAILED(VariantChangeType(&position, &Key, 0, VT_I4))) return nullptr;
  CContact* contact = list_.At(static_cast<std::int64_t>(position.lVal) - 1);
  return contact ? contact->AsDispatch() : nullptr;
}

com::ComPtr<IUnknown> CContacts::NewEnum() {
  return com::ComPtr<IUnknown>(
      CCollectionEnum::Create(com::ComPtr<IUnknown>(Identity()), CCollectionEnum::ViewOf(list_)));
}

namespace {

// FindName (2), then FindEmail (8) to FindBusinessWebPage (20) in IContact order.
template <std::size_t... I>
void BindFinds(com::Bindings<CContacts>& bindings, std::index_sequence<I...>) {
  bindings.Method<&CContacts::Find<kContactTexts[0]>>(2);
  (bindings.Method<&CContacts::Find<kContactTexts[I + 1]>>(static_cast<DISPID>(8 + I)), ...);
}

}  // namespace

const com::Bindings<CContacts>& CContacts::GetBindings() {
  static const auto bindings = [] {
    com::Bindings<CContacts> b;
    b.Get<&CContacts::Count>(1)
        .Method<&CContacts::ShowProperties>(3)
        .Method<&CContacts::DeleteContact>(4)
        .Method<&CContacts::Refresh>(5)
        .Method<&CContacts::NewContactFromUI>(6)
        .Method<&CContacts::NewContact>(7)
        .Get<&CContacts::Item>(21)
        .Get<&CContacts::NewEnum>(DISPID_NEWENUM);
    BindFinds(b, std::make_index_sequence<kContactTextCount - 1>());
    return b;
  }();
  return bindings;
}

}  // namespace mq
