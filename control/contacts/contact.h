// SPDX-License-Identifier: LGPL-2.1-or-later
// CContact (IContact): one contact of the personal address book, as loaded.
// A contact holds its own copy of its texts and of its entry identifier and
// nothing else, so a client may keep one past a Refresh of its collection or
// the control's teardown (when the address book and its library are gone) and
// it still answers what it held.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/com/dispatch_object.h"

namespace mq {

struct ContactData {
  std::string name;
  std::string email;
  std::string businessPhone;
  std::string homePhone;
  std::string homeFax;
  std::string businessFax;
  std::string pager;
  std::string mobile;
  std::string personalWebPage;
  std::string jobTitle;
  std::string department;
  std::string office;
  std::string companyName;
  std::string businessWebPage;
  // The opaque bytes by which the address book names the contact's entry.
  std::vector<BYTE> entryId;
};

using ContactText = std::string ContactData::*;

// The texts in IContact order: the text at position i is the property with
// DISPID i + 1; the collection's find methods follow the same order.
inline constexpr ContactText kContactTexts[] = {
    &ContactData::name,        &ContactData::email,           &ContactData::businessPhone,
    &ContactData::homePhone,   &ContactData::homeFax,         &ContactData::businessFax,
    &ContactData::pager,       &ContactData::mobile,          &ContactData::personalWebPage,
    &ContactData::jobTitle,    &ContactData::department,      &ContactData::office,
    &ContactData::companyName, &ContactData::businessWebPage,
};
inline constexpr std::size_t kContactTextCount = std::size(kContactTexts);

class CContact : public com::DispatchObject<CContact> {
 public:
  explicit CContact(ContactData data);

  const ContactData& Data() const { return data_; }

  // IContact: each property answers its text; none can be set.
  template <ContactText text>
  std::string Text() {
    return data_.*text;
  }

  static const com::Bindings<CContact>& GetBindings();

 private:
  const ContactData data_;
};

}  // namespace mq
