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

CContact::CContact(const ContactData& data)
    : DispatchObject(MailquarryLibrary(), IID_IContact), entryId_(data.entryId) {
  std::size_t size = 0;
  for (ContactText text : kContactTexts) size += (data.*text).size();
  texts_.reserve(size);
  for (std::size_t i = 0; i < kContactTextCount; ++i) {
    texts_ += data.*kContactTexts[i];
    ends_[i] = static_cast<std::uint32_t>(texts_.size());
  }
}

std::string_view CContact::TextAt(std::size_t index) const {
  if (index >= kContactTextCount) return {};
  const std::uint32_t start = index ? ends_[index - 1] : 0;
  return std::string_view(texts_).substr(start, ends_[index] - start);
}

ContactData CContact::Data() const {
  ContactData data;
  for (std::size_t i = 0; i < kContactTextCount; ++i) data.*kContactTexts[i] = TextAt(i);
  data.entryId = entryId_;
  return data;
}

const com::Bindings<CContact>& CContact::GetBindings() {
  static const auto bindings = BindTexts(std::make_index_sequence<kContactTextCount>());
  return bindings;
}

}  // namespace mq
