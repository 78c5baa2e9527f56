// SPDX-License-Identifier: LGPL-2.1-or-later
// What Mailsift tells its user when the control cannot be created or the mail
// store cannot be opened, in the dialog's message boxes and on the command
// line alike: the cause and the way out in plain words, the code last.
#pragma once

#include <string>

#include "platform/com/hresult.h"

namespace mailsift {

// "0x80040154": an HRESULT as the platform's tools print it.
std::string HResultHex(HRESULT hr);

// Why the control is missing (`hr` from its creation) and what to do.
std::string ControlNotCreatedText(HRESULT hr);

// Which place the store was looked for in, why it could not be opened there
// (missing, empty, not a mail store, no permission), and what to do; `hr` is
// the store's answer.
std::string StoreNotOpenedText(HRESULT hr);

}  // namespace mailsift
