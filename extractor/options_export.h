// SPDX-License-Identifier: LGPL-2.1-or-later
// The three message exports with export options on: several folders,
// filtered messages and attachments, duplicates left out, a report, file
// dates and only what is new. The control still selects each folder, lists
// its messages and writes the .eml files and return addresses; what its
// members do not offer (a message's summary and text, a part's type,
// disposition and Content-ID) comes from the store's and the MIME layer's
// interfaces, reached by class id. Nothing here writes into the mail store.
#pragma once

#include <string>

#include "extractor/export_commands.h"
#include "extractor/export_options.h"
#include "extractor/proxies.h"

namespace mailsift {

enum class MessageExport { kAttachments, kEml, kReturnAddresses };

struct OptionsExportRequest {
  MessageExport kind = MessageExport::kAttachments;
  int folder = 0;      // the list position chosen
  long first = 0;      // at most this many messages of each folder that pass (0: all)
  std::string target;  // the directory, or for return addresses the file
  ExportOptions options;
};

// The record file of --new-only for `kind` writing to `target`.
std::string RecordPathFor(MessageExport kind, const std::string& target);

// Runs the export; throws FileError when the target, the report or the store
// cannot be opened and AutomationError when a call on the control fails.
ExportOutcome ExportWithOptions(const CMailquarry& mq, const OptionsExportRequest& request,
                                Progress& progress);

}  // namespace mailsift
