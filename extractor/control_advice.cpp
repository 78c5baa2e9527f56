// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/control_advice.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/shell/shell.h"

namespace mailsift {
namespace {

const char kRegister[] = "run scripts/run in the source tree, or install the packages";

std::string WithCode(const std::string& text, HRESULT hr) {
  return text + " (" + HResultHex(hr) + ")";
}

// Where the store looks: $MAILDIR when set; else ~/Maildir, the Thunderbird
// profile and the demo store in turn, none of which was there when it failed.
std::string PlaceTried(bool* named) {
  const char* env = std::getenv("MAILDIR");
  *named = env && *env;
  if (*named) return env;
  std::string home = shell::HomeDirectory();
  return home + "Maildir";
}

bool IsEmptyDirectory(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (!dir) return false;
  bool empty = true;
  while (dirent* entry = readdir(dir))
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      empty = false;
      break;
    }
  closedir(dir);
  return empty;
}

// Why `place` is no store, read from the file system: "does not exist".
std::string WhyNotAStore(const std::string& place) {
  struct stat st {};
  if (stat(place.c_str(), &st) != 0)
    return errno == EACCES ? "may not be read by this user" : "does not exist";
  const bool directory = S_ISDIR(st.st_mode);
  if (access(place.c_str(), directory ? R_OK | X_OK : R_OK) != 0)
    return "may not be read by this user";
  if (directory && IsEmptyDirectory(place)) return "is empty";
  return directory ? "is not a mail store (no Maildir, mbox files or Thunderbird profile in it)"
                   : "is not a mail store (not an mbox file)";
}

}  // namespace

std::string HResultHex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::string ControlNotCreatedText(HRESULT hr) {
  if (hr == REGDB_E_CLASSNOTREG)
    return WithCode(std::string("Mailquarry is not registered for this user: ") + kRegister, hr);
  if (hr == CO_E_DLLNOTFOUND)
    return WithCode(std::string("Mailquarry is registered, but its module file is missing or "
                                "cannot be loaded: ") +
                        kRegister,
                    hr);
  return WithCode(std::string("Mailquarry is registered, but it failed to start: ") + kRegister,
                  hr);
}

std::string StoreNotOpenedText(HRESULT hr) {
  if (hr == REGDB_E_CLASSNOTREG || hr == CO_E_DLLNOTFOUND)
    return WithCode(
        std::string("The mail store's module is not registered for this user: ") + kRegister, hr);
  bool named = false;
  const std::string place = PlaceTried(&named);
  const std::string why = WhyNotAStore(place);
  if (named)
    return WithCode("The mail store at " + place + " ($MAILDIR) could not be opened: it " + why +
                        "; set MAILDIR to a Maildir, an mbox file or directory, or a "
                        "Thunderbird profile",
                    hr);
  const bool missing = why == "does not exist";
  return WithCode(
      "No mail store was found: " + place + " " + why +
          (missing ? ", and there is neither a Thunderbird profile nor the demo store" : "") +
          "; set MAILDIR to your mail, or run scripts/run, which makes a demo store "
          "when there is none",
      hr);
}

}  // namespace mailsift
