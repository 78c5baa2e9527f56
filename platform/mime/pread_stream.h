// SPDX-License-Identifier: LGPL-2.1-or-later
// A read-only GMime stream over a file descriptor that reads with pread()
// through one shared read-ahead buffer: no seek before every read, and the
// parser's small reads become memory copies. Substreams (the byte ranges of
// parsed parts) share the descriptor and the buffer.
#pragma once

#include <gmime/gmime.h>

#include "platform/mime/address_groups.h"

namespace mime::detail {

// Takes ownership of `fd` (closed with the stream); `size` is the file's size.
GMimeStream* NewPreadStream(int fd, gint64 size);

// The same over the bytes [offset, offset + length) of the file, less the
// single bytes at the file offsets `omitted` (ascending, inside the range):
// the stream's positions count the bytes it shows, from 0.
GMimeStream* NewSliceStream(int fd, gint64 offset, gint64 length, const gint64* omitted,
                            std::size_t omittedCount);

// From the stream's current position on, shows every byte read to `scanner`
// first and ends the stream (for it and its substreams) where the scanner
// finds an address header too deep to parse. Null ends the guard, and the
// stream reads to the file's end again.
void GuardAddressHeaders(GMimeStream* stream, DeepAddressScanner* scanner);

}  // namespace mime::detail
