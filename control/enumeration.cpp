// SPDX-License-Identifier: LGPL-2.1-or-later
// _NewEnum of the folder and message collections: a CCollectionEnum over the
// collection's list, which keeps the collection alive while it lives.
#include "control/collection_enum.h"
#include "control/folders.h"
#include "control/messages.h"

namespace mq {

com::ComPtr<IUnknown> CFolders::NewEnum() {
  return com::ComPtr<IUnknown>(
      CCollectionEnum::Create(com::ComPtr<IUnknown>(Identity()), CCollectionEnum::ViewOf(List())));
}

void CFolders::BindEnumeration(com::Bindings<CFolders>& bindings) {
  bindings.Get<&CFolders::NewEnum>(DISPID_NEWENUM);
}

com::ComPtr<IUnknown> CMessages::NewEnum() {
  return com::ComPtr<IUnknown>(
      CCollectionEnum::Create(com::ComPtr<IUnknown>(Identity()), CCollectionEnum::ViewOf(List())));
}

void CMessages::BindEnumeration(com::Bindings<CMessages>& bindings) {
  bindings.Get<&CMessages::NewEnum>(DISPID_NEWENUM);
}

}  // namespace mq
