// The program's four exports, over the control proxies. They know nothing of
// the dialog: the dialog picks the folder, range, directory or file, runs one
// of these, and shows the completion text.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

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

struct ExportOutcome {
  long total = 0;            // items the command set out to process
  long processed = 0;        // items processed (total unless cancelled)
  long written = 0;          // files written, or for the text exports lines appended
  long failed = 0;           // files that could not be written
  std::string firstFailure;  // the first of those: its name and why
  bool cancelled = false;
  // With export options on:
  long duplicates = 0;               // files left out as identical to one kept
  long leftOut = 0;                  // files left out by the filters
  long exportedBefore = 0;           // messages an earlier run exported (--new-only)
  std::vector<std::string> notices;  // what the user should know besides
};

// The folder and range prologue of the three message exports: selects folder
// `selection` in the control and answers how many message positions to
// process. For all messages this is the folder's real count, also past what
// the 16-bit Count can say; the first 500 or 1000 are that many, whatever the
// folder holds.
long SelectFolder(const CMailquarry& mq, int selection, int range);

// Each message's attachments into `directory`. The control writes them into a
// private directory inside it, from where they are renamed into place under
// names this command has not written yet.
ExportOutcome ExportAttachments(const CMailquarry& mq, long count, const std::string& directory,
                                Progress& progress);
// Each message as "<subject>.eml" in `directory`. A subject that would name a
// file outside the directory (one holding '/') fails that message.
ExportOutcome ExportEml(const CMailquarry& mq, long count, const std::string& directory,
                        Progress& progress);
// The non-empty return addresses, one a line (CR LF), appended to `file`.
ExportOutcome ExportReturnEmails(const CMailquarry& mq, long count, const std::string& file,
                                 Progress& progress);
// Every contact's address, one a line (an empty one too), appended to `file`.
ExportOutcome ExportContactEmails(const CMailquarry& mq, long count, const std::string& file,
                                  Progress& progress);

// "<title> completed", and on further lines how many files could not be
// written, or that the command was cancelled and after how many of what.
std::string CompletionText(const std::string& title, const ExportOutcome& outcome,
                           const std::string& itemNoun, const std::string& fileNoun);

}  // namespace mailsift
