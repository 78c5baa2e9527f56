// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/mime/pread_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/mime/address_groups.h"

namespace {

// Small reads (the parser's) are served from this much read-ahead; larger
// ones (decoding) go straight into the caller's buffer.
constexpr std::size_t kReadAhead = 256 << 10;

struct SharedFile {
  int fd;
  char* cache;
  std::size_t cacheCapacity;
  gint64 cacheStart;
  std::size_t cacheLength;
  // While a parse is guarded: the scanner that sees every byte read, how far
  // it has seen, and where reads now end (-1: at the file's end).
  mime::DeepAddressScanner* scanner;
  gint64 scannedTo;
  gint64 stopAt;
  // A slice: stream position p shows file offset origin + p + (the number of
  // gaps at or before p). gaps[i] is the stream position right after the
  // i-th byte left out.
  gint64 origin;
  gint64* gaps;
  std::size_t gapCount;
};

}  // namespace

extern "C" {

struct MqPreadStream {
  GMimeStream parent;
  SharedFile* file;  // owned by the root stream; substreams keep the root alive
  gboolean owner;
};

struct MqPreadStreamClass {
  GMimeStreamClass parent_class;
};

G_DEFINE_TYPE(MqPreadStream, mq_pread_stream, GMIME_TYPE_STREAM)

}  // extern "C"

namespace {

MqPreadStream* Self(GMimeStream* stream) {
  return reinterpret_cast<MqPreadStream*>(stream);
}

ssize_t PreadAll(int fd, char* buf, std::size_t len, gint64 at) {
  for (;;) {
    ssize_t n = ::pread(fd, buf, len, static_cast<off_t>(at));
    if (n >= 0 || errno != EINTR) return n;
  }
}

// Shows the scanner the bytes [at, at + n) in `buf` that it has not seen, and
// returns how many of the n bytes may be handed on.
ssize_t Guard(SharedFile* file, const char* buf, gint64 at, ssize_t n) {
  if (at > file->scannedTo) {
    // Bytes were skipped, so the scanner cannot vouch for what follows.
    file->scanner->GiveUp();
    file->stopAt = file->scannedTo;
    return 0;
  }
  if (at + n <= file->scannedTo) return n;
  const gint64 from = file->scannedTo;
  std::size_t safe =
      file->scanner->Feed(buf + (from - at), static_cast<std::size_t>(at + n - from));
  file->scannedTo = at + n;
  if (!file->scanner->found()) return n;
  file->stopAt = from + static_cast<gint64>(safe);
  return static_cast<ssize_t>(file->stopAt - at);
}

// Reads file bytes from the file offset `at`, through the read-ahead buffer.
ssize_t FileRead(SharedFile* file, char* buf, std::size_t len, gint64 at) {
  ssize_t n;
  if (len >= file->cacheCapacity) {
    n = PreadAll(file->fd, buf, len, at);
  } else {
    if (at < file->cacheStart ||
        at + static_cast<gint64>(len) > file->cacheStart + static_cast<gint64>(file->cacheLength)) {
      ssize_t got = PreadAll(file->fd, file->cache, file->cacheCapacity, at);
      if (got < 0) return -1;
      file->cacheStart = at;
      file->cacheLength = static_cast<std::size_t>(got);
    }
    std::size_t available = file->cacheLength - static_cast<std::size_t>(at - file->cacheStart);
    n = static_cast<ssize_t>(std::min(len, available));
    std::memcpy(buf, file->cache + (at - file->cacheStart), static_cast<std::size_t>(n));
  }
  return n;
}

// Reads the bytes the stream shows from its position `at`, run by run
// between the bytes a slice leaves out.
ssize_t ShownRead(SharedFile* file, char* buf, std::size_t len, gint64 at) {
  if (file->gapCount == 0) return FileRead(file, buf, len, file->origin + at);
  std::size_t done = 0;
  while (done < len) {
    const gint64* gaps = file->gaps;
    const std::size_t before =
        static_cast<std::size_t>(std::upper_bound(gaps, gaps + file->gapCount, at) - gaps);
    std::size_t run = len - done;
    if (before < file->gapCount) run = std::min(run, static_cast<std::size_t>(gaps[before] - at));
    ssize_t n = FileRead(file, buf + done, run, file->origin + at + static_cast<gint64>(before));
    if (n < 0) return done > 0 ? static_cast<ssize_t>(done) : -1;
    done += static_cast<std::size_t>(n);
    at += n;
    if (static_cast<std::size_t>(n) < run) break;
  }
  return static_cast<ssize_t>(done);
}

ssize_t StreamRead(GMimeStream* stream, char* buf, size_t len) {
  SharedFile* file = Self(stream)->file;
  gint64 end = stream->bound_end;
  if (file->stopAt >= 0) end = std::min(end, file->stopAt);
  if (stream->position >= end) return 0;
  len =
      static_cast<std::size_t>(std::min<gint64>(static_cast<gint64>(len), end - stream->position));
  const gint64 at = stream->position;
  ssize_t n = ShownRead(file, buf, len, at);
  if (n > 0 && file->scanner) n = Guard(file, buf, at, n);
  if (n > 0) stream->position += n;
  return n;
}

ssize_t StreamWrite(GMimeStream*, const char*, size_t) {
  errno = EBADF;
  return -1;
}

int StreamFlush(GMimeStream*) {
  return 0;
}
int StreamClose(GMimeStream*) {
  return 0;
}
gboolean StreamEos(GMimeStream* stream) {
  return stream->position >= stream->bound_end;
}

int StreamReset(GMimeStream* stream) {
  stream->position = stream->bound_start;
  return 0;
}

gint64 StreamSeek(GMimeStream* stream, gint64 offset, GMimeSeekWhence whence) {
  gint64 real = offset;
  if (whence == GMIME_STREAM_SEEK_CUR) real = stream->position + offset;
  if (whence == GMIME_STREAM_SEEK_END) real = stream->bound_end + offset;
  if (real < stream->bound_start || real > stream->bound_end) {
    errno = EINVAL;
    return -1;
  }
  stream->position = real;
  return real;
}

gint64 StreamTell(GMimeStream* stream) {
  return stream->position;
}
gint64 StreamLength(GMimeStream* stream) {
  return stream->bound_end - stream->bound_start;
}

GMimeStream* StreamSubstream(GMimeStream* stream, gint64 start, gint64 end) {
  auto* sub = static_cast<MqPreadStream*>(g_object_new(mq_pread_stream_get_type(), nullptr));
  // Ranges past the end of the file end with it.
  if (end < 0 || end > stream->bound_end) end = stream->bound_end;
  if (start > end) start = end;
  g_mime_stream_construct(&sub->parent, start, end);
  sub->file = Self(stream)->file;
  sub->owner = FALSE;
  return &sub->parent;
}

void Finalize(GObject* object) {
  MqPreadStream* self = reinterpret_cast<MqPreadStream*>(object);
  if (self->owner && self->file) {
    ::close(self->file->fd);
    g_free(self->file->cache);
    g_free(self->file->gaps);
    g_free(self->file);
  }
  G_OBJECT_CLASS(mq_pread_stream_parent_class)->finalize(object);
}

}  // namespace

extern "C" {

static void mq_pread_stream_class_init(MqPreadStreamClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = Finalize;
  GMimeStreamClass* stream = GMIME_STREAM_CLASS(klass);
  stream->read = StreamRead;
  stream->write = StreamWrite;
  stream->flush = StreamFlush;
  stream->close = StreamClose;
  stream->eos = StreamEos;
  stream->reset = StreamReset;
  stream->seek = StreamSeek;
  stream->tell = StreamTell;
  stream->length = StreamLength;
  stream->substream = StreamSubstream;
}

static void mq_pread_stream_init(MqPreadStream* self) {
  self->file = nullptr;
  self->owner = FALSE;
}

}  // extern "C"

namespace mime::detail {

GMimeStream* NewPreadStream(int fd, gint64 size) {
  return NewSliceStream(fd, 0, size, nullptr, 0);
}

GMimeStream* NewSliceStream(int fd, gint64 offset, gint64 length, const gint64* omitted,
                            std::size_t omittedCount) {
  const gint64 size = length - static_cast<gint64>(omittedCount);
  auto* self = static_cast<MqPreadStream*>(g_object_new(mq_pread_stream_get_type(), nullptr));
  g_mime_stream_construct(&self->parent, 0, size);
  self->file = static_cast<SharedFile*>(g_malloc0(sizeof(SharedFile)));
  self->file->fd = fd;
  // Most mail is a few kilobytes: no more read-ahead than the file holds.
  self->file->cacheCapacity =
      static_cast<std::size_t>(std::clamp<gint64>(size, 4096, static_cast<gint64>(kReadAhead)));
  self->file->cache = static_cast<char*>(g_malloc(self->file->cacheCapacity));
  self->file->cacheStart = 0;
  self->file->cacheLength = 0;
  self->file->scanner = nullptr;
  self->file->stopAt = -1;
  self->file->origin = offset;
  self->file->gapCount = omittedCount;
  self->file->gaps = omittedCount ? g_new(gint64, omittedCount) : nullptr;
  for (std::size_t i = 0; i < omittedCount; ++i)
    self->file->gaps[i] = omitted[i] - offset - static_cast<gint64>(i);
  self->owner = TRUE;
  return &self->parent;
}

void GuardAddressHeaders(GMimeStream* stream, DeepAddressScanner* scanner) {
  SharedFile* file = Self(stream)->file;
  file->scanner = scanner;
  file->scannedTo = stream->position;
  file->stopAt = -1;
}

}  // namespace mime::detail
