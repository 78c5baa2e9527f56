// SPDX-License-Identifier: LGPL-2.1-or-later
// Making Maildirs: the directories of a folder's messages.
#pragma once

#include <string>

#include "platform/com/hresult.h"

namespace store::maildir {

bool IsMaildir(const std::string& path);  // has cur/, new/ and tmp/
// Creates a Maildir (cur, new, tmp and, for a folder, the maildirfolder file).
// errno-mapped failure; nothing is left behind on failure.
HRESULT MakeMaildir(const std::string& path, bool folder);
// Adds cur/, new/ and tmp/ to an existing directory (a folder that so far
// only held folders); on failure it removes only what it made.
HRESULT AddMessageDirs(const std::string& path);

}  // namespace store::maildir
