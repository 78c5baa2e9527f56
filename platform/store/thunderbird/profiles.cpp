// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/thunderbird/profiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <set>

#include "platform/store/engine/disk.h"
#include "platform/store/maildir/files.h"
#include "platform/store/maildir/names.h"

namespace store::thunderbird {
namespace {

// Thunderbird's own prefs.js is far smaller; a larger file is read in part
// and counts as damaged.
constexpr std::size_t kMaxPrefsBytes = 32u << 20;
constexpr std::size_t kMaxIniBytes = 1u << 20;
// Accounts and account directories considered, at most.
constexpr std::size_t kMaxAccounts = 1000;

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

std::string BaseName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string Join(const std::string& dir, std::string_view relative) {
  if (!relative.empty() && relative[0] == '/') return std::string(relative);
  return dir + "/" + std::string(relative);
}

std::vector<IniSection> ReadIni(const std::string& path) {
  std::optional<std::string> text = ReadSmallFile(path, kMaxIniBytes);
  return text ? ParseIni(*text) : std::vector<IniSection>{};
}

// Subdirectories of `dir` whose names do not start with '.', by name.
std::vector<std::string> SubDirectories(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d) return names;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    if (names.size() >= kMaxAccounts) break;
    std::string name = e->d_name;
    if (disk::IsDirectory(dir + "/" + name)) names.push_back(std::move(name));
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// A directory pref written relative to the profile: "[ProfD]ImapMail/host".
std::optional<std::string> FromRelativePref(const std::string* value,
                                            const std::string& profileDir) {
  if (!value || !StartsWith(*value, "[ProfD]")) return std::nullopt;
  std::string_view rest = std::string_view(*value).substr(7);
  if (rest.empty()) return std::nullopt;
  return profileDir + "/" + std::string(rest);
}

// An absolute directory pref. A profile copied or moved elsewhere keeps the
// old path: its part from the account kind's directory on is then taken
// below this profile.
std::optional<std::string> FromAbsolutePref(const std::string* value,
                                            const std::string& profileDir) {
  if (!value || value->empty() || (*value)[0] != '/') return std::nullopt;
  if (disk::IsDirectory(*value)) return *value;
  for (std::string_view kind : {"/ImapMail/", "/Mail/", "/News/"}) {
    std::size_t at = value->rfind(kind);
    if (at != std::string::npos && at + kind.size() < value->size())
      return profileDir + value->substr(at);
  }
  return *value;
}

// Where Thunderbird puts a server's folders when no pref says so.
std::optional<std::string> DefaultDirectory(const Prefs& prefs, const std::string& server,
                                            const std::string& profileDir) {
  const std::string* type = prefs.Get("mail.server." + server + ".type");
  const std::string* host = prefs.Get("mail.server." + server + ".hostname");
  if (!type) return std::nullopt;
  if (*type == "none") return profileDir + "/Mail/Local Folders";
  if (!host || host->empty() || *host == "." || *host == ".." ||
      host->find('/') != std::string::npos)
    return std::nullopt;
  if (*type == "imap") return profileDir + "/ImapMail/" + *host;
  if (*type == "nntp") return profileDir + "/News/" + *host;
  return profileDir + "/Mail/" + *host;
}

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= list.size() && items.size() < kMaxAccounts) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string item = list.substr(start, comma - start);
    item.erase(0, item.find_first_not_of(" \t"));
    item.erase(item.find_last_not_of(" \t") + 1);
    if (!item.empty() && std::find(items.begin(), items.end(), item) == items.end())
      items.push_back(std::move(item));
    start = comma + 1;
  }
  return items;
}

// The account keys in the order Thunderbird shows them.
std::vector<std::string> AccountKeys(const Prefs& prefs) {
  std::vector<std::string> keys;
  if (const std::string* list = prefs.Get("mail.accountmanager.accounts")) {
    keys = SplitList(*list);
  } else {
    // No list: every account that names a server, account1, account2, … in
    // numeric order.
    const std::string prefix = "mail.account.", suffix = ".server";
    for (const auto& [name, value] : prefs.values) {
      if (name.size() > prefix.size() + suffix.size() && StartsWith(name, prefix) &&
          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        keys.push_back(name.substr(prefix.size(), name.size() - prefix.size() - suffix.size()));
    }
    auto number = [](const std::string& key) {
      std::size_t digits = key.find_first_of("0123456789");
      return digits == std::string::npos ? 0ul : std::strtoul(key.c_str() + digits, nullptr, 10);
    };
    std::sort(keys.begin(), keys.end(), [&](const std::string& a, const std::string& b) {
      return std::pair(number(a), a) < std::pair(number(b), b);
    });
    if (keys.size() > kMaxAccounts) keys.resize(kMaxAccounts);
  }
  if (const std::string* def = prefs.Get("mail.accountmanager.defaultaccount")) {
    auto it = std::find(keys.begin(), keys.end(), *def);
    if (it != keys.end()) std::rotate(keys.begin(), it, it + 1);
  }
  return keys;
}

}  // namespace

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return std::nullopt;
  }
  std::string text;
  text.resize(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), limit));
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = read(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(fd);
  text.resize(done);
  return text;
}

std::vector<std::string> ProfilesDirectories(const std::string& home) {
  return {home + "/.thunderbird", home + "/snap/thunderbird/common/.thunderbird",
          home + "/.var/app/org.mozilla.Thunderbird/.thunderbird"};
}

std::vector<std::string> DefaultProfileCandidates(const std::vector<IniSection>& installs,
                                                  const std::vector<IniSection>& profiles) {
  std::vector<std::string> out;
  auto add = [&](std::optional<std::string_view> path) {
    if (path && !path->empty() && std::find(out.begin(), out.end(), *path) == out.end())
      out.emplace_back(*path);
  };
  for (const auto& s : installs) add(s.Get("Default"));
  for (const auto& s : profiles)
    if (StartsWith(s.name, "Install")) add(s.Get("Default"));
  for (const auto& s : profiles)
    if (StartsWith(s.name, "Profile") && s.Get("Default") == "1") add(s.Get("Path"));
  for (const auto& s : profiles)
    if (StartsWith(s.name, "Profile")) add(s.Get("Path"));
  return out;
}

std::optional<std::string> DefaultProfileIn(const std::string& dir) {
  std::vector<IniSection> profiles = ReadIni(dir + "/profiles.ini");
  std::vector<IniSection> installs = ReadIni(dir + "/installs.ini");
  // A relative path is below the profiles directory whatever IsRelative says;
  // an absolute one stands for itself.
  for (const std::string& path : DefaultProfileCandidates(installs, profiles)) {
    std::string profile = Join(dir, path);
    if (disk::IsDirectory(profile)) return profile;
  }
  return std::nullopt;
}

std::optional<std::string> FindDefaultProfile(const std::string& home) {
  for (const std::string& dir : ProfilesDirectories(home)) {
    if (!IsProfilesDirectory(dir)) continue;
    if (auto profile = DefaultProfileIn(dir)) return profile;
  }
  return std::nullopt;
}

bool IsProfilesDirectory(const std::string& dir) {
  return IsFile(dir + "/profiles.ini");
}

bool IsProfile(const std::string& dir) {
  if (!disk::IsDirectory(dir) || maildir::IsMaildir(dir)) return false;
  return IsFile(dir + "/prefs.js") || IsFile(dir + "/compatibility.ini") ||
         disk::IsDirectory(dir + "/Mail/Local Folders") || disk::IsDirectory(dir + "/ImapMail");
}

std::vector<Account> AccountsFromPrefs(const Prefs& prefs, const std::string& profileDir) {
  std::vector<Account> accounts;
  std::set<std::string> seen;  // real paths of the directories listed
  for (const std::string& key : AccountKeys(prefs)) {
    const std::string* server = prefs.Get("mail.account." + key + ".server");
    if (!server || server->empty()) continue;  // an identity without a server
    const std::string pref = "mail.server." + *server;
    const std::string* hidden = prefs.Get(pref + ".hidden");
    if (hidden && *hidden == "true") continue;
    std::optional<std::string> dir =
        FromRelativePref(prefs.Get(pref + ".directory-rel"), profileDir);
    if (!dir || !disk::IsDirectory(*dir))
      dir = FromAbsolutePref(prefs.Get(pref + ".directory"), profileDir);
    if (!dir || !disk::IsDirectory(*dir)) dir = DefaultDirectory(prefs, *server, profileDir);
    if (!dir || !disk::IsDirectory(*dir) || !seen.insert(RealPath(*dir)).second) continue;
    const std::string* name = prefs.Get(pref + ".name");
    accounts.push_back({maildir::ValidUtf8(name && !name->empty() ? *name : BaseName(*dir)), *dir});
  }
  return accounts;
}

std::vector<Account> AccountsFromDirectories(const std::string& profileDir) {
  std::vector<Account> accounts;
  for (const char* kind : {"/ImapMail", "/Mail"}) {
    for (const std::string& name : SubDirectories(profileDir + kind))
      accounts.push_back({maildir::ValidUtf8(name), profileDir + kind + "/" + name});
  }
  std::stable_partition(accounts.begin(), accounts.end(), [&](const Account& a) {
    return a.directory != profileDir + "/Mail/Local Folders";
  });
  return accounts;
}

std::vector<Account> ReadAccounts(const std::string& profileDir) {
  std::optional<std::string> text = ReadSmallFile(profileDir + "/prefs.js", kMaxPrefsBytes);
  Prefs prefs;
  if (text) prefs = ParsePrefs(*text);
  bool complete = text && !prefs.damaged && text->size() < kMaxPrefsBytes;
  std::vector<Account> accounts = AccountsFromPrefs(prefs, profileDir);
  if (complete && !accounts.empty()) return accounts;
  std::set<std::string> seen;
  for (const Account& a : accounts) seen.insert(RealPath(a.directory));
  for (Account& a : AccountsFromDirectories(profileDir))
    if (seen.insert(RealPath(a.directory)).second) accounts.push_back(std::move(a));
  return accounts;
}

}  // namespace store::thunderbird
