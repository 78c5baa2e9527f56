// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/testing/thunderbird_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/store/testing/maildir_fixture.h"
#include "platform/store/testing/nested_tree.h"
#include "platform/testing/scratch.h"

namespace store::testing {
namespace {

const char kProfilesIni[] =
    "[Install4F96D1932A9F858E]\nDefault=abcd1234.default-release\nLocked=1\n\n"
    "[Profile1]\nName=default\nIsRelative=1\nPath=wxyz5678.default\nDefault=1\n\n"
    "[Profile0]\nName=default-release\nIsRelative=1\nPath=abcd1234.default-release\n\n"
    "[General]\nStartWithLastProfile=1\nVersion=2\n";
const char kInstallsIni[] = "[4F96D1932A9F858E]\nDefault=abcd1234.default-release\nLocked=1\n";
const char kSummary[] = "// <!-- <mdb:mork:z v=\"1.4\"/> -->\n";  // an .msf file

std::string Msg(std::string_view subject) {
  return MaildirFixture::Message("Nora Quill <nora@example.org>", "jane@example.com", subject,
                                 "Text of \"" + std::string(subject) + "\".\r\n");
}

}  // namespace

const char ThunderbirdFixture::kPrefs[] =
    "// Mozilla User Preferences\n\n"
    "user_pref(\"mail.account.account1.server\", \"server1\");\n"
    "user_pref(\"mail.account.account2.server\", \"server2\");\n"
    "user_pref(\"mail.account.account3.server\", \"server3\");\n"
    "user_pref(\"mail.accountmanager.accounts\", \"account1,account2,account3\");\n"
    "user_pref(\"mail.accountmanager.defaultaccount\", \"account2\");\n"
    "user_pref(\"mail.accountmanager.localfoldersserver\", \"server1\");\n"
    "user_pref(\"mail.server.server1.directory\", "
    "\"/home/jane/.thunderbird/abcd1234.default-release/Mail/Local Folders\");\n"
    "user_pref(\"mail.server.server1.directory-rel\", \"[ProfD]Mail/Local Folders\");\n"
    "user_pref(\"mail.server.server1.hostname\", \"Local Folders\");\n"
    "user_pref(\"mail.server.server1.name\", \"Local Folders\");\n"
    "user_pref(\"mail.server.server1.type\", \"none\");\n"
    "user_pref(\"mail.server.server2.directory\", "
    "\"/home/jane/.thunderbird/abcd1234.default-release/ImapMail/imap.example.com\");\n"
    "user_pref(\"mail.server.server2.directory-rel\", \"[ProfD]ImapMail/imap.example.com\");\n"
    "user_pref(\"mail.server.server2.hostname\", \"imap.example.com\");\n"
    "user_pref(\"mail.server.server2.name\", \"jane@example.com\");\n"
    "user_pref(\"mail.server.server2.type\", \"imap\");\n"
    "user_pref(\"mail.server.server2.userName\", \"jane@example.com\");\n"
    "user_pref(\"mail.server.server3.directory-rel\", \"[ProfD]Mail/pop.example.org\");\n"
    "user_pref(\"mail.server.server3.hostname\", \"pop.example.org\");\n"
    "user_pref(\"mail.server.server3.name\", \"Work \\\"B\xC3\xBCro\\\"\");\n"
    "user_pref(\"mail.server.server3.storeContractID\", "
    "\"@mozilla.org/msgstore/maildirstore;1\");\n"
    "user_pref(\"mail.server.server3.type\", \"pop3\");\n"
    "user_pref(\"mail.server.server4.hidden\", true);\n"
    "user_pref(\"mail.server.server4.hostname\", \"smart mailboxes\");\n"
    "user_pref(\"mail.server.server4.name\", \"Smart Mailboxes\");\n"
    "user_pref(\"mail.server.server4.type\", \"none\");\n";

ThunderbirdFixture::ThunderbirdFixture(ProfilesLocation where) {
  profilesDir_ = home_ + (where == ProfilesLocation::kHome ? "/.thunderbird"
                          : where == ProfilesLocation::kSnap
                              ? "/snap/thunderbird/common/.thunderbird"
                              : "/.var/app/org.mozilla.Thunderbird/.thunderbird");
  profile_ = profilesDir_ + "/abcd1234.default-release";
  olderProfile_ = profilesDir_ + "/wxyz5678.default";
  MakeDirs(profile_);
  WriteFile(profilesDir_ + "/profiles.ini", kProfilesIni);
  WriteFile(profilesDir_ + "/installs.ini", kInstallsIni);

  // The profile an older Thunderbird used: only Local Folders.
  MakeDirs(olderProfile_ + "/Mail/Local Folders");
  WriteFile(olderProfile_ + "/Mail/Local Folders/Inbox", Mbox({Msg("From the older profile")}));

  WriteProfileFile("prefs.js", kPrefs);
  WriteProfileFile("times.json", "{\"created\":1704067200000,\"firstUse\":null}\n");
  WriteProfileFile(".parentlock", "");
  symlink("127.0.1.1:+4242", (profile_ + "/lock").c_str());  // a running Thunderbird's lock

  const std::string local = "Mail/Local Folders/", imap = "ImapMail/imap.example.com/";
  WriteProfileFile(local + "Trash",
                   Mbox({Msg("Thrown away"), Msg("Deleted, not compacted")}, {0x0001, 0x0009}));
  WriteProfileFile(local + "Unsent Messages", "");
  WriteProfileFile(local + "Archives", Mbox({Msg("Archived letter")}));
  WriteProfileFile(local + "Archives.sbd/2025", Mbox({Msg("Letter of 2025")}));
  WriteProfileFile(local + "Projects.sbd/Alpha", Mbox({Msg("Alpha kickoff")}));
  std::string inbox = Mbox({Msg("Welcome to IMAP"), Msg("Unread news")}, {0x0001, 0x0000});
  WriteProfileFile(imap + "INBOX", inbox);
  WriteProfileFile(imap + "Sent", Mbox({Msg("Sent reply")}));
  for (const std::string& summary :
       {local + "Trash", local + "Unsent Messages", local + "Archives", local + "Archives.sbd/2025",
        local + "Projects.sbd/Alpha", imap + "INBOX", imap + "Sent", imap + "Drafts"})
    WriteProfileFile(summary + ".msf", kSummary);
  for (const std::string& account : {local, imap})
    WriteProfileFile(account + "msgFilterRules.dat", "version=\"9\"\nlogging=\"no\"\n");
  // A compaction of INBOX caught half way: its new file is being written.
  WriteProfileFile(imap + ".compact-temp/INBOX", inbox.substr(0, inbox.size() / 2));

  const std::string pop = "Mail/pop.example.org/";
  WriteProfileFile(pop + "Inbox/cur/1733580000.M1P4242Q1.laptop.eml",
                   Eml("Per-message hello", 0x1));
  WriteProfileFile(pop + "Inbox/cur/1733580001.M2P4242Q2.laptop.eml",
                   Eml("Per-message unread", 0x0));
  MakeDirs(profile_ + "/" + pop + "Inbox/tmp");
  WriteProfileFile(pop + "Inbox.msf", kSummary);
  WriteProfileFile(pop + "Inbox.sbd/Receipts/cur/1733580002.M3P4242Q3.laptop.eml",
                   Eml("Receipt 42", 0x1));
  MakeDirs(profile_ + "/" + pop + "Inbox.sbd/Receipts/tmp");
  MakeDirs(profile_ + "/" + pop + "Trash/cur");
  MakeDirs(profile_ + "/" + pop + "Trash/tmp");
  WriteProfileFile(pop + "popstate.dat", "# POP3 State File\nk jane pop.example.org\n");
}

void ThunderbirdFixture::WriteProfileFile(const std::string& relative,
                                          std::string_view bytes) const {
  std::string path = profile_ + "/" + relative;
  MakeDirs(path.substr(0, path.rfind('/')));
  WriteFile(path, bytes);
}

std::string ThunderbirdFixture::Mbox(const std::vector<std::string>& messages,
                                     const std::vector<unsigned>& statuses) {
  std::string out;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    char status[64];
    std::snprintf(status, sizeof status, "X-Mozilla-Status: %04x\r\n",
                  i < statuses.size() ? statuses[i] : 0x0001u);
    out += "From - Sun Mar 05 14:07:09 2006\r\n";
    out += status;
    out += "X-Mozilla-Status2: 00000000\r\n";
    out += messages[i];
    out += "\r\n";
  }
  return out;
}

std::string ThunderbirdFixture::Eml(std::string_view subject, unsigned status) {
  char header[64];
  std::snprintf(header, sizeof header, "X-Mozilla-Status: %04x\r\n", status);
  return std::string(header) + "X-Mozilla-Status2: 00000000\r\n" + Msg(subject);
}

}  // namespace store::testing
