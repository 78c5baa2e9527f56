// SPDX-License-Identifier: LGPL-2.1-or-later
// Every store a user has (discovery.h) as one tree: each store a top-level
// folder named for people ("Evolution: On This Computer"), or, for a
// Thunderbird profile, each of its accounts ("Thunderbird: Local Folders");
// the default store's Inbox first at the top. A folder's dir is its store's
// key alone (the store's top folder) or the key, ':' and its dir in the
// store, so ids, which the index keeps by dir, stay the same from run to run
// and when another store comes or goes.
//
// ~/Maildir stays writable; every other store is read only, its folders of
// a writable format read through the read-only Maildir format. The index
// lives in the cache.
#pragma once

#include <memory>
#include <string>

#include "platform/store/engine/folder_layout.h"

namespace store::home {

// The tree of the stores found for the user whose home directory is `home`,
// read into `scan`; null when there are none. The default store is ~/Maildir
// when there is one, else the Thunderbird profile, else the first found.
std::unique_ptr<FolderLayout> DetectAllStores(const std::string& home, TreeScan* scan);

}  // namespace store::home
