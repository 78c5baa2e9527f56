// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/testing/home_fixture.h"

#include <sqlite3.h>

#include <cstdio>
#include <vector>

#include "platform/store/testing/evolution_fixture.h"
#include "platform/store/testing/nested_tree.h"

namespace store::testing {

namespace {

std::string Mail(const std::string& subject, int n) {
  return "From: Ann <ann@example.org>\nTo: bob@example.org\nSubject: " + subject +
         "\nDate: Sat, 01 Jan 2000 00:00:" + (n < 10 ? "0" : "") + std::to_string(n % 60) +
         " +0000\nMessage-ID: <" + std::to_string(n) + "." + std::to_string(subject.size()) +
         "@example.org>\n\nHello.\n";
}

void MaildirFolder(const std::string& dir, const std::string& label, int count) {
  AddNestedFolder(dir, "");
  for (int i = 0; i < count; ++i)
    WriteFile(
        dir + "/cur/" + std::to_string(1000000000 + i) + ".M1P1.host:2," + (i == 0 ? "S" : ""),
        Mail(label + " " + std::to_string(i + 1), i));
}

std::string Mbox(const std::string& label, int count) {
  std::vector<std::string> texts;
  for (int i = 0; i < count; ++i)
    texts.push_back(std::string(i == 0 ? "Status: RO\n" : "") +
                    Mail(label + " " + std::to_string(i + 1), i));
  return MboxText(texts);
}

void MhFolder(const std::string& dir, const std::string& label, int count) {
  MakeDirs(dir);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> marks;
  for (int i = 0; i < count; ++i) {
    WriteFile(dir + "/" + std::to_string(i + 1), Mail(label + " " + std::to_string(i + 1), i));
    marks.emplace_back(i + 1, i == 0 ? 0 : 3);
  }
  WriteFile(dir + "/.claws_mark", ClawsMarks(marks));
}

}  // namespace

std::string MboxText(const std::vector<std::string>& texts) {
  std::string out;
  for (std::string text : texts) {
    for (std::size_t at = 0; (at = text.find("\nFrom ", at)) != std::string::npos; at += 2)
      text.insert(at + 1, ">");
    out += "From ann@example.org Sat Jan  1 00:00:00 2000\n" + text + "\n";
  }
  return out;
}

std::string ClawsMarks(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries) {
  std::string s = Le32(2);
  for (auto [n, flags] : entries) s += Le32(n) + Le32(flags);
  return s;
}

std::string GearyMessageSql(int id, int folder, int ordering, const std::string& text,
                            const char* flags, bool removed) {
  const std::size_t cut = text.find("\n\n") + 1;
  char* rows = sqlite3_mprintf(
      "INSERT INTO MessageTable VALUES (%d, %Q, %Q, %Q);"
      "INSERT INTO MessageLocationTable(message_id, folder_id, ordering, remove_marker)"
      " VALUES (%d, %d, %d, %d);",
      id, text.substr(0, cut).c_str(), text.substr(cut).c_str(), flags, id, folder, ordering,
      removed ? 1 : 0);
  std::string out = rows;
  sqlite3_free(rows);
  return out;
}

std::string WriteHomeStores(const std::string& home, const HomeStores& which, int perFolder) {
  if (which.maildir) {
    MaildirFolder(home + "/Maildir", "Maildir Inbox", perFolder);
    MaildirFolder(home + "/Maildir/.Work", "Maildir Work", perFolder);
    WriteFile(home + "/Maildir/.Work/maildirfolder", "");
  }
  if (which.thunderbird) {
    std::string tb = home + "/.thunderbird";
    std::string profile = tb + "/abcd.default-release";
    MakeDirs(profile + "/Mail/Local Folders");
    WriteFile(tb + "/profiles.ini",
              "[Profile0]\nName=default-release\nIsRelative=1\nPath=abcd.default-release\n"
              "Default=1\n");
    WriteFile(profile + "/prefs.js", kLocalFoldersPrefs);
    WriteFile(profile + "/Mail/Local Folders/Inbox", Mbox("Thunderbird Inbox", perFolder));
    WriteFile(profile + "/Mail/Local Folders/Inbox.msf", "");
  }
  if (which.evolution) {
    std::string local = home + "/.local/share/evolution/mail/local";
    MaildirFolder(local, "Evolution Inbox", perFolder);
    MaildirFolder(local + "/.Projects_2E2025", "Evolution Projects", perFolder);
    WriteFile(local + "/..maildir++", "");
    WriteFile(local + "/folders.db", "");
  }
  if (which.evolutionImap) {
    std::string account = home + "/.cache/evolution/mail/1a2b3c";
    MakeDirs(home + "/.config/evolution/sources");
    WriteFile(home + "/.config/evolution/sources/1a2b3c.source",
              "[Data Source]\nDisplayName=jane@example.com\nEnabled=true\n");
    std::vector<EvolutionMessage> states;
    for (int i = 0; i < perFolder; ++i) {
      char bucket[8];
      std::snprintf(bucket, sizeof bucket, "%02x", (i * 37) & 0xFF);
      MakeDirs(account + "/folders/INBOX/cur/" + bucket);
      WriteFile(account + "/folders/INBOX/cur/" + bucket + "/" + std::to_string(i + 1),
                Mail("Evolution IMAP " + std::to_string(i + 1), i));
      states.push_back({std::to_string(i + 1), i == 0});
    }
    WriteEvolutionFoldersDb(account + "/folders.db", EvolutionSchema::kIdTables,
                            {{"INBOX", states}});
  }
  if (which.kmail) {
    std::string local = home + "/.local/share/local-mail";
    MaildirFolder(local + "/inbox", "KMail Inbox", perFolder);
    MaildirFolder(local + "/lists", "KMail lists", perFolder);
    MaildirFolder(local + "/.lists.directory/dev", "KMail dev", perFolder);
  }
  if (which.claws) {
    MakeDirs(home + "/.claws-mail");
    WriteFile(home + "/.claws-mail/folderlist.xml",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<folderlist>\n"
              "<folder type=\"mh\" name=\"Mailbox\" path=\"Mail\" sort=\"0\">\n"
              "<folderitem type=\"inbox\" name=\"inbox\" path=\"inbox\"/>\n"
              "<folderitem type=\"normal\" name=\"archive\" path=\"archive\"/>\n"
              "</folder>\n</folderlist>\n");
    MhFolder(home + "/Mail/inbox", "Claws Inbox", perFolder);
    MhFolder(home + "/Mail/archive", "Claws archive", perFolder);
    MhFolder(home + "/.claws-mail/imapcache/imap.example.com/jane/INBOX", "Claws IMAP", perFolder);
  }
  if (which.geary) {
    std::string account = home + "/.local/share/geary/jane@example.com";
    MakeDirs(account);
    sqlite3* db = nullptr;
    sqlite3_open((account + "/geary.db").c_str(), &db);
    std::string sql = std::string("PRAGMA journal_mode=WAL;") + kGearyTables +
                      "INSERT INTO FolderTable VALUES (1, 'INBOX', NULL);BEGIN;";
    for (int i = 0; i < perFolder; ++i)
      sql += GearyMessageSql(i + 1, 1, i + 1, Mail("Geary Inbox " + std::to_string(i + 1), i),
                             i == 0 ? "\\Seen" : "");
    sqlite3_exec(db, (sql + "COMMIT;").c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  std::string spool = home + "/spool/jane";
  if (which.spool) {
    MakeDirs(home + "/spool");
    WriteFile(spool, Mbox("Spool Inbox", perFolder));
  }
  return spool;
}

}  // namespace store::testing
