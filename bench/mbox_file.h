// SPDX-License-Identifier: LGPL-2.1-or-later
// What the mbox timing programs share: the large file they list, and timing
// shell commands (grep, cat) against the listing.
//
// Each message is a text part with "From " and ">From " body lines and a
// base64 attachment, about `each` bytes.
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/span_timer.h"

namespace bench {

inline double ChildrenCpu() {
  struct rusage u;
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The wall time of a shell command, and the CPU time of what it ran.
inline Span Shell(const std::string& command) {
  Timer t;
  const double before = ChildrenCpu();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
  Span s = t.Stop();
  s.cpu = ChildrenCpu() - before;
  return s;
}

// Brings the whole file into the page cache.
inline void Warm(const std::string& file) {
  Shell("cat '" + file + "' > /dev/null");
}

inline std::string Attachment(std::size_t bytes, unsigned seed) {
  static const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < bytes; ++i) {
    x = x * 1664525u + 1013904223u;
    out += kBase64[x >> 26];
    if (i % 76 == 75) out += '\n';
  }
  return out + "\n";
}

inline std::string MboxMessage(unsigned i, std::size_t attachmentBytes,
                               const std::string& attachment) {
  char envelope[128];
  std::snprintf(envelope, sizeof envelope,
                "From sender%u@example.org Mon Jan %2u %02u:%02u:00 2001\n", i % 97, 1 + i % 28,
                i % 24, i % 60);
  std::string m = envelope;
  m += "X-Mozilla-Status: 0001\nX-Mozilla-Status2: 00000000\n";
  m += "Received: from mx.example.org by mail.example.org; Mon, 1 Jan 2001 00:00:00 +0000\n";
  m += "From: Sender " + std::to_string(i % 97) + " <sender" + std::to_string(i % 97) +
       "@example.org>\nTo: Reader <reader@example.org>\nSubject: Message number " +
       std::to_string(i) + "\nDate: Mon, 1 Jan 2001 00:00:00 +0000\nMessage-ID: <" +
       std::to_string(i) +
       "@bench.example.org>\nMIME-Version: 1.0\n"
       "Content-Type: multipart/mixed; boundary=\"sep\"\n\n--sep\nContent-Type: text/plain\n\n";
  for (int line = 0; line < 20; ++line)
    m += line == 5    ? "From the desk of the sender, a line of text.\n"
         : line == 9  ? ">From a quoted line that lost nothing.\n"
         : line == 12 ? "\n"
                      : "Some words of the letter, long enough to look like a line of mail.\n";
  m += "--sep\nContent-Type: application/octet-stream\n"
       "Content-Disposition: attachment; filename=\"data.bin\"\n"
       "Content-Transfer-Encoding: base64\n\n";
  m.append(attachment, 0, std::min(attachment.size(), attachmentBytes));
  m += "--sep--\n\n";
  return m;
}

// Writes (or appends) messages [first, first + count) of about `each` bytes.
inline void WriteMessages(const std::string& path, unsigned first, unsigned count, std::size_t each,
                          bool append) {
  std::ofstream out(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
  std::vector<std::string> attachments;
  for (unsigned s = 0; s < 8; ++s) attachments.push_back(Attachment(each + 1024, s));
  for (unsigned i = first; i < first + count; ++i)
    out << MboxMessage(i, each - (i % 7) * 100, attachments[i % attachments.size()]);
}

}  // namespace bench
