// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/command_line.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "extractor/cli_options.h"
#include "extractor/control_advice.h"
#include "extractor/export_commands.h"
#include "extractor/missing_mail.h"
#include "extractor/options_export.h"
#include "extractor/proxies.h"
#include "extractor/standard_output.h"
#include "extractor/store_folders.h"
#include "extractor/terminal_progress.h"
#include "platform/shell/files.h"

namespace mailsift {
namespace {

const ExportKind& KindOf(CliCommand command) {
  switch (command) {
    case CliCommand::kAttachments:
      return kAttachmentsExport;
    case CliCommand::kEml:
      return kEmlExport;
    case CliCommand::kReturnAddresses:
      return kReturnAddressesExport;
    default:
      return kContactsExport;
  }
}

void Error(const std::string& text) {
  std::fprintf(stderr, "mailsift: %s\n", text.c_str());
}

int UsageError(const std::string& text) {
  Error(text);
  std::fputs("Try 'mailsift --help'.\n", stderr);
  return kCliUsage;
}

// A target of the wrong kind is a usage error, found before anything is opened.
int CheckTarget(const std::string& target, bool directory) {
  struct stat st {};
  if (stat(target.c_str(), &st) != 0) return kCliDone;
  if (directory && !S_ISDIR(st.st_mode)) return UsageError("'" + target + "' is not a directory");
  if (!directory && S_ISDIR(st.st_mode))
    return UsageError("'" + target + "' is a directory; give the file to append to");
  return kCliDone;
}

// A missing directory is made, the last level only: a mistyped parent is an
// error, not a new tree.
int MakeDirectory(const std::string& dir) {
  if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
    Error("cannot make the directory '" + dir + "': " + files::ErrorWords(errno));
    return kCliSomeFailed;
  }
  if (access(dir.c_str(), W_OK | X_OK) != 0) {
    Error("cannot write into '" + dir + "': " + files::ErrorWords(errno));
    return kCliSomeFailed;
  }
  return kCliDone;
}

// One indented line a folder: "  4  Work/Projects".
std::string Described(const std::vector<StoreFolder>& folders, const std::vector<int>& which) {
  std::string text;
  for (int i : which) text += "\n  " + std::to_string(i) + "  " + folders[i].path;
  return text;
}

int FindPosition(const CliRequest& r, const std::vector<StoreFolder>& folders, int* position) {
  if (folders.empty()) return UsageError("the mail store has no folders");
  if (r.folderIndex) {
    if (*r.folderIndex >= static_cast<long>(folders.size()))
      return UsageError("no folder at position " + std::to_string(*r.folderIndex) +
                        "; the positions go from 0 to " + std::to_string(folders.size() - 1) +
                        " ('mailsift folders' lists them)");
    *position = static_cast<int>(*r.folderIndex);
    return kCliDone;
  }
  if (!r.folder) {
    *position = 0;
    return kCliDone;
  }
  const FolderLookup lookup = FindFolder(folders, *r.folder);
  if (lookup.position >= 0) {
    *position = lookup.position;
    return kCliDone;
  }
  if (!lookup.candidates.empty())
    return UsageError(
        "'" + *r.folder + "' names " + std::to_string(lookup.candidates.size()) +
        " folders; give its path or --folder-index:" + Described(folders, lookup.candidates));
  if (!lookup.suggestions.empty())
    return UsageError("no folder '" + *r.folder +
                      "'; close matches:" + Described(folders, lookup.suggestions));
  return UsageError("no folder '" + *r.folder + "' ('mailsift folders' lists them)");
}

// The position the request names, or a usage error's status.
int ChooseFolder(const CliRequest& r, const std::vector<StoreFolder>& folders, int* position) {
  if (int status = FindPosition(r, folders, position)) return status;
  // The control's folder index is 16-bit.
  if (*position > SHRT_MAX)
    return UsageError("the folder at position " + std::to_string(*position) +
                      " cannot be selected: the control counts folders up to " +
                      std::to_string(SHRT_MAX));
  return kCliDone;
}

// The store's tree, checked against the control's list so that a position
// means the same folder to both.
int ReadFolders(const CMailquarry* mq, std::vector<StoreFolder>* folders,
                bool exactCounts = false) {
  HRESULT hr = ReadStoreFolders(folders, exactCounts);
  if (FAILED(hr)) {
    Error(StoreNotOpenedText(hr));
    return kCliNoControl;
  }
  if (!mq) return kCliDone;
  const int count = static_cast<unsigned short>(mq->Folders().Count());
  bool same = count == static_cast<int>(folders->size() & 0xFFFF);
  for (int i = 0; same && i < count; ++i)
    same = mq->Folders().FindFolderName(static_cast<short>(i)) == (*folders)[i].name;
  if (!same) {
    Error("the folder list changed while it was read; run the command again");
    return kCliSomeFailed;
  }
  return kCliDone;
}

int ListFolders(const CliRequest& r) {
  std::vector<StoreFolder> folders;
  if (int status = ReadFolders(nullptr, &folders, !r.paths)) return status;
  if (r.paths)
    for (const StoreFolder& f : folders) std::printf("%s\n", f.path.c_str());
  else
    std::fputs(FolderListing(folders).c_str(), stdout);
  return kCliDone;
}

int RunExport(const CliRequest& r) {
  const ExportKind& kind = KindOf(r.command);
  if (int status = CheckTarget(r.target, kind.intoDirectory)) return status;

  CMailquarry mq;
  const HRESULT hr = mq.Create(nullptr, ui::Rect::FromSize(0, 0, 14, 14));
  if (FAILED(hr)) {
    Error(ControlNotCreatedText(hr));
    return kCliNoControl;
  }
  const bool terminal = isatty(fileno(stderr)) != 0;
  TerminalProgress progress(terminal && !r.quiet ? stderr : nullptr, r.verbose ? stdout : nullptr,
                            kind.item.many);
  ExportOutcome outcome;
  const bool withOptions = r.options.AnyOn();
  try {
    long count = 0;
    int position = 0;
    std::vector<StoreFolder> folders;
    if (r.command == CliCommand::kContacts) {
      count = mq.Contacts().Count();
    } else {
      if (int status = ReadFolders(&mq, &folders)) return status;
      if (int status = ChooseFolder(r, folders, &position)) return status;
      if (kind.intoDirectory)
        if (int status = MakeDirectory(r.target)) return status;
      if (!withOptions) count = SelectFolder(mq, position, kAllMessages);
      if (r.first) count = std::min(count, *r.first);
    }
    if (withOptions) {
      OptionsExportRequest request;
      request.kind = r.command == CliCommand::kAttachments ? MessageExport::kAttachments
                     : r.command == CliCommand::kEml       ? MessageExport::kEml
                                                           : MessageExport::kReturnAddresses;
      request.folder = position;
      request.first = r.first.value_or(0);
      request.target = r.target;
      request.options = r.options;
      outcome = ExportWithOptions(mq, request, progress);
    } else {
      switch (r.command) {
        case CliCommand::kAttachments:
          outcome = ExportAttachments(mq, count, r.target, progress);
          break;
        case CliCommand::kEml:
          outcome = ExportEml(mq, count, r.target, progress);
          break;
        case CliCommand::kReturnAddresses:
          outcome = ExportReturnEmails(mq, count, r.target, progress);
          break;
        default:
          outcome = ExportContactEmails(mq, count, r.target, progress);
          break;
      }
      // The export with options tells this itself, for every folder it went through.
      if (r.command != CliCommand::kContacts) TellWhatIsMissing(mq, folders[position], &outcome);
    }
  } catch (const std::exception& e) {  // AutomationError, FileError
    progress.Clear();
    Error(e.what());
    return kCliSomeFailed;
  }
  progress.Clear();
  for (const std::string& notice : outcome.notices) Error(notice);
  // The listing stopped the export: standard output cannot be written.
  if (progress.OutputError()) return kCliSomeFailed;
  if (!kind.intoDirectory && r.verbose) std::printf("%s\n", r.target.c_str());
  const std::string summary = SummaryLine(kind, outcome, r.target);
  if (outcome.cancelled) {
    Error("interrupted after " + std::to_string(outcome.processed) + " of " +
          Counted(outcome.total, kind.item) + ": " + summary);
    return kCliInterrupted;
  }
  if (outcome.failed > 0 || !r.quiet)
    std::fprintf(outcome.failed > 0 && r.quiet ? stderr : stdout, "%s\n", summary.c_str());
  return outcome.failed > 0 ? kCliSomeFailed : kCliDone;
}

int Run(int argc, char** argv) {
  const CliParse parse = ParseCliArguments(argc, argv);
  if (!parse.error.empty()) return UsageError(parse.error);
  const CliRequest& r = parse.request;
  switch (r.command) {
    case CliCommand::kHelp:
      std::fputs(CliHelpText().c_str(), stdout);
      return kCliDone;
    case CliCommand::kVersion:
      std::printf("mailsift %s\n", MQ_VERSION);
      return kCliDone;
    case CliCommand::kFolders:
      return ListFolders(r);
    default:
      CatchStopSignals();
      return RunExport(r);
  }
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
  // A reader that goes away makes writes fail with EPIPE instead of killing
  // us in the middle of an export, so that what was begun is cleaned up.
  signal(SIGPIPE, SIG_IGN);
  int status = Run(argc, argv);
  if (int err = FinishStandardOutput()) {
    if (err == EPIPE) EndAsReaderGone();
    Error("cannot write the standard output: " + files::ErrorWords(err));
    if (status == kCliDone) status = kCliSomeFailed;
  }
  return status;
}

}  // namespace mailsift
