// SPDX-License-Identifier: LGPL-2.1-or-later
// The choices that change what an export writes: which folders, which
// messages, which attachments, and what is written besides the files. Every
// choice is off by default, and with all of them off each export writes
// exactly what it writes without them. The command line and the options
// dialog read and show them through one table: adding an option is one entry
// there plus the logic that honours it.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace mailsift {

enum class FolderScope { kOne, kSubtree, kAll };

// The commands an option applies to, as bits.
enum OptionCommands : unsigned {
  kForAttachments = 1u << 0,
  kForEml = 1u << 1,
  kForReturnAddresses = 1u << 2,
  kForMessages = kForAttachments | kForEml | kForReturnAddresses,
};

// What a --type list asks for: file name extensions (lower case, no dot)
// and, for parts whose name has no extension, media types.
struct TypeFilter {
  std::set<std::string> extensions;
  std::set<std::string> mediaTypes;  // "application/pdf"; "image/*" for a whole kind
  bool Empty() const { return extensions.empty() && mediaTypes.empty(); }
};

struct ExportOptions {
  // Which folders.
  FolderScope scope = FolderScope::kOne;
  bool flat = false;         // one directory, names unique across folders
  bool includeJunk = false;  // junk and deleted-mail folders of a tree too
  // Which messages.
  std::optional<std::time_t> since;  // sent at or after
  std::optional<std::time_t> until;  // sent before
  std::string from;                  // sender address or name holds it (any case)
  std::string subject;               // subject holds it (any case)
  bool withAttachments = false;
  // Which attachments.
  TypeFilter types;
  std::optional<std::uint64_t> minSize, maxSize;
  bool skipEmbedded = false;
  bool skipDuplicates = false;
  bool unpackWinmail = false;  // the files inside winmail.dat instead of it
  bool nested = false;         // also the files inside attached messages
  // What is written besides.
  std::string report;  // the CSV report's path; empty: none
  bool setTimes = false;
  bool newOnly = false;
  bool unique = false;  // return addresses: each once

  // The texts the user gave, as the dialog shows them again.
  std::string sinceText, untilText, typesText, minSizeText, maxSizeText;

  bool AnyOn() const;
  // The options that are on, as command-line flags ("--recursive --since
  // 2024-01-01"), for the dialog's tooltip and the report's first lines.
  std::string Described() const;
};

// One option: its flag, its value's name in the help (null: a switch), the
// commands it applies to, its help line, and how it is set.
struct OptionSpec {
  const char* flag;
  const char* valueName;
  unsigned commands;
  const char* help;
  // Sets the option from `value` ("" for a switch); an error text when the
  // value is wrong ("not a date: 2024-13-01").
  std::string (*apply)(ExportOptions& options, const std::string& value);
};

const std::vector<OptionSpec>& ExportOptionTable();
const OptionSpec* FindExportOption(const std::string& flag);

// The value parsers the table and the dialog share. Each answers an error
// text, empty when the value was taken.
// ISO 8601 dates: 2024-03-01, also with a time (2024-03-01T14:30, seconds
// and a zone Z or +01:00 optional). Without a zone the local time.
std::string ParseIsoDate(const std::string& text, std::time_t* out);
// Bytes: "5000", "200K", "5M", "1G" (binary multiples; "KB", "MiB" too).
std::string ParseByteSize(const std::string& text, std::uint64_t* out);
// "pdf,docx,images": extensions and the categories documents,
// spreadsheets, presentations, images, archives, audio, video, calendar,
// contacts (singular forms too).
std::string ParseTypeList(const std::string& text, TypeFilter* out);

// The help lines of the options of `commands`, two spaces in, values aligned.
std::string ExportOptionsHelp();

}  // namespace mailsift
