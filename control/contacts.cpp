#include "control/contacts.h"

#include "control/guids.h"
#include "control/typelib.h"

namespace mq {

CContacts::CContacts() : DispatchObject(MailquarryLibrary(), IID_IContacts) {}

LONG CContacts::Count() {
  return 0;
}

const com::Bindings<CContacts>& CContacts::GetBindings() {
  static const auto bindings = [] {
    com::Bindings<CContacts> b;
    b.Get<&CContacts::Count>(1);
    using S = std::string;
    PendingBinder(b, PendingIds())
        .Method<S, LONG>(2)                                                 // FindName
        .Method<void, LONG>(3)                                              // ShowProperties
        .Method<VARIANT_BOOL, LONG>(4)                                      // DeleteContact
        .Method<void>(5)                                                    // Refresh
        .Method<void>(6)                                                    // NewContactFromUI
        .Method<VARIANT_BOOL, S, S, S, S, S, S, S, S, S, S, S, S, S, S>(7)  // NewContact
        .Get<com::ComPtr<IDispatch>, const VARIANT&>(21)                    // Item
        .Get<com::ComPtr<IUnknown>>(DISPID_NEWENUM);                        // _NewEnum
    for (DISPID id = 8; id <= 20; ++id) {                                   // FindEmail ...
      PendingBinder(b, PendingIds()).Method<S, LONG>(id);
    }
    return b;
  }();
  return bindings;
}

}  // namespace mq
