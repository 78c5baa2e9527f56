// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/store_location.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/store/engine/disk.h"
#include "platform/store/engine/folder_layout.h"
#include "platform/store/home/discovery.h"
#include "platform/store/thunderbird/profiles.h"

namespace store {
std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    struct passwd* pw = getpwuid(getuid());
    home = pw ? pw->pw_dir : nullptr;
  }
  return home ? home : "";
}

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string DemoStorePath() {
  const char* data = std::getenv("XDG_DATA_HOME");
  const std::string base = data && *data ? data : HomeDirectory() + "/.local/share";
  return base + "/mailquarry/demo-Maildir";
}

StoreLocation LocateStore() {
  StoreLocation where;
  const char* env = std::getenv("MAILDIR");
  if (env && *env) {
    where.root = env;
    if (thunderbird::IsProfilesDirectory(where.root)) {
      if (auto profile = thunderbird::DefaultProfileIn(where.root)) where.root = *profile;
    }
    where.profile = thunderbird::IsProfile(where.root);
    where.found = Exists(where.root);
    return where;
  }
  std::string home = HomeDirectory();
  auto stores = home::FindStores(home);
  if (stores.size() > 1 || (stores.size() == 1 && stores[0].kind != home::Kind::kMaildir &&
                            stores[0].kind != home::Kind::kThunderbird))
    return {.root = home, .found = true, .all = true};
  where.root = home + "/Maildir";
  if (disk::IsDirectory(where.root)) {
    where.found = true;
  } else if (auto profile = thunderbird::FindDefaultProfile(home)) {
    where = {.root = *profile, .profile = true, .found = true};
  } else if (disk::IsDirectory(DemoStorePath())) {
    where = {.root = DemoStorePath(), .found = true, .demo = true};
  }
  return where;
}

std::string DescribeStore(const StoreLocation& location) {
  if (!location.found) return "No mail store at " + location.root;
  if (location.profile)
    return "Mail store: the Thunderbird profile " + location.root +
           " (read only: nothing is written to it)";
  if (location.demo)
    return "Mail store: the demo store in " + location.root +
           " (no other store was found: $MAILDIR is unset, there is no ~/Maildir and no "
           "Thunderbird profile)";
  // The store's own reading of the layout says which kind it is.
  TreeScan scan;
  auto layout = DetectLayout(location.root, &scan);
  if (!layout)
    return "Not a mail store: " + location.root +
           " (no Maildir folder, mbox file, MH folder, or other mail program's store there)";
  return layout->Describe(location.root);
}

}  // namespace store
