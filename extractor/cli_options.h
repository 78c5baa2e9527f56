// SPDX-License-Identifier: LGPL-2.1-or-later
// What a command line asks of Mailsift, read from its arguments:
//   mailsift attachments|eml|return-addresses|contacts [OPTIONS] TARGET
//   mailsift folders [--paths]
// Options and operands may come in any order; "--" ends the options, and a
// value goes in the next argument or after '=' (--folder=Work).
#pragma once

#include <optional>
#include <string>

#include "extractor/export_options.h"

namespace mailsift {

enum class CliCommand {
  kHelp,
  kVersion,
  kFolders,
  kAttachments,
  kEml,
  kReturnAddresses,
  kContacts
};

struct CliRequest {
  CliCommand command = CliCommand::kHelp;
  std::optional<std::string> folder;  // --folder NAME
  std::optional<long> folderIndex;    // --folder-index N
  std::optional<long> first;          // --first N
  std::string target;                 // the directory or file
  bool quiet = false;
  bool verbose = false;
  bool paths = false;  // folders --paths: one path a line, for scripts
  ExportOptions options;
};

struct CliParse {
  CliRequest request;
  std::string error;  // not empty: wrong usage, said in one line
};

CliParse ParseCliArguments(int argc, const char* const* argv);

// The --help text.
std::string CliHelpText();

}  // namespace mailsift
