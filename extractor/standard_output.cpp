// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/standard_output.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace mailsift {
namespace {
int g_first_error = 0;
}  // namespace

int FlushChecked(std::FILE* stream) {
  errno = 0;
  if (std::fflush(stream) == 0 && !std::ferror(stream)) return 0;
  const int err = errno ? errno : EIO;
  if (stream == stdout && g_first_error == 0) g_first_error = err;
  return stream == stdout ? g_first_error : err;
}

int FinishStandardOutput() {
  return FlushChecked(stdout);
}

void EndAsReaderGone() {
  signal(SIGPIPE, SIG_DFL);
  raise(SIGPIPE);
  _exit(128 + SIGPIPE);
}

}  // namespace mailsift
