// Members that a dispinterface declares but this build does not serve yet.
// The dispatch engine wants every declared member bound, so each pending one
// is bound to a placeholder of the declared signature; the object's Invoke
// answers DISP_E_MEMBERNOTFOUND for it before the placeholder could run.
//
//   class CFolders : public com::DispatchObject<CFolders>, public PendingMembers<CFolders> {
//     MQ_PENDING_INVOKE(CFolders)
//   };
//   PendingBinder(bindings, PendingIds())
//       .Method<VARIANT_BOOL, LONG>(4)         // DeleteFolder(long)
//       .Get<com::ComPtr<IUnknown>>(DISPID_NEWENUM);
//
// Serving a member: delete its line here and bind the real function.
#pragma once

#include <algorithm>
#include <vector>

#include "platform/com/dispatch_object.h"

namespace mq {

template <class T>
class PendingMembers {
 public:
  template <class R, class... A>
  R Pending(A...) {
    if constexpr (!std::is_void_v<R>) return R();
  }

 protected:
  static std::vector<DISPID>& PendingIds() {
    static std::vector<DISPID> ids;
    return ids;
  }
  static bool IsPending(DISPID id) {
    const auto& ids = PendingIds();
    return std::find(ids.begin(), ids.end(), id) != ids.end();
  }
};

template <class T>
class PendingBinder {
 public:
  PendingBinder(com::Bindings<T>& bindings, std::vector<DISPID>& ids)
      : bindings_(bindings), ids_(ids) {}

  template <class R, class... A>
  PendingBinder& Method(DISPID id) {
    bindings_.template Method<&PendingMembers<T>::template Pending<R, A...>>(id);
    ids_.push_back(id);
    return *this;
  }
  template <class R, class... A>
  PendingBinder& Get(DISPID id) {
    bindings_.template Get<&PendingMembers<T>::template Pending<R, A...>>(id);
    ids_.push_back(id);
    return *this;
  }

 private:
  com::Bindings<T>& bindings_;
  std::vector<DISPID>& ids_;
};

}  // namespace mq

// Answers DISP_E_MEMBERNOTFOUND for a pending member, else dispatches.
#define MQ_PENDING_INVOKE(Class)                                                                \
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,             \
                 VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override {                \
    if (IsPending(id)) return DISP_E_MEMBERNOTFOUND;                                            \
    return com::DispatchObject<Class>::Invoke(id, riid, lcid, flags, params, result, excepInfo, \
                                              argErr);                                          \
  }
