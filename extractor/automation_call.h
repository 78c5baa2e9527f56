// SPDX-License-Identifier: LGPL-2.1-or-later
// One late-bound call by DISPID through IDispatch::Invoke, for the proxies.
// A failed call is raised as an AutomationError, so that a command ends where
// the call failed and its objects are released on the way out.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/com/dispatch.h"

namespace mailsift {

class AutomationError : public std::runtime_error {
 public:
  AutomationError(HRESULT hr, const std::string& what) : std::runtime_error(what), hr_(hr) {}
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
};

// Invokes `dispid` on `object` with `flags`; `args` in natural (left to right)
// order, `count` of them (at most 2). A property put passes its one argument
// as the named value. The result comes back converted to `resultType`
// (VT_EMPTY: no result wanted).
com::Variant InvokeById(IDispatch* object, DISPID dispid, WORD flags, VARIANT* args, UINT count,
                        VARTYPE resultType);

}  // namespace mailsift
