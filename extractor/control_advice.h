// What Mailsift tells its user when the control cannot be created, in the
// dialog's message box and on the command line alike.
#pragma once

#include <string>

#include "platform/com/hresult.h"

namespace mailsift {

// "0x80040154": an HRESULT as the platform's tools print it.
std::string HResultHex(HRESULT hr);

// Why the control is missing (`hr` from its creation) and how to register it.
std::string ControlNotCreatedText(HRESULT hr);

}  // namespace mailsift
