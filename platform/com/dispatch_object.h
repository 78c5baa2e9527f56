// The dispatch engine's face toward the objects that serve automation: a class
// implements its members as ordinary C++ member functions and binds each to
// its DISPID; the member's name, kind, parameter and result types are written
// once, in the module's type library table (typelib.h). When the bindings are
// first built, each bound function's C++ signature is checked against the
// table and a mismatch stops the program with a message naming the member, so
// any test that creates the object catches it.
//
//   class CMessages : public com::DispatchObject<CMessages> {
//    public:
//     CMessages() : DispatchObject(MailquarryLibrary(), IMessagesIid) {}
//     SHORT Count();
//     std::string FindSubject(LONG iIndex);
//     VARIANT_BOOL Save2eml(LONG iIndex, const std::string& strEMLFileName);
//     com::ComPtr<IDispatch> Item(const VARIANT& key);
//     static const com::Bindings<CMessages>& GetBindings() {
//       static const auto bindings = com::Bindings<CMessages>()
//                                        .Get<&CMessages::Count>(1)
//                                        .Get<&CMessages::Item>(22)
//                                        .Method<&CMessages::FindSubject>(16)
//                                        .Method<&CMessages::Save2eml>(20);
//       return bindings;
//     }
//   };
//
// C++ types and the automation types they stand for, both ways:
//   SHORT <-> VT_I2, LONG <-> VT_I4, VARIANT_BOOL <-> VT_BOOL,
//   std::string (UTF-8; parameters by value or const&) <-> VT_BSTR,
//   std::u16string <-> VT_BSTR (exact UTF-16, embedded NULs kept),
//   com::ComPtr<IDispatch> <-> VT_DISPATCH, com::ComPtr<IUnknown> <-> VT_UNKNOWN,
//   const VARIANT& (parameter) / com::Variant (result) <-> VT_VARIANT,
//   void <-> no result.
//
// Invoke coerces every argument to its declared type with VariantChangeType,
// honours reverse argument order and DISPID_PROPERTYPUT, and answers the
// standard DISP_E_* codes with puArgErr. A member ends the call with an
// automation error (DISP_E_EXCEPTION, EXCEPINFO filled) by throwing
// com::AutomationError; nothing else may escape a member.
#pragma once

#include <string>

#include "platform/com/dispatch.h"
#include "platform/com/typelib.h"

namespace com {

struct AutomationError {
  HRESULT scode;
  std::string description;
  std::string source = {};
};

template <class T>
class Bindings;  // defined by the dispatch engine

// Implements IUnknown and IDispatch (and QueryInterface for the dispinterface's
// IID) for T, which serves one dispinterface of a library; `Extra` are further
// interfaces T implements itself (a control's platform interfaces, say).
template <class T, class... Extra>
class DispatchObject;  // defined by the dispatch engine

}  // namespace com
