// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/cli_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string_view>
#include <vector>

namespace mailsift {

namespace {
const char kHelpTemplate[] =
    "usage: mailsift attachments|eml [--folder NAME | --folder-index N] [--first N] [OPTIONS]\n"
    "                DIRECTORY\n"
    "       mailsift return-addresses [--folder NAME | --folder-index N] [--first N] [OPTIONS]\n"
    "                FILE\n"
    "       mailsift contacts FILE\n"
    "       mailsift folders [--paths]\n"
    "       mailsift            (no arguments: the dialog)\n"
    "\n"
    "Exports from the mail store ($MAILDIR, else every mail program's store found, as one\n"
    "tree) and the address book without a window, through the same commands as the\n"
    "dialog's buttons.\n"
    "\n"
    "  attachments       every attachment of the folder's messages into DIRECTORY\n"
    "  eml               each message as \"<subject>.eml\" into DIRECTORY\n"
    "  return-addresses  each message's return address, one a line (CR LF), appended to FILE\n"
    "  contacts          every contact's e-mail address, one a line, appended to FILE\n"
    "  folders           the folders: position, message count, name indented by depth\n"
    "\n"
    "  --folder NAME     the folder of that name, or path for a nested one (Work/Projects);\n"
    "                    without --folder or --folder-index, the first folder (Inbox)\n"
    "  --folder-index N  the folder at position N of the folders list\n"
    "  --first N         only the folder's first N messages (default: all)\n"
    "  --paths           folders: print each folder's path alone, one a line\n"
    "  -q, --quiet       no progress and no summary line (errors are still reported)\n"
    "  -v, --verbose     print the path of each file written\n"
    "  -h, --help        this text\n"
    "      --version     the version\n"
    "\n"
    "Export options (none given: the commands write what the dialog's buttons write):\n"
    "%OPTIONS%"
    "With several folders each one's files go into a directory of its path below\n"
    "DIRECTORY (Inbox, Work/Projects); --first N then counts in each folder, and\n"
    "with filters it counts the messages that pass them.\n"
    "\n"
    "A DIRECTORY that does not exist is created (its parent must exist). A name this run\n"
    "already wrote gets \" (2)\", \" (3)\", ...; files that were there before are replaced.\n"
    "Progress goes to standard error when it is a terminal. Ctrl-C or SIGTERM stops after the\n"
    "current message, like the dialog's Cancel. The summary counts messages only partly on\n"
    "this computer, and a line says how many Thunderbird lists that are not here at all.\n"
    "\n"
    "Exit status: 0 everything written; 1 some files could not be written; 2 wrong usage,\n"
    "a bad option value or an unknown folder; 3 the control could not be created or the\n"
    "mail store not opened; 130 interrupted.\n";
}  // namespace

std::string CliHelpText() {
  std::string text = kHelpTemplate;
  const std::string mark = "%OPTIONS%";
  return text.replace(text.find(mark), mark.size(), ExportOptionsHelp());
}

namespace {

unsigned OptionBit(CliCommand c) {
  switch (c) {
    case CliCommand::kAttachments:
      return kForAttachments;
    case CliCommand::kEml:
      return kForEml;
    case CliCommand::kReturnAddresses:
      return kForReturnAddresses;
    default:
      return 0;
  }
}

// The commands an option belongs to, for its error: "attachments and eml".
std::string CommandsOf(unsigned bits) {
  std::vector<std::string> names;
  if (bits & kForAttachments) names.emplace_back("attachments");
  if (bits & kForEml) names.emplace_back("eml");
  if (bits & kForReturnAddresses) names.emplace_back("return-addresses");
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i)
    text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
  return text;
}

const std::map<std::string_view, CliCommand> kCommands = {
    {"attachments", CliCommand::kAttachments},
    {"eml", CliCommand::kEml},
    {"return-addresses", CliCommand::kReturnAddresses},
    {"contacts", CliCommand::kContacts},
    {"folders", CliCommand::kFolders},
};

bool TakesFolder(CliCommand c) {
  return c == CliCommand::kAttachments || c == CliCommand::kEml ||
         c == CliCommand::kReturnAddresses;
}

// A whole decimal number from `min` up, or nothing.
std::optional<long> Number(const std::string& text, long min) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < min) return std::nullopt;
  return value;
}

}  // namespace

CliParse ParseCliArguments(int argc, const char* const* argv) {
  CliParse parse;
  CliRequest& r = parse.request;
  std::vector<std::string> operands;
  bool optionsEnded = false;
  bool help = false, version = false;
  std::vector<const OptionSpec*> given;  // the export options, in order
  auto fail = [&parse](std::string error) {
    if (parse.error.empty()) parse.error = std::move(error);
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // --name=value or --name value for the options that take a value.
    std::string name = arg, value;
    const bool inlineValue = arg.starts_with("--") && arg.find('=') != std::string::npos;
    if (inlineValue) {
      name = arg.substr(0, arg.find('='));
      value = arg.substr(arg.find('=') + 1);
    }
    const OptionSpec* exportOption = FindExportOption(name);
    const bool takesValue = name == "--folder" || name == "--folder-index" || name == "--first" ||
                            (exportOption && exportOption->valueName);
    if (takesValue && !inlineValue) {
      if (i + 1 >= argc) {
        fail("option '" + name + "' needs a value");
        continue;
      }
      value = argv[++i];
    } else if (!takesValue && inlineValue) {
      fail("option '" + name + "' takes no value");
      continue;
    }
    if (name == "-h" || name == "--help") {
      help = true;
    } else if (name == "--version") {
      version = true;
    } else if (name == "-q" || name == "--quiet") {
      r.quiet = true;
    } else if (name == "-v" || name == "--verbose") {
      r.verbose = true;
    } else if (name == "--paths") {
      r.paths = true;
    } else if (name == "--folder") {
      if (value.empty()) fail("option '--folder' needs a folder name");
      r.folder = value;
    } else if (name == "--folder-index") {
      r.folderIndex = Number(value, 0);
      if (!r.folderIndex)
        fail("option '--folder-index' needs a position (0, 1, ...), not '" + value + "'");
    } else if (name == "--first") {
      r.first = Number(value, 1);
      if (!r.first)
        fail("option '--first' needs a number of messages (1 or more), not '" + value + "'");
    } else if (exportOption) {
      if (std::string error = exportOption->apply(r.options, value); !error.empty())
        fail("option '" + name + "': " + error);
      given.push_back(exportOption);
    } else {
      fail("unknown option '" + arg + "'");
    }
  }
  // --help and --version answer whatever else the line holds.
  if (help || version) {
    r.command = help ? CliCommand::kHelp : CliCommand::kVersion;
    parse.error.clear();
    return parse;
  }
  if (!parse.error.empty()) return parse;
  if (operands.empty()) {
    fail("no command given (attachments, eml, return-addresses, contacts or folders)");
    return parse;
  }
  const auto command = kCommands.find(operands[0]);
  if (command == kCommands.end()) {
    fail("unknown command '" + operands[0] +
         "' (attachments, eml, return-addresses, contacts or folders)");
    return parse;
  }
  r.command = command->second;
  const std::string& word = operands[0];
  if (r.folder && r.folderIndex) fail("give --folder or --folder-index, not both");
  if (!TakesFolder(r.command) && (r.folder || r.folderIndex || r.first))
    fail(word + " takes no --folder, --folder-index or --first");
  if (r.paths && r.command != CliCommand::kFolders) fail("--paths is an option of folders");
  for (const OptionSpec* spec : given)
    if (!(spec->commands & OptionBit(r.command)))
      fail(std::string(spec->flag) + " is an option of " + CommandsOf(spec->commands));
  if (r.quiet && r.verbose) fail("give --quiet or --verbose, not both");
  const std::size_t wanted = r.command == CliCommand::kFolders ? 1 : 2;
  if (operands.size() < wanted)
    fail(word + " needs a target: " +
         (r.command == CliCommand::kAttachments || r.command == CliCommand::kEml
              ? "the directory to write into"
              : "the file to append to"));
  else if (operands.size() > wanted)
    fail("unexpected argument '" + operands[wanted] + "'");
  else if (wanted == 2)
    r.target = operands[1];
  return parse;
}

}  // namespace mailsift
