#include "extractor/automation_call.h"

#include <cstdio>

namespace mailsift {
namespace {

std::string Describe(DISPID dispid, HRESULT hr, const EXCEPINFO& info) {
  char code[64];
  std::snprintf(code, sizeof code, "member %d failed with 0x%08X", static_cast<int>(dispid),
                static_cast<unsigned>(hr == DISP_E_EXCEPTION && info.scode ? info.scode : hr));
  std::string text = code;
  if (info.bstrDescription && SysStringLen(info.bstrDescription) > 0)
    text += ": " + com::Utf8FromBstr(info.bstrDescription);
  return text;
}

}  // namespace

com::Variant InvokeById(IDispatch* object, DISPID dispid, WORD flags, VARIANT* args, UINT count,
                        VARTYPE resultType) {
  if (!object) throw AutomationError(E_POINTER, "the control handed out no object");
  // Invoke takes the arguments last first.
  VARIANTARG reversed[2];
  for (UINT i = 0; i < count; ++i) reversed[i] = args[count - 1 - i];
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed, nullptr, count, 0};
  if (flags & DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  com::Variant result;
  EXCEPINFO info{};
  UINT argErr = 0;
  HRESULT hr = object->Invoke(dispid, IID_NULL, 0, flags, &params,
                              resultType == VT_EMPTY ? nullptr : &result, &info, &argErr);
  std::string failure = FAILED(hr) ? Describe(dispid, hr, info) : std::string();
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrHelpFile);
  if (FAILED(hr)) throw AutomationError(hr, failure);
  if (resultType != VT_EMPTY && result.vt != resultType) {
    hr = VariantChangeType(&result, &result, 0, resultType);
    if (FAILED(hr)) throw AutomationError(hr, Describe(dispid, hr, EXCEPINFO{}) + " (result type)");
  }
  return result;
}

}  // namespace mailsift
