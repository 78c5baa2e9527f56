// The contact collection (IContacts). Until the address book is connected it
// holds no contacts: Count answers 0 and its other members are pending
// (DISP_E_MEMBERNOTFOUND).
#pragma once

#include "control/pending_members.h"
#include "control/store_context.h"
#include "platform/com/dispatch_object.h"

namespace mq {

class CContacts : public com::DispatchObject<CContacts>, public PendingMembers<CContacts> {
 public:
  CContacts();
  MQ_PENDING_INVOKE(CContacts)

  void Attach(StoreContext* context) { context_ = context; }
  void Detach() { context_ = nullptr; }
  StoreContext* Context() const { return context_; }

  // IContacts
  LONG Count();

  static const com::Bindings<CContacts>& GetBindings();

 private:
  StoreContext* context_ = nullptr;
};

}  // namespace mq
