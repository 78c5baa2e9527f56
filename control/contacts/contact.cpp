// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/contacts/contact.h"

#include <utility>

#include "control/guids.h"
#include "control/typelib.h"

namespace mq {
namespace {

template <std::size_t... I>
com::Bindings<CContact> BindTexts(std::index_sequence<I...>) {
  com::Bindings<CContact> bindings;
  (bindings.Get<&CContact::Text<kContactTexts[I]>>(static_cast<DISPID>(I + 1)), ...);
  return bindings;
}

}  // namespace

CContact::CContact(ContactData data)
    : DispatchObject(MailquarryLibrary(), IID_IContact), data_(std::move(data)) {}

const com::Bindings<CContact>& CContact::GetBindings() {
  static const auto bindings = BindTexts(std::make_index_sequence<kContactTextCount>());
  return bindings;
}

}  // namespace mq
