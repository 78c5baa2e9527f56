// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/thunderbird/profiles.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/store/testing/nested_tree.h"
#include "platform/store/testing/thunderbird_fixture.h"

namespace store::thunderbird {
namespace {

using testing::ProfilesLocation;
using testing::ThunderbirdFixture;

std::vector<std::pair<std::string, std::string>> NamesAndDirs(const std::vector<Account>& accounts,
                                                              const std::string& profile) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& a : accounts)
    out.emplace_back(a.name, a.directory.substr(0, profile.size()) == profile
                                 ? a.directory.substr(profile.size() + 1)
                                 : a.directory);
  return out;
}

TEST(PrefsJs, ReadsValuesAsThunderbirdWritesThem) {
  struct Case {
    const char* text;
    const char* name;
    const char* value;  // nullptr: not read
    bool damaged;
  } cases[] = {
      {"user_pref(\"a.b\", \"text\");", "a.b", "text", false},
      {"user_pref(\"a.b\", 42);\n", "a.b", "42", false},
      {"pref(\"a.b\", false, locked);", "a.b", "false", false},
      {"user_pref('a.b', 'single');", "a.b", "single", false},
      {"user_pref(\"a.b\", \"q\\\"uote\\\\back\");", "a.b", "q\"uote\\back", false},
      {"user_pref(\"a.b\", \"\\u00fc\\x41\\n\");", "a.b",
       "\xC3\xBC"
       "A\n",
       false},
      {"user_pref(\"a.b\", \"\\ud83d\\ude00\");", "a.b", "\xF0\x9F\x98\x80", false},
      {"user_pref(\"a.b\", \"\\ud83d\");", "a.b", "\xEF\xBF\xBD", false},  // a lone surrogate
      {"/* comment\n user_pref(\"x\", 1); */ user_pref(\"a.b\", \"c\");", "a.b", "c", false},
      {"# hash comment\n  user_pref ( \"a.b\" , \"c\" ) ;", "a.b", "c", false},
      // Damage: the lines that read are kept.
      {"garbage here\nuser_pref(\"a.b\", \"kept\");", "a.b", "kept", true},
      {"user_pref(\"c.d\", \"trunc", "c.d", nullptr, true},
      {"user_pref(\"a.b\", \"x\")\nuser_pref(\"c\", 1);", "c", "1", true},  // missing ';'
      {"user_pref(\"a.b\", 99999999999);", "a.b", nullptr, true},
      {"user_pref(\"a.b\", \"x\"); /* never closed", "a.b", "x", true},
      {"\x01\xff\xfe", "a.b", nullptr, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Prefs prefs = ParsePrefs(c.text);
    const std::string* value = prefs.Get(c.name);
    if (c.value) {
      ASSERT_NE(value, nullptr);
      EXPECT_EQ(*value, c.value);
    } else {
      EXPECT_EQ(value, nullptr);
    }
    EXPECT_EQ(prefs.damaged, c.damaged);
  }
}

TEST(ThunderbirdProfile, DefaultProfileFromEachLocationInOrder) {
  // (~/.thunderbird first: the store's location test.)
  ThunderbirdFixture snap(ProfilesLocation::kSnap);
  // A flatpak profile in the same home counts only after the snap's.
  ThunderbirdFixture flatpak(ProfilesLocation::kFlatpak);
  const std::string flatpakDir = snap.home() + "/.var/app/org.mozilla.Thunderbird";
  testing::MakeDirs(flatpakDir);
  ASSERT_EQ(symlink(flatpak.profilesDir().c_str(), (flatpakDir + "/.thunderbird").c_str()), 0);
  EXPECT_EQ(FindDefaultProfile(snap.home()), snap.profile());
  // Without a usable default there, the next location is taken.
  testing::WriteFile(snap.profilesDir() + "/profiles.ini", "[General]\nVersion=2\n");
  testing::WriteFile(snap.profilesDir() + "/installs.ini", "");
  EXPECT_EQ(FindDefaultProfile(snap.home()), flatpakDir + "/.thunderbird/abcd1234.default-release");
}

TEST(ThunderbirdProfile, WhichProfileIsTheDefault) {
  struct Case {
    const char* installs;
    const char* profiles;
    std::vector<std::string> candidates;
  } cases[] = {
      // installs.ini wins over profiles.ini's Default=1.
      {"[4F96]\nDefault=new.release\n",
       "[Profile0]\nPath=old.default\nDefault=1\n[Profile1]\nPath=new."
       "release\n",
       {"new.release", "old.default"}},
      // Without installs.ini: profiles.ini's [Install…] section, then
      // Default=1.
      {"",
       "[Profile0]\nPath=a\n[Profile1]\nPath=b\nDefault=1\n[InstallAB]"
       "\nDefault=c\n",
       {"c", "b", "a"}},
      // Nothing marked: the profiles in file order. A byte-order mark, CR LF,
      // spaces round values and lines that are no entries, as editors leave them.
      {"",
       "\xEF\xBB\xBF[Profile0]\r\nPath = a b \r\n; comment\n# c\nbroken line\n"
       "[Profile1]\nPath=/abs/b\nIsRelative=0\n[Bad\nPath=after bad\n",
       {"a b", "/abs/b"}},
      {"", "[General]\nVersion=2\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.profiles);
    EXPECT_EQ(DefaultProfileCandidates(ParseIni(c.installs), ParseIni(c.profiles)), c.candidates);
  }

  // A named profile whose directory is gone gives way to the next candidate.
  ThunderbirdFixture fx;
  testing::WriteFile(fx.profilesDir() + "/installs.ini", "[4F96]\nDefault=gone.default-release\n");
  testing::WriteFile(fx.profilesDir() + "/profiles.ini",
                     "[Profile0]\nPath=" + fx.olderProfile() + "\nIsRelative=0\nDefault=1\n");
  EXPECT_EQ(DefaultProfileIn(fx.profilesDir()), fx.olderProfile());
}

TEST(ThunderbirdProfile, AccountsWhenPrefsAreMissingOrDamaged) {
  using Rows = std::vector<std::pair<std::string, std::string>>;
  const Rows byDirectory = {{"imap.example.com", "ImapMail/imap.example.com"},
                            {"pop.example.org", "Mail/pop.example.org"},
                            {"Local Folders", "Mail/Local Folders"}};
  std::string prefs = ThunderbirdFixture::kPrefs;
  struct Case {
    const char* what;
    std::optional<std::string> prefs;
    Rows expected;
  } cases[] = {
      {"missing", std::nullopt, byDirectory},
      {"binary garbage", std::string("\0\x01\xff{{{", 7), byDirectory},
      // Cut in the middle of the second server's prefs: what reads comes first,
      // the directories it does not cover after it.
      {"truncated",
       prefs.substr(0, prefs.find("server2.name") + 20),
       {{"imap.example.com", "ImapMail/imap.example.com"},
        {"Local Folders", "Mail/Local Folders"},
        {"pop.example.org", "Mail/pop.example.org"}}},
      // Stale absolute paths of a profile moved from another machine, no
      // relative ones: the directories are found below this profile.
      {"moved profile",
       "user_pref(\"mail.accountmanager.accounts\", \"account1\");\n"
       "user_pref(\"mail.account.account1.server\", \"server1\");\n"
       "user_pref(\"mail.server.server1.directory\", "
       "\"/elsewhere/x/ImapMail/imap.example.com\");\n"
       "user_pref(\"mail.server.server1.name\", \"Moved\");\n",
       {{"Moved", "ImapMail/imap.example.com"}}},
      // No directory prefs at all: Thunderbird's own places by type and host.
      {"no directories",
       "user_pref(\"mail.account.account2.server\", \"server2\");\n"
       "user_pref(\"mail.account.account1.server\", \"server1\");\n"
       "user_pref(\"mail.server.server1.type\", \"none\");\n"
       "user_pref(\"mail.server.server2.type\", \"imap\");\n"
       "user_pref(\"mail.server.server2.hostname\", \"imap.example.com\");\n",
       {{"Local Folders", "Mail/Local Folders"},
        {"imap.example.com", "ImapMail/imap.example.com"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ThunderbirdFixture fx;
    if (c.prefs)
      fx.WriteProfileFile("prefs.js", *c.prefs);
    else
      unlink((fx.profile() + "/prefs.js").c_str());
    EXPECT_EQ(NamesAndDirs(ReadAccounts(fx.profile()), fx.profile()), c.expected);
  }
}

}  // namespace
}  // namespace store::thunderbird
