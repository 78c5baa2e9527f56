// SPDX-License-Identifier: LGPL-2.1-or-later
// The pieces that need no store: reading the arguments, finding a folder by
// what the user typed, the progress line, and the names the exports give
// files. (The folder listing is the command line's test's.)
#include <gtest/gtest.h>

#include <vector>

#include "extractor/cli_options.h"
#include "extractor/store_folders.h"
#include "extractor/terminal_progress.h"
#include "extractor/unique_names.h"

namespace mailsift {
namespace {

CliParse Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "mailsift");
  return ParseCliArguments(static_cast<int>(args.size()), args.data());
}

TEST(CliArguments, ReadOptionsInAnyOrderWithValuesInlineOrNext) {
  CliParse p = Parse({"--first=20", "eml", "-v", "--folder", "Work/Projects", "out"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.request.command, CliCommand::kEml);
  EXPECT_EQ(p.request.first, 20);
  EXPECT_EQ(p.request.folder, "Work/Projects");
  EXPECT_EQ(p.request.target, "out");
  EXPECT_TRUE(p.request.verbose);

  // "--" ends the options: a target may start with '-'.
  p = Parse({"return-addresses", "--folder-index", "0", "--", "-list.txt"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.request.folderIndex, 0);
  EXPECT_EQ(p.request.target, "-list.txt");

  // --help wins over everything else on the line, a mistake included.
  EXPECT_EQ(Parse({"frobnicate", "--bogus", "--help"}).request.command, CliCommand::kHelp);
}

TEST(CliArguments, WrongUsageIsSaidInOneLine) {
  struct Case {
    std::vector<const char*> args;
    const char* error;
  } cases[] = {
      {{}, "no command given (attachments, eml, return-addresses, contacts or folders)"},
      {{"frobnicate", "x"},
       "unknown command 'frobnicate' (attachments, eml, return-addresses, contacts or folders)"},
      {{"attachments"}, "attachments needs a target: the directory to write into"},
      {{"eml", "a", "b"}, "unexpected argument 'b'"},
      {{"eml", "--bogus", "d"}, "unknown option '--bogus'"},
      {{"eml", "d", "--folder"}, "option '--folder' needs a value"},
      {{"eml", "--quiet=yes", "d"}, "option '--quiet' takes no value"},
      {{"eml", "--first", "0", "d"},
       "option '--first' needs a number of messages (1 or more), not '0'"},
      {{"eml", "--first", "12x", "d"},
       "option '--first' needs a number of messages (1 or more), not '12x'"},
      {{"eml", "--folder-index", "99999999999999999999", "d"},
       "option '--folder-index' needs a position (0, 1, ...), not '99999999999999999999'"},
      {{"eml", "--folder", "A", "--folder-index", "1", "d"},
       "give --folder or --folder-index, not both"},
      {{"contacts", "--first", "3", "f"}, "contacts takes no --folder, --folder-index or --first"},
      {{"eml", "--paths", "d"}, "--paths is an option of folders"},
      {{"eml", "-q", "-v", "d"}, "give --quiet or --verbose, not both"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const char* a : c.args) line += std::string(a) + " ";
    EXPECT_EQ(Parse(c.args).error, c.error) << line;
  }
}

std::vector<StoreFolder> Tree() {
  // Inbox, Work > Projects, Home > Projects, "Old/Mail" (a name holding '/'), Old > Mail.
  return {{"Inbox", "Inbox", 0, 12},
          {"Work", "Work", 0, 4},
          {"Projects", "Work/Projects", 1, 2},
          {"Home", "Home", 0, 0},
          {"Projects", "Home/Projects", 1, 1234},
          {"Old/Mail", "Old/Mail", 0, 1},
          {"Old", "Old", 0, 0},
          {"Mail", "Old/Mail", 1, 0}};
}

TEST(FolderLookup, PathsNamesAmbiguityAndCloseMatches) {
  const std::vector<StoreFolder> tree = Tree();
  struct Case {
    const char* typed;
    int position;
    std::vector<int> candidates;
    std::vector<int> suggestions;
  } cases[] = {
      {"Inbox", 0, {}, {}},         {"Work/Projects", 2, {}, {}},
      {"Home", 3, {}, {}},          {"Projects", -1, {2, 4}, {}},  // a name two folders share
      {"Old/Mail", -1, {5, 7}, {}},                                // a path two folders have
      {"Mail", 7, {}, {}},          {"inbox", -1, {}, {0}},  // exact, so not a match; but suggested
      {"Projekts", -1, {}, {2, 4}}, {"work/proj", -1, {}, {1, 2}},  // "work" is in it
      {"Work/", -1, {}, {1, 2}},    {"Nothing like it", -1, {}, {}},
  };
  for (const Case& c : cases) {
    const FolderLookup found = FindFolder(tree, c.typed);
    EXPECT_EQ(found.position, c.position) << c.typed;
    EXPECT_EQ(found.candidates, c.candidates) << c.typed;
    EXPECT_EQ(found.suggestions, c.suggestions) << c.typed;
  }
}

// A folder lacking messages Thunderbird lists says how many; one that holds
// them all, or whose summary tells nothing, says nothing more.
TEST(FolderListing, SaysWhatIsNotOnThisComputer) {
  std::vector<StoreFolder> tree = {{"Inbox", "Inbox", 0, 2}, {"Sent", "Sent", 0, 12}};
  tree[0].listed = 5;
  EXPECT_EQ(FolderListing(tree),
            "0   2  Inbox  (Thunderbird lists 5: 3 not on this computer)\n1  12  Sent\n");
  tree[0].listed = 2;
  tree[1].listed = -1;
  EXPECT_EQ(FolderListing(tree), "0   2  Inbox\n1  12  Sent\n");
}

TEST(TerminalProgressLine, CountsRateAndTimeLeft) {
  struct Case {
    long done, total;
    double seconds;
    const char* line;
  } cases[] = {
      {0, 2000, 3.0, "0 of 2000 messages"},  // no rate yet: nothing divides by it
      {1234, 2000, 14.5, "1234 of 2000 messages, 85/s, 0:09 left"},
      {3, 7200, 3.0, "3 of 7200 messages, 1.0/s, 1:59:57 left"},
      {2000, 2000, 10.0, "2000 of 2000 messages, 200/s, 0:00 left"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ProgressLine(c.done, c.total, "messages", c.seconds), c.line);
}

TEST(UniqueNames, LaterFilesOfANameGetANumberBeforeTheExtension) {
  UniqueNames names;
  auto take = [&](const std::string& wanted) {
    std::string name = names.Propose(wanted);
    names.Take(name);
    return name;
  };
  EXPECT_EQ(take("invoice.pdf"), "invoice.pdf");
  EXPECT_EQ(take("invoice.pdf"), "invoice (2).pdf");
  EXPECT_EQ(take("invoice (3).pdf"), "invoice (3).pdf");
  EXPECT_EQ(take("invoice.pdf"), "invoice (4).pdf");
  EXPECT_EQ(take(".profile"), ".profile");
  EXPECT_EQ(take(".profile"), ".profile (2)");
  EXPECT_EQ(names.Propose("", ".eml"), ".eml");
  names.Take(".eml");
  EXPECT_EQ(names.Propose("", ".eml"), " (2).eml");
  EXPECT_EQ(take("README"), "README");
  EXPECT_EQ(take("README"), "README (2)");
  EXPECT_EQ(take("a.tar.gz"), "a.tar.gz");
  EXPECT_EQ(take("a.tar.gz"), "a.tar (2).gz");
  // A proposal not taken (its save failed) leaves the name free.
  EXPECT_EQ(names.Propose("x.txt"), "x.txt");
  EXPECT_EQ(names.Propose("x.txt"), "x.txt");
}

}  // namespace
}  // namespace mailsift
