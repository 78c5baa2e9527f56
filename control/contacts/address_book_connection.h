// SPDX-License-Identifier: LGPL-2.1-or-later
// CAddressBookConnection: the control's one way into the address book. It
// finds the address-book library through the registry (or by its standard
// name), loads it at run time, opens the book through the library's WABOpen
// and from then on works only through the published interfaces of
// platform/wab/wab.h. Every buffer exchanged with the book comes from the WAB
// object's allocator and goes back to it.
//
// Nothing here reports a failure to the user: an address book that cannot be
// opened leaves the connection closed, and every operation on a closed
// connection does nothing (LoadContacts answers MAPI_E_NOT_INITIALIZED).
#pragma once

#include <dlfcn.h>

#include <memory>
#include <string>

#include "control/contacts/contact.h"
#include "control/record_list.h"
#include "platform/wab/wab.h"

namespace mq {

class CContacts;

class CAddressBookConnection {
 public:
  // OpenAddressBook: `path` is the book to open (the control passes the
  // empty text: the user's own book).
  explicit CAddressBookConnection(const std::string& path);
  // CloseAddressBook.
  ~CAddressBookConnection();
  CAddressBookConnection(const CAddressBookConnection&) = delete;
  CAddressBookConnection& operator=(const CAddressBookConnection&) = delete;

  bool Opened() const { return opened_; }

  // Appends every mail user of the personal address book to `contacts`, in
  // the order of its contents table (one row read at a time). Answers the
  // first failing call's result; contacts appended before it stay.
  HRESULT LoadContacts(CContacts& contacts);

  // Remembers a copy of the entry identifier of the contact at `index`; an
  // index with no contact leaves the earlier selection in place.
  void SelectContact(const RecordList<CContact>& list, LONG index);
  // The address book's modal details dialog for the selected entry; nothing
  // when no entry was ever selected.
  void ShowSelectedContact();
  HRESULT DeleteSelectedContact();
  // The address book's modal new-contact dialog, owned by `owner` (0: none).
  void NewContactDialog(ULONG_PTR owner);
  // Creates a contact from 14 texts (arguments in this order) and saves it.
  void CreateContact(const std::string& displayName, const std::string& email,
                     const std::string& businessPhone, const std::string& businessFax,
                     const std::string& homePhone, const std::string& homeFax,
                     const std::string& pager, const std::string& mobile,
                     const std::string& personalWebPage, const std::string& jobTitle,
                     const std::string& department, const std::string& office,
                     const std::string& companyName, const std::string& businessWebPage);
  // The creation template for objects of `objectType` (MAPI_MAILUSER or
  // MAPI_DISTLIST): *id is a buffer of the WAB object (the caller frees it)
  // or null with *length 0 when the book names none.
  HRESULT DefaultTemplate(ULONG objectType, ULONG* length, LPENTRYID* id);
  // Gives a contents-table row set back: each row's properties, then the set.
  void FreeRows(LPSRowSet rows);
  // Gives a buffer of the address book back (null is allowed).
  void FreeBuffer(void* buffer);

 private:
  struct LibraryCloser {
    void operator()(void* handle) const { dlclose(handle); }
  };

  // GetPAB, then OpenEntry of the personal address book; its identifier is
  // freed before this returns.
  HRESULT OpenPersonalAddressBook(com::ComPtr<IABContainer>* container);
  // One contents-table row: appends the contact when the row is a mail user
  // whose entry opens; any other row is passed over.
  void LoadRow(const SRow& row, CContacts& contacts);
  void FreeLastRead();

  bool opened_ = false;
  std::unique_ptr<void, LibraryCloser> library_;
  LPWABOPEN entryPoint_ = nullptr;
  com::ComPtr<IAddrBook> addressBook_;
  com::ComPtr<IWABObject> wabObject_;
  ULONG lastReadCount_ = 0;
  LPSPropValue lastRead_ = nullptr;
  ULONG selectedLength_ = 0;
  std::unique_ptr<BYTE[]> selected_;
};

}  // namespace mq
