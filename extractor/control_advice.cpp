#include "extractor/control_advice.h"

#include <cstdio>

namespace mailsift {

std::string HResultHex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::string ControlNotCreatedText(HRESULT hr) {
  return "The Mailquarry control could not be created (" + HResultHex(hr) +
         "). It is not registered, or it failed to start.\nRegister it by running scripts/run "
         "from the source tree, or bin/regsvr bin/MailStore.so and bin/regsvr "
         "bin/Mailquarry.ocx from a build.";
}

}  // namespace mailsift
