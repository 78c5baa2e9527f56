// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/messages.h"

#include "control/guids.h"
#include "control/typelib.h"

namespace mq {

CMessages::CMessages() : DispatchObject(MailquarryLibrary(), IID_IMessages) {}

void CMessages::Detach() {
  context_ = nullptr;
  list_.Clear();
  lastTempFile_.reset();
}

void CMessages::Append(MessageData message) {
  auto record = com::MakeObject<CMessage>(std::move(message));
  if (record) list_.Append(std::move(record));
}

SHORT CMessages::Count() {
  return static_cast<SHORT>(static_cast<WORD>(list_.Size()));
}

com::ComPtr<IDispatch> CMessages::Item(const VARIANT& Key) {
  CMessage* message = FindByKey(list_, Key, [](const CMessage& record) -> const std::string& {
    return record.Data().subject;
  });
  return com::ComPtr<IDispatch>(message);
}

void CMessages::BindCore(com::Bindings<CMessages>& bindings) {
  bindings.Get<&CMessages::Count>(1).Get<&CMessages::Item>(22);
}

const com::Bindings<CMessages>& CMessages::GetBindings() {
  static const auto bindings = [] {
    com::Bindings<CMessages> b;
    BindCore(b);
    BindMembers(b);
    BindEnumeration(b);
    return b;
  }();
  return bindings;
}

}  // namespace mq
