// SPDX-License-Identifier: LGPL-2.1-or-later
// The export report: a CSV file (RFC 4180: CR LF line ends, fields with a
// comma, quote or line break quoted, quotes doubled; UTF-8) with a header
// row and one row for each attachment or message an export considered (and
// for a partial message without attachments).
#pragma once

#include <string>
#include <vector>

#include "platform/shell/shell.h"

namespace mailsift {

struct ReportRow {
  std::string outcome;  // written, duplicate, left out, failed
  std::string detail;   // the file it duplicates; why it was left out or failed
  std::string path;     // written, relative to the target
  std::string folder, date, sender, subject, messageId;
  std::string name;  // the attachment's own name, or the message's file name
  std::string size;  // bytes
  std::string sha256;
  std::string container;  // what the file was packed in: "winmail.dat", a message's subject
  std::string partial;    // "yes" when only part of the message is on this computer
};

class CsvReport {
 public:
  // Creates or replaces the report at `path` and writes its header row;
  // throws FileError when it cannot.
  void Open(const std::string& path);
  bool IsOpen() const { return writer_.is_open(); }
  void Add(const ReportRow& row);
  // Closes the report; throws FileError for a write that failed.
  void Close();

  static std::string Field(const std::string& text);

 private:
  void Line(const std::vector<std::string>& fields);
  [[noreturn]] void Fail();

  std::string path_;
  shell::FileWriter writer_;
};

}  // namespace mailsift
