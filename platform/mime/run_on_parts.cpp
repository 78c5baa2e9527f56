// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/mime/run_on_parts.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mime::detail {
namespace {

struct GObjectUnref {
  void operator()(gpointer p) const {
    if (p) g_object_unref(p);
  }
};
template <class T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

// At most this many multiparts of one message are searched for dropped
// parts, and this much of a section is read for its header lines: a hostile
// message costs a bounded amount of work.
constexpr std::size_t kMaxMultipartsSearched = 64;
constexpr gint64 kMaxHeaderBlock = 64 * 1024;

// Reads `stream` from `at` to its end in slices, handing each to `look`
// together with the offset of its first byte, until `look` answers true.
void Scan(GMimeStream* stream, gint64 at,
          const std::function<bool(std::string_view, gint64)>& look) {
  GPtr<GMimeStream> rest(g_mime_stream_substream(stream, at, -1));
  if (!rest) return;
  char slice[16384];
  gint64 offset = at;
  while (!g_mime_stream_eos(rest.get())) {
    ssize_t n = g_mime_stream_read(rest.get(), slice, sizeof slice);
    if (n <= 0) return;
    if (look(std::string_view(slice, static_cast<std::size_t>(n)), offset)) return;
    offset += n;
  }
}

// Some mailers run a part's header block straight into its body, without the
// empty line: GMime reads the body's lines as bad header lines and drops them,
// so the part comes out without content. Such a part gets as content the
// bytes after its last header line up to its multipart's next boundary.
void RecoverRunOnBody(GMimePart* part, const char* boundary, GMimeStream* stream) {
  GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(part));
  const int count = headers ? g_mime_header_list_get_count(headers) : 0;
  if (count == 0 || !boundary) return;
  const gint64 last =
      g_mime_header_get_offset(g_mime_header_list_get_header_at(headers, count - 1));
  if (last < 0) return;
  // The end of the last header (its continuation lines included).
  gint64 start = -1;
  bool afterNewline = false;
  Scan(stream, last, [&](std::string_view slice, gint64 offset) {
    for (std::size_t i = 0; i < slice.size(); ++i) {
      if (afterNewline && slice[i] != ' ' && slice[i] != '\t') {
        start = offset + static_cast<gint64>(i);
        return true;
      }
      afterNewline = slice[i] == '\n';
    }
    return false;
  });
  if (start < 0) return;
  // Only a body that follows its headers without an empty line.
  char first[2] = {};
  GPtr<GMimeStream> head(g_mime_stream_substream(stream, start, start + 2));
  if (!head || g_mime_stream_read(head.get(), first, 2) < 1) return;
  if (first[0] == '\n' || (first[0] == '\r' && first[1] == '\n')) return;

  const std::string marker = std::string("\n--") + boundary;
  gint64 end = g_mime_stream_length(stream);
  std::string carry;  // the end of the previous slice, for a marker across two
  Scan(stream, start, [&](std::string_view slice, gint64 offset) {
    std::string window = carry + std::string(slice);
    const gint64 windowStart = offset - static_cast<gint64>(carry.size());
    if (std::size_t at = window.find(marker); at != std::string::npos) {
      end = windowStart + static_cast<gint64>(at);
      if (at > 0 && window[at - 1] == '\r') --end;
      return true;
    }
    carry = window.substr(window.size() - std::min(window.size(), marker.size()));
    return false;
  });
  if (end <= start) return;
  GPtr<GMimeStream> body(g_mime_stream_substream(stream, start, end));
  GPtr<GMimeDataWrapper> content(
      g_mime_data_wrapper_new_with_stream(body.get(), g_mime_part_get_content_encoding(part)));
  g_mime_part_set_content(part, content.get());
}

// The bytes of stream[start, end).
std::string ReadRange(GMimeStream* stream, gint64 start, gint64 end) {
  std::string out;
  GPtr<GMimeStream> range(g_mime_stream_substream(stream, start, end));
  if (!range || end <= start) return out;
  out.resize(static_cast<std::size_t>(end - start));
  std::size_t done = 0;
  while (done < out.size()) {
    ssize_t n = g_mime_stream_read(range.get(), out.data() + done, out.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  out.resize(done);
  return out;
}

// One part's section of a multipart: from after its boundary line to the
// line break before the next boundary line.
struct Section {
  gint64 start;
  gint64 end;
};

// The sections of the multipart with `boundary` whose body lies after `from`
// (its own header block), up to its closing boundary or the end of `stream`.
std::vector<Section> SectionsOf(GMimeStream* stream, gint64 from, const char* boundary) {
  const std::string marker = std::string("\n--") + boundary;
  std::vector<gint64> lines;  // where each boundary line's line break is
  std::string carry;
  Scan(stream, from, [&](std::string_view slice, gint64 offset) {
    std::string window = carry + std::string(slice);
    const gint64 windowStart = offset - static_cast<gint64>(carry.size());
    for (std::size_t at = window.find(marker); at != std::string::npos;
         at = window.find(marker, at + 1)) {
      gint64 where = windowStart + static_cast<gint64>(at);
      if (lines.empty() || lines.back() < where) lines.push_back(where);
      if (window.compare(at + marker.size(), 2, "--") == 0) return true;  // the closing one
    }
    carry = window.substr(window.size() - std::min(window.size(), marker.size() + 1));
    return false;
  });
  std::vector<Section> sections;
  const gint64 length = g_mime_stream_length(stream);
  for (gint64 line : lines) {
    // The rest of the boundary line: "--" closes, blanks alone open a part,
    // anything else is a longer boundary that only begins like this one.
    std::string tail = ReadRange(stream, line + static_cast<gint64>(marker.size()),
                                 std::min(length, line + static_cast<gint64>(marker.size()) + 256));
    gint64 end = line;
    if (end > 0 && ReadRange(stream, line - 1, line) == "\r") --end;
    bool closing = tail.rfind("--", 0) == 0;
    std::size_t eol = tail.find('\n');
    std::string_view rest = std::string_view(tail).substr(0, eol);
    if (!closing && rest.find_first_not_of(" \t\r") != std::string_view::npos) continue;
    if (!sections.empty() && sections.back().end < 0) sections.back().end = end;
    if (closing) break;
    if (eol == std::string::npos) break;  // a boundary line longer than any real one
    sections.push_back({line + static_cast<gint64>(marker.size() + eol + 1), -1});
  }
  if (!sections.empty() && sections.back().end < 0) sections.back().end = length;
  return sections;
}

// Where an object's header block starts in the file; -1 when it has none.
gint64 FirstHeaderOffset(GMimeObject* object) {
  GMimeHeaderList* headers = g_mime_object_get_header_list(object);
  if (!headers || g_mime_header_list_get_count(headers) == 0) return -1;
  return g_mime_header_get_offset(g_mime_header_list_get_header_at(headers, 0));
}

gint64 LastHeaderOffset(GMimeObject* object) {
  GMimeHeaderList* headers = g_mime_object_get_header_list(object);
  const int count = headers ? g_mime_header_list_get_count(headers) : 0;
  if (count == 0) return -1;
  return g_mime_header_get_offset(g_mime_header_list_get_header_at(headers, count - 1));
}

bool IsHeaderLine(std::string_view line) {
  std::size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  return std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon),
                     [](char c) { return c > ' ' && c < 127; });
}

// A section GMime cannot read: the header lines it starts with, parsed on
// their own, and the rest of the section as content. Null when it does not
// start with a header line.
GMimeObject* PartFromRunOnSection(GMimeStream* stream, const Section& section) {
  std::string head =
      ReadRange(stream, section.start, std::min(section.end, section.start + kMaxHeaderBlock));
  const bool whole = section.start + static_cast<gint64>(head.size()) >= section.end;
  std::size_t body = std::string::npos;
  std::size_t headerEnd = 0;
  for (std::size_t at = 0; at < head.size();) {
    // The section's last line has no line break of its own (the one before
    // the boundary belongs to the boundary).
    std::size_t eol = head.find('\n', at);
    if (eol == std::string::npos && !whole) break;
    if (eol == std::string::npos) eol = head.size();
    std::string_view line(head.data() + at, eol - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    bool continued = at > 0 && !line.empty() && (line[0] == ' ' || line[0] == '\t');
    if (line.empty() || (!continued && !IsHeaderLine(line))) {
      body = line.empty() ? std::min(eol + 1, head.size()) : at;
      break;
    }
    headerEnd = eol + 1;
    at = eol + 1;
  }
  if (headerEnd == 0 || body == std::string::npos) return nullptr;
  std::string headers = head.substr(0, headerEnd) + "\n";
  GPtr<GMimeStream> text(g_mime_stream_mem_new_with_buffer(headers.data(), headers.size()));
  GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(text.get()));
  GMimeObject* part = g_mime_parser_construct_part(parser.get(), nullptr);
  if (!part || !GMIME_IS_PART(part)) {
    if (part) g_object_unref(part);
    return nullptr;
  }
  GPtr<GMimeStream> content(
      g_mime_stream_substream(stream, section.start + static_cast<gint64>(body), section.end));
  GPtr<GMimeDataWrapper> wrapper(g_mime_data_wrapper_new_with_stream(
      content.get(), g_mime_part_get_content_encoding(GMIME_PART(part))));
  g_mime_part_set_content(GMIME_PART(part), wrapper.get());
  return part;
}

// A section read as a part of its own, by GMime or, failing that, as a
// run-on part. Its contents stay byte ranges of `stream`.
GMimeObject* PartFromSection(GMimeStream* stream, const Section& section) {
  GPtr<GMimeStream> bytes(g_mime_stream_substream(stream, section.start, section.end));
  if (!bytes) return nullptr;
  GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(bytes.get()));
  g_mime_parser_set_persist_stream(parser.get(), TRUE);
  GMimeObject* part = g_mime_parser_construct_part(parser.get(), nullptr);
  // A part left without content ran into its body too: it is read as such.
  if (part && GMIME_IS_PART(part) && !g_mime_part_get_content(GMIME_PART(part))) {
    g_object_unref(part);
    part = nullptr;
  }
  return part ? part : PartFromRunOnSection(stream, section);
}

}  // namespace

void RecoverRunOnBodies(GMimeObject* root, GMimeStream* stream) {
  std::vector<GMimeObject*> todo{root};
  while (!todo.empty()) {
    GMimeObject* cur = todo.back();
    todo.pop_back();
    if (!GMIME_IS_MULTIPART(cur)) continue;
    GMimeMultipart* mp = GMIME_MULTIPART(cur);
    for (int i = 0; i < g_mime_multipart_get_count(mp); ++i) {
      GMimeObject* child = g_mime_multipart_get_part(mp, i);
      if (GMIME_IS_PART(child) && !g_mime_part_get_content(GMIME_PART(child)))
        RecoverRunOnBody(GMIME_PART(child), g_mime_multipart_get_boundary(mp), stream);
      todo.push_back(child);
    }
  }
}

void RecoverDroppedParts(GMimeObject* root, GMimeStream* stream) {
  // The multiparts as parsed; parts read again are not searched themselves
  // (their offsets count from their section, not from the file).
  std::vector<GMimeMultipart*> multiparts;
  std::vector<GMimeObject*> todo{root};
  while (!todo.empty() && multiparts.size() < kMaxMultipartsSearched) {
    GMimeObject* cur = todo.back();
    todo.pop_back();
    if (!GMIME_IS_MULTIPART(cur)) continue;
    GMimeMultipart* mp = GMIME_MULTIPART(cur);
    multiparts.push_back(mp);
    for (int i = 0; i < g_mime_multipart_get_count(mp); ++i)
      todo.push_back(g_mime_multipart_get_part(mp, i));
  }
  for (GMimeMultipart* mp : multiparts) {
    const char* boundary = g_mime_multipart_get_boundary(mp);
    if (!boundary || !*boundary) continue;
    // Parts are dropped only after the last part kept; a kept part whose
    // place cannot be told leaves the multipart as it is.
    const int kept = g_mime_multipart_get_count(mp);
    gint64 lastKept = kept ? FirstHeaderOffset(g_mime_multipart_get_part(mp, kept - 1)) : 0;
    if (lastKept < 0) continue;
    gint64 own = LastHeaderOffset(GMIME_OBJECT(mp));
    std::vector<Section> sections = SectionsOf(stream, own < 0 ? 0 : own, boundary);
    std::size_t next = 0;
    if (kept) {
      while (next < sections.size() && sections[next].start <= lastKept) ++next;
    }
    for (; next < sections.size(); ++next) {
      GPtr<GMimeObject> part(PartFromSection(stream, sections[next]));
      if (part) g_mime_multipart_add(mp, part.get());
    }
  }
}

}  // namespace mime::detail
