// SPDX-License-Identifier: LGPL-2.1-or-later
// The summary of one message file of a Maildir, for the index.
#pragma once

#include <string>

#include "platform/store/engine/file_reader.h"

namespace store::maildir {

// Reads the file open at `fd` (from its start) into `p`.
void ReadFileSummary(int fd, FileSummary* p, ReaderState* reader);
void ReadFileSummary(int fd, FileSummary* p);
// The same for the file at `path`, or named relative to the open directory
// `dirFd` (a first listing opens every message, and resolving the whole path
// for each one costs system time for nothing).
void ReadFileSummary(const std::string& path, FileSummary* p, ReaderState* reader);
void ReadFileSummaryAt(int dirFd, const std::string& name, FileSummary* p, ReaderState* reader);

}  // namespace store::maildir
