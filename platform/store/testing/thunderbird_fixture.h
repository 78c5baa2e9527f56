// SPDX-License-Identifier: LGPL-2.1-or-later
// A home directory holding a Thunderbird profile as Thunderbird writes it, for
// tests: profiles.ini and installs.ini, a default profile beside an older one
// that profiles.ini still marks Default=1, a prefs.js with three accounts,
//   account1  Local Folders     Mail/Local Folders: mbox files with .msf
//             summaries, Archives with Archives.sbd/2025, Projects.sbd/Alpha
//             without a Projects file, Trash holding a deleted message
//   account2  jane@example.com  ImapMail/imap.example.com: the offline copies
//             INBOX and Sent, Drafts.msf without a file, and a .compact-temp/
//             directory of a compaction in progress (the default account)
//   account3  Work "Büro"       Mail/pop.example.org in the per-message store:
//             Inbox/{cur,tmp}, Inbox.sbd/Receipts, an empty Trash
// and the files a running Thunderbird leaves (lock link, .parentlock).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/testing/scratch.h"

namespace store::testing {

// Where the profiles directory sits below the home directory.
enum class ProfilesLocation { kHome, kSnap, kFlatpak };

class ThunderbirdFixture {
 public:
  // In a fresh home directory, removed with the fixture.
  explicit ThunderbirdFixture(ProfilesLocation where = ProfilesLocation::kHome);
  ThunderbirdFixture(const ThunderbirdFixture&) = delete;
  ThunderbirdFixture& operator=(const ThunderbirdFixture&) = delete;

  const std::string& home() const { return home_; }
  const std::string& profilesDir() const { return profilesDir_; }
  const std::string& profile() const { return profile_; }            // installs.ini's default
  const std::string& olderProfile() const { return olderProfile_; }  // profiles.ini's Default=1

  std::string imapAccount() const { return profile_ + "/ImapMail/imap.example.com"; }
  std::string perMessageAccount() const { return profile_ + "/Mail/pop.example.org"; }

  // Writes `bytes` to `relative` below the profile, making its directories.
  void WriteProfileFile(const std::string& relative, std::string_view bytes) const;

  // An mbox file's text as Thunderbird writes it: each message after a
  // "From - <date>" line, with X-Mozilla-Status (`statuses[i]`, hex; 0x1 read,
  // 0x8 deleted) and X-Mozilla-Status2 headers.
  static std::string Mbox(const std::vector<std::string>& messages,
                          const std::vector<unsigned>& statuses = {});
  // A message file of the per-message store.
  static std::string Eml(std::string_view subject, unsigned status);

  static const char kPrefs[];  // the prefs.js written

 private:
  mqtest::TempDir dir_;
  std::string home_ = dir_.path(), profilesDir_, profile_, olderProfile_;
};

}  // namespace store::testing
