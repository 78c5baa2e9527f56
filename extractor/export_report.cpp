// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/export_report.h"

namespace mailsift {

const ExportKind kAttachmentsExport{
    "Export Attachments", {"message", "messages"}, {"attachment", "attachments"}, true};
const ExportKind kEmlExport{
    "Export to eml", {"message", "messages"}, {".eml file", ".eml files"}, true};
const ExportKind kReturnAddressesExport{
    "Export email to text file", {"message", "messages"}, {"address", "addresses"}, false};
const ExportKind kContactsExport{"Export address book email to text file",
                                 {"contact", "contacts"},
                                 {"address", "addresses"},
                                 false};

std::string Counted(long n, const Noun& noun) {
  return std::to_string(n) + " " + (n == 1 ? noun.one : noun.many);
}

std::string Quoted(const std::string& name) {
  return "\"" + name + "\"";
}

void ExportOutcome::Fail(const std::string& what, const std::string& reason) {
  if (failed++ == 0) firstFailure = what + ": " + reason;
}

std::string SummaryLine(const ExportKind& kind, const ExportOutcome& outcome,
                        const std::string& place) {
  std::string text = Counted(outcome.written, kind.done) +
                     (kind.intoDirectory ? " written into " : " appended to ") + place;
  if (outcome.failed > 0)
    text += ", " + std::to_string(outcome.failed) +
            " could not be written (the first: " + outcome.firstFailure + ")";
  std::string leftOut;
  if (outcome.duplicates > 0) leftOut = Counted(outcome.duplicates, {"duplicate", "duplicates"});
  if (outcome.leftOut > 0)
    leftOut += (leftOut.empty() ? "" : ", ") + std::to_string(outcome.leftOut) + " by the filters";
  if (!leftOut.empty()) text += "; left out: " + leftOut;
  if (outcome.exportedBefore > 0)
    text += "; " + Counted(outcome.exportedBefore, {"message", "messages"}) + " exported before";
  if (outcome.partial > 0)
    text += "; " + Counted(outcome.partial, {"message was", "messages were"}) +
            " only partly on this computer";
  return text + outcome.afterword;
}

std::string CompletionText(const ExportKind& kind, const ExportOutcome& outcome,
                           const std::string& place) {
  const std::string title = kind.title;
  std::string text = outcome.cancelled
                         ? title + " cancelled after " + std::to_string(outcome.processed) +
                               " of " + Counted(outcome.total, kind.item)
                         : title + " completed";
  text += "\n" + SummaryLine(kind, outcome, place) + ".";
  for (const std::string& notice : outcome.notices) text += "\n" + notice;
  return text;
}

}  // namespace mailsift
