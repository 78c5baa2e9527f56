// SPDX-License-Identifier: LGPL-2.1-or-later
// What an export did, counted per outcome, and the words that tell the user:
// the dialog's completion message and the command line's summary line are
// made here, so that both say the same.
#pragma once

#include <string>
#include <vector>

namespace mailsift {

// A noun in its two numbers.
struct Noun {
  const char* one;
  const char* many;
};

// "1 attachment", "18 attachments", "0 .eml files".
std::string Counted(long n, const Noun& noun);

// A name as the messages quote it: "\"a.pdf\"".
std::string Quoted(const std::string& name);

// One kind of export: its title, what it goes through and what it writes.
struct ExportKind {
  const char* title;   // the dialog's words: "Export Attachments"
  Noun item;           // what it goes through: messages, contacts
  Noun done;           // what it writes: attachments, .eml files, addresses
  bool intoDirectory;  // files into a directory; else lines appended to one file
};

extern const ExportKind kAttachmentsExport;
extern const ExportKind kEmlExport;
extern const ExportKind kReturnAddressesExport;
extern const ExportKind kContactsExport;

struct ExportOutcome {
  long total = 0;            // items the command set out to process
  long processed = 0;        // items processed (total unless cancelled or stopped)
  long written = 0;          // files written, or for the text exports lines that stay appended
  long failed = 0;           // files or lines that could not be written
  std::string firstFailure;  // the first of those: what it is and why, in words
  std::string afterword;     // what else the user must know, e.g. the file is as before
  bool cancelled = false;
  // With export options on:
  long duplicates = 0;      // files or lines left out as identical to one kept
  long leftOut = 0;         // files left out by the filters
  long exportedBefore = 0;  // messages an earlier run exported (--new-only)
  // Messages of which only part is on this computer (Thunderbird kept their
  // headers, not their bodies): exported as they are, and counted.
  long partial = 0;
  std::vector<std::string> notices;  // what the user should know besides

  // Counts one failure; the first one's description ("\"a.pdf\"", "an
  // attachment of \"Invoice\"") and reason are kept.
  void Fail(const std::string& what, const std::string& reason);
  bool AllWritten() const { return failed == 0 && !cancelled; }
};

// "18 attachments written into /home/jane/export", "3 addresses appended to
// /home/jane/a.txt", with ", 2 could not be written (the first: "a.pdf": the
// disk is full)" when some could not, and what export options left out:
// "; left out: 3 duplicates, 5 by the filters; 40 messages exported before"
// and "; 1 message was only partly on this computer".
std::string SummaryLine(const ExportKind& kind, const ExportOutcome& outcome,
                        const std::string& place);

// The dialog's message: "<title> completed" (or cancelled after k of n), the
// summary line below it, and each notice on a line of its own.
std::string CompletionText(const ExportKind& kind, const ExportOutcome& outcome,
                           const std::string& place);

}  // namespace mailsift
