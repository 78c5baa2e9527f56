// SPDX-License-Identifier: LGPL-2.1-or-later
// An MH mailbox (Claws Mail's and Sylpheed's "Mail", nmh's Path), read only:
// every directory below the root is a folder, named by its directory, its
// subfolders its subdirectories; the folder "inbox" (or the one the
// program's folder list calls its inbox) is the Inbox. The index lives in the
// cache, as for any store another program owns.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/readonly_tree/layout.h"

namespace store::mh {

class MhLayout final : public ReadOnlyTreeLayout {
 public:
  using ReadOnlyTreeLayout::ReadOnlyTreeLayout;

  void Scan(const std::string& root, const TreeScan& previous, TreeScan* out) const override;
  const MessageFormat* FormatOf(const std::string& root, std::string_view dir) const override;
  std::vector<const MessageFormat*> Formats() const override;
  std::string Describe(const std::string& root) const override;
};

// Whether the directory at `root` is an MH mailbox: no Maildir, and it or a
// folder right below it holds an MH program's state file or numbered
// message files.
bool IsMailbox(const std::string& root);

// The MH mailbox at `root`, its Inbox `inboxHint` when that folder is there
// (a path below the root, as a folder list names it), else "inbox" in any
// case; null when `root` is none.
std::unique_ptr<FolderLayout> DetectLayout(const std::string& root, TreeScan* scan,
                                           const std::string& inboxHint = "");

}  // namespace store::mh
