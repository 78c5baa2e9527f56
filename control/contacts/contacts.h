// SPDX-License-Identifier: LGPL-2.1-or-later
// The contact collection (IContacts): the contacts of the personal address
// book as the control's address-book connection loaded them, in the order of
// the book's contents table, and the members that create, show and delete
// contacts through that connection. The list changes only when it is loaded
// (window creation, Refresh); creating or deleting a contact changes the book,
// and the list shows it after the next Refresh.
//
// One CContacts lives as long as its control and any client that holds it;
// while it has no context (no store yet, or the control's window gone) it has
// no address book: it answers 0, the empty text, FALSE or nothing.
#pragma once

#include <memory>
#include <string>

#include "control/contacts/contact.h"
#include "control/record_list.h"
#include "control/store_context.h"
#include "platform/com/dispatch_object.h"

namespace mq {

class CContacts : public com::DispatchObject<CContacts> {
 public:
  CContacts();

  // ---- Wiring by the control ----
  // The back reference: set once the store connection is open, taken back
  // (with every contact) at window destruction.
  void Attach(StoreContext* context) { context_ = context; }
  void Detach();
  StoreContext* Context() const { return context_; }

  // ---- The list, as the address-book connection fills it ----
  const RecordList<CContact>& List() const { return list_; }
  void AddContact(ContactData data);
  void ClearContacts() { list_.Clear(); }

  // ---- IContacts ----
  LONG Count();
  // FindName, FindEmail, ...: the text of the contact at iIndex (from 0);
  // the empty text when there is none.
  template <ContactText text>
  std::string Find(LONG iIndex) {
    const CContact* contact = list_.At(iIndex);
    return contact ? std::string(contact->TextOf(text)) : std::string();
  }
  void ShowProperties(LONG iIndex);
  VARIANT_BOOL DeleteContact(LONG iIndex);
  void Refresh();
  void NewContactFromUI();
  VARIANT_BOOL NewContact(const std::string& strContactName, const std::string& strEmail,
                          const std::string& strBusTelNo, const std::string& strBusFaxNo,
                          const std::string& strBusHomePage, const std::string& strHomeTelNo,
                          const std::string& strHomeFaxNo, const std::string& strPager,
                          const std::string& strMobile, const std::string& strPerHomePage,
                          const std::string& strJobTitle, const std::string& strDepartment,
                          const std::string& strOffice, const std::string& strCompanyName);
  // A text passed by value names a contact (exact, case-sensitive); anything
  // else, a text passed by reference too, is a position counted from 1.
  com::ComPtr<IDispatch> Item(const VARIANT& Key);
  com::ComPtr<IUnknown> NewEnum();

  static const com::Bindings<CContacts>& GetBindings();

 private:
  // The context's open address book, or null; the caller's share keeps it
  // for the whole call.
  std::shared_ptr<CAddressBookConnection> Connection() const;

  StoreContext* context_ = nullptr;
  RecordList<CContact> list_;
};

}  // namespace mq
