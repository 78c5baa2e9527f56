// SPDX-License-Identifier: LGPL-2.1-or-later
// Finding a Thunderbird user's mail: the default profile, and the accounts
// it holds in the order Thunderbird shows them.
//
// Profiles live under a profiles directory holding profiles.ini (and, since
// Thunderbird 68, installs.ini): ~/.thunderbird, or the same directory inside
// a snap's or a flatpak's home. The default profile is the one installs.ini
// names, else the one profiles.ini names (an [Install…] section's Default=, else
// the [Profile…] with Default=1), else the first profile listed. A named
// profile whose directory is gone is passed over for the next candidate.
//
// A profile's accounts come from its prefs.js: mail.accountmanager.accounts
// lists them, mail.account.<account>.server names each one's server, and
// mail.server.<server>.name / .directory-rel / .directory give its name and
// folder directory. When prefs.js is missing or damaged, the account
// directories found under Mail/ and ImapMail/ are accounts too, named by their
// directories.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/thunderbird/mozilla_ini.h"
#include "platform/store/thunderbird/prefs_js.h"

namespace store::thunderbird {

struct Account {
  std::string name;       // as Thunderbird shows it ("Local Folders", "jane@example.com")
  std::string directory;  // the directory holding its folders (absolute)
};

// The profiles directories below `home`, in the order they are searched.
std::vector<std::string> ProfilesDirectories(const std::string& home);

// The profile paths that profiles.ini and installs.ini name, best first, as
// written (relative to the profiles directory unless absolute).
std::vector<std::string> DefaultProfileCandidates(const std::vector<IniSection>& installs,
                                                  const std::vector<IniSection>& profiles);

// The default profile of the profiles directory `dir` (holding profiles.ini);
// nullopt when it names no profile that exists.
std::optional<std::string> DefaultProfileIn(const std::string& dir);

// The default profile of the first of ProfilesDirectories(home) that has one.
std::optional<std::string> FindDefaultProfile(const std::string& home);

// Whether `dir` is itself a profile directory: it holds prefs.js,
// compatibility.ini or Mail/Local Folders, or an ImapMail directory.
bool IsProfile(const std::string& dir);
// Whether `dir` holds profiles.ini (a profiles directory, ~/.thunderbird).
bool IsProfilesDirectory(const std::string& dir);

// The accounts that `prefs` describe for the profile at `profileDir`, the
// default account first, then in the order of mail.accountmanager.accounts.
// Accounts whose directory does not exist, hidden servers, and a second
// account on a directory already listed are left out.
std::vector<Account> AccountsFromPrefs(const Prefs& prefs, const std::string& profileDir);

// The account directories under Mail/ and ImapMail/, named by their directory
// names: ImapMail's, then Mail's, each by name, with "Local Folders" last.
std::vector<Account> AccountsFromDirectories(const std::string& profileDir);

// The profile's accounts: from prefs.js; when it is missing, damaged or names
// no account, the directories that it does not cover are added after them.
std::vector<Account> ReadAccounts(const std::string& profileDir);

// Reads at most `limit` bytes of a small file; nullopt when it cannot be read.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit);

}  // namespace store::thunderbird
