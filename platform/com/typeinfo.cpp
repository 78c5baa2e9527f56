#include "platform/com/dispatch_object.h"

namespace com::detail {
HRESULT TypeInfoOf(const tlb::Library&, const IID&, ITypeInfo** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}
}  // namespace com::detail
