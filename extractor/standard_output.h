// SPDX-License-Identifier: LGPL-2.1-or-later
// Standard output is checked like any file the command line writes: a full
// disk or /dev/full is an error with a message, and a reader that went away
// (`mailsift folders | head`) ends the program quietly, as other tools do.
#pragma once

#include <cstdio>

namespace mailsift {

// Flushes `stream`; 0, or the errno of its first failure, which is also kept
// for FinishStandardOutput.
int FlushChecked(std::FILE* stream);

// Flushes standard output: 0, or the errno of the first failure met on it.
int FinishStandardOutput();

// Ends the program as the reader's going away ends other tools: by SIGPIPE,
// without a word.
[[noreturn]] void EndAsReaderGone();

}  // namespace mailsift
