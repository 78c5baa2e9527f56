#include "platform/store/store_location.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/store/testing/nested_tree.h"
#include "platform/store/testing/thunderbird_fixture.h"
#include "tests/support/scratch.h"

namespace store {
namespace {

TEST(StoreLocation, WhereTheMailIs) {
  testing::ThunderbirdFixture fx;
  testing::ThunderbirdFixture empty(testing::ProfilesLocation::kSnap);  // a home without mail
  testing::WriteFile(empty.profilesDir() + "/profiles.ini", "");
  testing::WriteFile(empty.profilesDir() + "/installs.ini", "");
  std::string maildirHome = empty.home() + "/other";
  testing::AddNestedFolder(maildirHome + "/Maildir", "");

  struct Case {
    const char* what;
    std::string home;
    std::optional<std::string> maildirVariable;
    std::string root;
    bool profile, found;
  } cases[] = {
      {"no Maildir: the default profile", fx.home(), std::nullopt, fx.profile(), true, true},
      {"MAILDIR names a profile", empty.home(), fx.olderProfile(), fx.olderProfile(), true, true},
      {"MAILDIR names the profiles directory", empty.home(), fx.profilesDir(), fx.profile(), true,
       true},
      {"an empty MAILDIR is unset", fx.home(), "", fx.profile(), true, true},
      {"MAILDIR names a Maildir", fx.home(), maildirHome + "/Maildir", maildirHome + "/Maildir",
       false, true},
      {"~/Maildir comes before a profile", maildirHome, std::nullopt, maildirHome + "/Maildir",
       false, true},
      {"nothing at all", empty.home(), std::nullopt, empty.home() + "/Maildir", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.home == maildirHome) {  // that home also holds a profile, below the Maildir
      testing::MakeDirs(maildirHome + "/.thunderbird");
      testing::WriteFile(maildirHome + "/.thunderbird/profiles.ini",
                         "[Profile0]\nPath=" + fx.profile() + "\n");
    }
    mqtest::ScopedEnv home("HOME", c.home),
        maildir("MAILDIR", c.maildirVariable ? c.maildirVariable->c_str() : nullptr);
    StoreLocation where = LocateStore();
    EXPECT_EQ(where.root, c.root);
    EXPECT_EQ(where.profile, c.profile);
    EXPECT_EQ(where.found, c.found);
  }
  struct Line {
    StoreLocation where;
    std::string line;
  } lines[] = {
      {{fx.profile(), true, true},
       "Mail store: the Thunderbird profile " + fx.profile() +
           " (read only: nothing is written to it)"},
      {{maildirHome + "/Maildir", false, true},
       "Mail store: the Maildir " + maildirHome + "/Maildir"},
      {{fx.localFolders() + "/Archives", false, true},
       "Mail store: the mbox file " + fx.localFolders() + "/Archives" +
           " (read only: nothing is written to it)"},
      {{fx.localFolders(), false, true},
       "Mail store: the mbox folders in " + fx.localFolders() +
           " (read only: nothing is written to them)"},
      {{fx.home() + "/none", false, false}, "No mail store at " + fx.home() + "/none"},
  };
  for (const auto& l : lines) EXPECT_EQ(DescribeStore(l.where), l.line);
}

}  // namespace
}  // namespace store
