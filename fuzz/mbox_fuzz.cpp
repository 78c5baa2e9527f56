// SPDX-License-Identifier: LGPL-2.1-or-later
// Feeds arbitrary bytes to the mbox splitter as a whole file, and reads back
// every message it finds through the MIME layer's slice stream. Aborts when
// the parts do not make up the file again, when the quoting count disagrees
// with the quoting positions, when the stream shows other bytes than the
// text with its quoting taken off, or when a split cut at a certain message
// start differs from the whole.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mime/mime.h"
#include "platform/store/mbox/message_key.h"
#include "platform/store/mbox/splitter.h"

namespace {

namespace mbox = store::mbox;

void Check(bool ok) {
  if (!ok) abort();
}

std::string Unquoted(std::string_view text, const std::vector<std::uint64_t>& at) {
  std::string out;
  std::size_t from = 0;
  for (std::uint64_t a : at) {
    Check(a >= from && a < text.size() && text[a] == '>');
    out.append(text.substr(from, a - from));
    from = a + 1;
  }
  out.append(text.substr(from));
  return out;
}

std::string ReadSlice(int fd, const mime::FileSlice& slice) {
  IStream* stream = nullptr;
  Check(mime::OpenSliceStream(dup(fd), slice, &stream) == S_OK);
  std::string out;
  char buf[4096];
  ULONG n = 0;
  while (SUCCEEDED(stream->Read(buf, sizeof buf, &n)) && n > 0) out.append(buf, n);
  stream->Release();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  int fd = memfd_create("mbox", 0);
  Check(fd >= 0);
  Check(write(fd, data, size) == static_cast<ssize_t>(size));

  mbox::Splitter splitter(bytes);
  std::string rebuilt(bytes.substr(0, splitter.preambleEnd()));
  std::uint64_t at = splitter.preambleEnd();
  mbox::Span s;
  int read = 0;
  // A cut at a certain start, from a position the input picks: both sides
  // must split as the whole does (a large file is split on two threads so).
  const std::uint64_t cut = mbox::CertainStart(bytes, size ? data[0] * size / 256 : 0);
  mbox::Splitter before(bytes.substr(0, cut)), after(bytes, cut);
  mbox::Span other;
  while (splitter.Next(&s)) {
    Check((s.from < cut ? before : after).Next(&other));
    Check(other.from == s.from && other.text == s.text && other.textEnd == s.textEnd &&
          other.end == s.end && other.quoted == s.quoted);
    Check(s.from == at && s.from < s.text + 1 && s.text <= s.textEnd && s.textEnd <= s.end);
    Check(s.end > s.from && s.end <= size && bytes.substr(s.from, 5) == "From ");
    rebuilt.append(bytes.substr(s.from, s.end - s.from));
    at = s.end;
    const std::string_view text = bytes.substr(s.text, s.textEnd - s.text);
    std::vector<std::uint64_t> quoting;
    mbox::QuotingPositions(text, &quoting);
    Check(quoting.size() == s.quoted);
    const std::string unquoted = Unquoted(text, quoting);
    mbox::MessageFacts facts = mbox::ReadFacts(text);
    Check(facts.headerEnd <= text.size());
    std::string_view envelope = bytes.substr(s.from + 5, s.text - s.from - 5);
    mbox::EnvelopeTime(envelope);
    if (read++ < 8) {
      mime::FileSlice slice;
      slice.offset = static_cast<std::int64_t>(s.text);
      slice.length = static_cast<std::int64_t>(text.size());
      for (std::uint64_t q : quoting)
        slice.omitted.push_back(slice.offset + static_cast<std::int64_t>(q));
      Check(ReadSlice(fd, slice) == unquoted);
    }
  }
  Check(rebuilt == bytes && !before.Next(&other) && !after.Next(&other));
  close(fd);
  return 0;
}
