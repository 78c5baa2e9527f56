// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/csv_report.h"

#include "extractor/export_commands.h"

namespace mailsift {

std::string CsvReport::Field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

void CsvReport::Open(const std::string& path) {
  path_ = path;
  if (FAILED(writer_.Open(path))) Fail();
  Line({"outcome", "detail", "path", "folder", "date", "sender", "subject", "message_id", "name",
        "size", "sha256", "container", "partial"});
}

void CsvReport::Add(const ReportRow& r) {
  Line({r.outcome, r.detail, r.path, r.folder, r.date, r.sender, r.subject, r.messageId, r.name,
        r.size, r.sha256, r.container, r.partial});
}

void CsvReport::Line(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) line += (i ? "," : "") + Field(fields[i]);
  writer_.Write(line + "\r\n");
}

void CsvReport::Close() {
  if (writer_.is_open() && FAILED(writer_.Close())) Fail();
}

// A report that could not be written whole is removed: a short one would
// pass for the whole.
void CsvReport::Fail() {
  const int error = writer_.errorNumber();
  writer_.Discard();
  std::string message = "Cannot write the report \"" + path_ + "\"";
  if (error) message += ": " + files::ErrorWords(error);
  throw FileError(message);
}

}  // namespace mailsift
