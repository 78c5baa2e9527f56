// SPDX-License-Identifier: LGPL-2.1-or-later
// The program's four exports, over the control proxies. They know nothing of
// the dialog: the dialog picks the folder, range, directory or file, runs one
// of these, and shows the completion text.
#pragma once

#include <stdexcept>
#include <string>

#include "extractor/export_report.h"
#include "extractor/proxies.h"

namespace mailsift {

// The radio group's values.
enum MessageRange { kAllMessages = 0, kFirst500 = 1, kFirst1000 = 2 };

// Asked before each item; answering false stops the command there (the
// progress dialog's Cancel). `done` items of `total` are behind.
class Progress {
 public:
  virtual ~Progress() = default;
  virtual bool Continue(long done, long total) = 0;
  // Told the path of each attachment or .eml file once it is written.
  virtual void Wrote(const std::string& /*path*/) {}
};

// Never stops.
class NoProgress : public Progress {
 public:
  bool Continue(long, long) override { return true; }
};

// A file the command cannot write; the text names it and the reason.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The folder and range prologue of the three message exports: selects folder
// `selection` in the control and answers how many message positions to
// process. For all messages this is the folder's real count, also past what
// the 16-bit Count can say; the first 500 or 1000 are that many, whatever the
// folder holds.
long SelectFolder(const CMailquarry& mq, int selection, int range);

// Each message's attachments into `directory`. The control writes them into a
// private directory inside it, from where they are renamed into place under
// names this command has not written yet. A message whose attachments the
// control could not all write counts those it did not write as failed.
ExportOutcome ExportAttachments(const CMailquarry& mq, long count, const std::string& directory,
                                Progress& progress);
// Each message as "<subject>.eml" in `directory`. A subject that would name a
// file outside the directory (one holding '/') fails that message.
ExportOutcome ExportEml(const CMailquarry& mq, long count, const std::string& directory,
                        Progress& progress);
// The non-empty return addresses, one a line (CR LF), appended to `file`.
// When the file cannot take them all, it is cut back to what it held before
// (the outcome's afterword says so, or how many lines stay when it cannot be).
ExportOutcome ExportReturnEmails(const CMailquarry& mq, long count, const std::string& file,
                                 Progress& progress);
// Every contact's address, one a line (an empty one too), appended to `file`.
ExportOutcome ExportContactEmails(const CMailquarry& mq, long count, const std::string& file,
                                  Progress& progress);

// Why a write of about `size` bytes into the directory `dirFd` fails now: the
// file system's own answer (ENOSPC, EFBIG, EACCES, EROFS, ...), or 0 when such
// a write succeeds. Nothing stays behind. The control answers a failed write
// only with FALSE; this finds the reason without guessing it.
int WriteProbe(int dirFd, long size);

}  // namespace mailsift
