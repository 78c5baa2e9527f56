// SPDX-License-Identifier: LGPL-2.1-or-later
// The pieces that need no store: reading the arguments and the export
// options' values, finding a folder by what the user typed, which folders a
// tree takes, which parts count as embedded, the record file, the report's
// quoting, the progress line, and the names the exports give files.
#include <gtest/gtest.h>

#include <vector>

#include "extractor/cli_options.h"
#include "extractor/csv_report.h"
#include "extractor/export_filters.h"
#include "extractor/export_record.h"
#include "extractor/folder_selection.h"
#include "extractor/store_folders.h"
#include "extractor/terminal_progress.h"
#include "extractor/unique_names.h"

namespace mailsift {
namespace {

CliParse Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "mailsift");
  return ParseCliArguments(static_cast<int>(args.size()), args.data());
}

// Options in any order, values inline or next, the export options' values
// read and said back as given.
TEST(CliArguments, ReadOptionsInAnyOrderWithValuesInlineOrNext) {
  setenv("TZ", "UTC", 1);
  tzset();
  CliParse p =
      Parse({"--first=20", "attachments", "-v", "--folder", "Work/Projects", "--since",
             "2023-12-31", "--until=2024-01-01T12:30+01:00", "--min-size", "200K", "--max-size",
             "5M", "--type", "PDF,.key,images", "--recursive", "--skip-embedded", "out"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.request.command, CliCommand::kAttachments);
  EXPECT_EQ(p.request.first, 20);
  EXPECT_EQ(p.request.folder, "Work/Projects");
  EXPECT_EQ(p.request.target, "out");
  EXPECT_TRUE(p.request.verbose);
  const ExportOptions& o = p.request.options;
  EXPECT_EQ(o.since, 1703980800);
  EXPECT_EQ(o.until, 1704108600);
  EXPECT_EQ(o.minSize, 200u << 10);
  EXPECT_EQ(o.maxSize, 5u << 20);
  EXPECT_TRUE(o.types.extensions.count("pdf") && o.types.extensions.count("key") &&
              o.types.extensions.count("jpeg") && o.types.mediaTypes.count("image/*"));
  EXPECT_EQ(o.scope, FolderScope::kSubtree);
  EXPECT_EQ(o.Described(),
            "--recursive --since 2023-12-31 --until 2024-01-01T12:30+01:00 --type PDF,.key,images "
            "--min-size 200K --max-size 5M --skip-embedded");
  EXPECT_FALSE(Parse({"eml", "out"}).request.options.AnyOn());

  // "--" ends the options: a target may start with '-'.
  p = Parse({"return-addresses", "--folder-index", "0", "--", "-list.txt"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.request.folderIndex, 0);
  EXPECT_EQ(p.request.target, "-list.txt");

  // --help wins over everything else on the line, a mistake included.
  EXPECT_EQ(Parse({"frobnicate", "--bogus", "--help"}).request.command, CliCommand::kHelp);
  // Every option of the table is in --help.
  const std::string help = CliHelpText();
  for (const OptionSpec& spec : ExportOptionTable())
    EXPECT_NE(help.find(std::string("  ") + spec.flag), std::string::npos) << spec.flag;
}

// Each mistake is said in one line, beginning with what is wrong.
TEST(CliArguments, WrongUsageIsSaidInOneLine) {
  struct Case {
    std::vector<const char*> args;
    const char* error;  // how the line begins
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
      {{"attachments", "--since", "2024-02-30", "d"}, "option '--since': not a date"},
      {{"attachments", "--max-size", "-1", "d"}, "option '--max-size': not a size"},
      {{"attachments", "--type", "documnets", "d"},
       "option '--type': unknown type category 'documnets' (did you mean documents?"},
      {{"attachments", "--type", "p/df", "d"}, "option '--type': not a file type"},
      {{"attachments", "--type", ",", "d"}, "option '--type': needs file types"},
      {{"attachments", "--from=", "d"}, "option '--from': needs a text"},
      {{"attachments", "--report", "d"}, "attachments needs a target"},
      // Which commands take an option is the option table's; one check of it.
      {{"contacts", "--new-only", "f"},
       "--new-only is an option of attachments, eml and return-addresses"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const char* a : c.args) line += std::string(a) + " ";
    const std::string error = Parse(c.args).error;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << line << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << line;
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

TEST(FolderChoice, TreesLeaveJunkOutAndNameDirectoriesSafely) {
  // Names and depths; the directories come from the names.
  const std::vector<StoreFolder> folders = {
      {"Inbox", "", 0}, {"Work", "", 0},         {"..", "", 1},  {"Junk", "", 1},
      {"Old", "", 2},   {"a/b", "", 1},          {"a_b", "", 1}, {"Trash", "", 0},
      {"Sent", "", 0},  {"Deleted Items", "", 0}};
  auto directories = [&](int start, ExportOptions o) {
    std::vector<std::string> dirs;
    for (const ChosenFolder& c : ChooseFolders(folders, start, o))
      dirs.push_back(std::to_string(c.position) + ":" + c.directory);
    return dirs;
  };
  ExportOptions all;
  all.scope = FolderScope::kAll;
  EXPECT_EQ(directories(0, all),
            (std::vector<std::string>{"0:Inbox", "1:Work", "2:Work/_..", "5:Work/a_b",
                                      "6:Work/a_b (2)", "8:Sent"}));
  // A tree started at a junk folder keeps it: the user chose it. (Junk
  // included and a flat tree are the options' exports' tests.)
  ExportOptions subtree;
  subtree.scope = FolderScope::kSubtree;
  EXPECT_EQ(directories(3, subtree), (std::vector<std::string>{"3:Junk", "4:Junk/Old"}));
  EXPECT_EQ(directories(3, ExportOptions{}), (std::vector<std::string>{"3:"}));
  EXPECT_EQ(SafeDirectoryName(std::string(300, 'x')).size(), 200u);
  EXPECT_EQ(SafeDirectoryName(""), "_");
}

// Which parts count as embedded images, over the shapes mail programs send.
TEST(EmbeddedImages, AreImagesTheTextShowsAndNothingElse) {
  const std::set<std::string> refs =
      CidReferences("<img src=\"cid:image001.png@01DA\"><img src='CID:Logo%40x'>url(cid:bg)");
  EXPECT_EQ(refs, (std::set<std::string>{"image001.png@01da", "logo@x", "bg"}));
  const std::set<std::string> none;
  const struct {
    PartFacts part;
    const std::set<std::string>& references;
    bool embedded;
  } cases[] = {
      {{"image001.png", "image/png", "", "image001.png@01DA", "multipart/related"}, refs, true},
      {{"logo.gif", "image/gif", "", "LOGO@X", "multipart/mixed"}, refs, true},
      {{"photo.jpg", "image/jpeg", "inline", "", "multipart/related"}, none, true},
      {{"x.png", "image/png", "", "x@y", "multipart/related"}, none, true},
      // The HTML references others: an unreferenced image is an attachment.
      {{"x.png", "image/png", "", "x@y", "multipart/related"}, refs, false},
      {{"image001.png", "image/png", "attachment", "image001.png@01DA", "multipart/related"},
       refs,
       false},
      {{"report.pdf", "application/pdf", "inline", "bg", "multipart/related"}, refs, false},
      {{"photo.jpg", "image/jpeg", "inline", "", "multipart/mixed"}, none, false},
      {{"scan.png", "application/octet-stream", "", "bg", "multipart/mixed"}, refs, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsEmbeddedImage(c.part, c.references), c.embedded) << c.part.name;
}

// What is written is read back by the --new-only export's test; what is not
// a record is refused with why.
TEST(ExportRecordFile, RefusesDamagedOrForeignFiles) {
  std::string problem;
  const std::pair<const char*, const char*> damaged[] = {
      {"", "damaged: it is empty"},
      {"PK\x03\x04 a zip", "damaged: its last line is cut short"},
      {"my notes\n", "not a record file of Mailsift"},
      {"mailsift-exported 1\nm\t0123\n", "damaged at line 2"},
      {"mailsift-exported 1\nf\t12\tabc\tx\n", "damaged at line 2"},
      {"mailsift-exported 1\nf\t1x\t"
       "0000000000000000000000000000000000000000000000000000000000000000\tx\n",
       "damaged at line 2"},
      {"mailsift-exported 1\nq\n", "damaged at line 2"},
  };
  for (const auto& [text, why] : damaged) {
    ExportRecord r;
    EXPECT_FALSE(r.Parse(text, &problem)) << text;
    EXPECT_EQ(problem, why) << text;
  }
}

// The key leaves out the headers mail programs rewrite, and nothing else.
TEST(ExportRecordFile, KeysIgnoreStatusHeadersOnly) {
  const std::string body = "\r\nHello\r\n";
  const std::string plain = "From: a\r\nSubject: s\r\n" + body;
  const std::string key = MessageKey("<m@x>", plain);
  EXPECT_EQ(MessageKey("<m@x>",
                       "From: a\r\nStatus: RO\r\nX-Mozilla-Status: 0001\r\n"
                       "X-Keywords: $label1\r\n  $label2\r\nSubject: s\r\n" +
                           body),
            key);
  EXPECT_NE(MessageKey("<m@x>", "From: a\r\nSubject: t\r\n" + body), key);
  EXPECT_NE(MessageKey("<m@x>", plain + "."), key);
  EXPECT_NE(MessageKey("<n@x>", plain), key);
  // A status header's name in the body is body text.
  EXPECT_NE(MessageKey("<m@x>", plain + "Status: RO\r\n"),
            MessageKey("<m@x>", plain + "Status: O\r\n"));
}

TEST(ReportCsv, QuotesWhatRfc4180Quotes) {
  EXPECT_EQ(CsvReport::Field("plain text"), "plain text");
  EXPECT_EQ(CsvReport::Field("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvReport::Field("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvReport::Field("two\r\nlines"), "\"two\r\nlines\"");
}

}  // namespace
}  // namespace mailsift
