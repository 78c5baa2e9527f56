// SPDX-License-Identifier: LGPL-2.1-or-later
// CContact (IContact): one contact of the personal address book, as loaded.
// A contact holds its own copy of its texts and of its entry identifier and
// nothing else, so a client may keep one past a Refresh of its collection or
// the control's teardown (when the address book and its library are gone) and
// it still answers what it held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
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

// The position of `text` in kContactTexts.
constexpr std::size_t ContactTextIndex(ContactText text) {
  for (std::size_t i = 0; i < kContactTextCount; ++i)
    if (kContactTexts[i] == text) return i;
  return kContactTextCount;
}

class CContact : public com::DispatchObject<CContact> {
 public:
  explicit CContact(const ContactData& data);

  // What the contact holds, as a copy.
  ContactData Data() const;
  std::string_view TextOf(ContactText text) const { return TextAt(ContactTextIndex(text)); }
  const std::vector<BYTE>& EntryId() const { return entryId_; }

  // IContact: each property answers its text; none can be set.
  template <ContactText text>
  std::string Text() {
    constexpr std::size_t index = ContactTextIndex(text);
    return std::string(TextAt(index));
  }

  static const com::Bindings<CContact>& GetBindings();

 private:
  std::string_view TextAt(std::size_t index) const;

  // The texts one after another in one string, each ending where ends_
  // says: a collection of many contacts holds one small allocation per
  // contact rather than one per text.
  std::string texts_;
  std::uint32_t ends_[kContactTextCount] = {};
  std::vector<BYTE> entryId_;
};

}  // namespace mq
