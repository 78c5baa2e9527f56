// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/found_books.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/wab/book.h"

namespace wab {
namespace {

std::string AbsoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  return value && *value == '/' ? value : "";
}

}  // namespace

UserDirectories UserDirectoriesFromEnvironment() {
  UserDirectories dirs;
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    struct passwd* pw = getpwuid(getuid());
    home = pw ? pw->pw_dir : nullptr;
  }
  dirs.home = home ? home : "";
  dirs.data = AbsoluteVariable("XDG_DATA_HOME");
  dirs.config = AbsoluteVariable("XDG_CONFIG_HOME");
  if (dirs.data.empty() && !dirs.home.empty()) dirs.data = dirs.home + "/.local/share";
  if (dirs.config.empty() && !dirs.home.empty()) dirs.config = dirs.home + "/.config";
  return dirs;
}

// KDE keeps the personal contacts (Akonadi's contacts resource) as a
// directory of vCard files, read as our own directory books are.
std::vector<FoundBook> KdeBooks(const UserDirectories& dirs) {
  std::vector<FoundBook> out;
  if (dirs.data.empty()) return out;
  std::string path = dirs.data + "/contacts";
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    out.push_back({"kde:contacts", "KDE", "Personal Contacts", path,
                   std::make_shared<Book>(path, /*readOnly=*/true)});
  return out;
}

std::vector<FoundBook> FindOtherBooks(const UserDirectories& dirs) {
  std::vector<FoundBook> all = ThunderbirdBooks(ThunderbirdProfileFor(dirs.home));
  for (auto* find : {&EvolutionBooks, &KdeBooks})
    for (FoundBook& book : find(dirs)) all.push_back(std::move(book));
  return all;
}

std::vector<std::string> DescribeAddressBooks() {
  std::vector<std::string> lines;
  std::string own = DefaultBookLocation();
  if (!FindsOtherBooks(nullptr))
    return {"Address book: " + own + " ($MAILQUARRY_ADDRESSBOOK; no other book is read)"};
  lines.push_back("Address book: our own, " + (own.empty() ? "(none: no home directory)" : own) +
                  " (new contacts go here)");
  for (const FoundBook& book : FindOtherBooks(UserDirectoriesFromEnvironment()))
    lines.push_back("Address book: " + book.program + " \"" + book.name + "\", " + book.path +
                    " (read only)");
  return lines;
}

}  // namespace wab
