// SPDX-License-Identifier: LGPL-2.1-or-later
// What an export without options could not write because it is not on this
// computer. The control's members tell neither; the store does: the
// messages Thunderbird lists that the folder's file lacks, and the messages
// of which Thunderbird kept only the headers (partial).
#pragma once

#include "extractor/export_report.h"
#include "extractor/proxies.h"
#include "extractor/store_folders.h"

namespace mailsift {

// For an export of `folder` (selected in the control) that went through its
// first `outcome->processed` positions: counts the partial messages among
// them into `outcome->partial`, and adds the notice of messages that are not
// on this computer.
void TellWhatIsMissing(const CMailquarry& mq, const StoreFolder& folder, ExportOutcome* outcome);

}  // namespace mailsift
