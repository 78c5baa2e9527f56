// A read-only GMime stream over a file descriptor that reads with pread()
// through one shared read-ahead buffer: no seek before every read, and the
// parser's small reads become memory copies. Substreams (the byte ranges of
// parsed parts) share the descriptor and the buffer.
#pragma once

#include <gmime/gmime.h>

namespace mime::detail {

// Takes ownership of `fd` (closed with the stream); `size` is the file's size.
GMimeStream* NewPreadStream(int fd, gint64 size);

}  // namespace mime::detail
