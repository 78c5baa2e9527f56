// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/automation_call.h"

#include <cstdio>

namespace mailsift {
namespace {

// "Mailquarry failed a call (member 20: its description); ... (0x80004005)":
// what happened and what it means for the command, the code last.
std::string Describe(DISPID dispid, HRESULT hr, const EXCEPINFO& info,
                     const char* what = "failed a call") {
  std::string text = std::string("Mailquarry ") + what + " (member " + std::to_string(dispid);
  if (info.bstrDescription && SysStringLen(info.bstrDescription) > 0)
    text += ": " + com::Utf8FromBstr(info.bstrDescription);
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X",
                static_cast<unsigned>(hr == DISP_E_EXCEPTION && info.scode ? info.scode : hr));
  return text + "); the command stopped there, and the files it wrote are kept (" + code + ")";
}

}  // namespace

com::Variant InvokeById(IDispatch* object, DISPID dispid, WORD flags, VARIANT* args, UINT count,
                        VARTYPE resultType) {
  if (!object)
    throw AutomationError(
        E_POINTER, "Mailquarry handed out no object; the command stopped there (0x80004003)");
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
    if (FAILED(hr))
      throw AutomationError(
          hr, Describe(dispid, hr, EXCEPINFO{}, "answered a call with the wrong type"));
  }
  return result;
}

}  // namespace mailsift
