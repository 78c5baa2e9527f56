// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/export_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "platform/shell/files.h"

namespace mailsift {
namespace {

constexpr char kMagic[] = "mailsift-exported 1";
// A record lists one line a message and a file: far below this for any mailbox.
constexpr off_t kMaxRecordBytes = 512 << 20;

bool NameIs(std::string_view name, std::string_view want) {
  if (name.size() != want.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if ((name[i] | 0x20) != (want[i] | 0x20)) return false;
  return true;
}

// Headers that mail programs rewrite in place without changing the message.
bool StatusHeader(std::string_view name) {
  if (name.size() >= 10 && NameIs(name.substr(0, 10), "x-mozilla-")) return true;
  for (std::string_view v :
       {"status", "x-status", "x-uid", "x-keywords", "content-length", "x-imap", "x-imapbase"})
    if (NameIs(name, v)) return true;
  return false;
}

std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  return line;
}

bool IsHex(std::string_view text, std::size_t length) {
  if (text.size() != length) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::string Fail(std::string* problem, std::string text) {
  if (problem) *problem = text;
  return text;
}

}  // namespace

std::string MessageKey(std::string_view messageId, std::string_view text) {
  XXH3_state_t state;
  XXH3_128bits_reset(&state);
  // The header block less the status headers (with their folded lines),
  // then the body as it is.
  std::size_t at = 0;
  bool skipping = false;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    end = end == std::string_view::npos ? text.size() : end + 1;
    std::string_view line = text.substr(at, end - at);
    if (line == "\n" || line == "\r\n") break;  // the body follows
    if (line.front() == ' ' || line.front() == '\t') {
      if (!skipping) XXH3_128bits_update(&state, line.data(), line.size());
    } else {
      const std::size_t colon = line.find(':');
      skipping = colon != std::string_view::npos && StatusHeader(line.substr(0, colon));
      if (!skipping) XXH3_128bits_update(&state, line.data(), line.size());
    }
    at = end;
  }
  if (at < text.size()) XXH3_128bits_update(&state, text.data() + at, text.size() - at);
  const XXH128_hash_t hash = XXH3_128bits_digest(&state);
  char hex[33];
  std::snprintf(hex, sizeof hex, "%016llx%016llx", static_cast<unsigned long long>(hash.high64),
                static_cast<unsigned long long>(hash.low64));
  std::string id = OneLine(messageId);
  while (!id.empty() && id.back() == ' ') id.pop_back();
  return std::string(hex) + "\t" + id;
}

ExportRecord::Loaded ExportRecord::Load(const std::string& path, std::string* problem) {
  *this = ExportRecord();
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0 && errno == ENOENT) return Loaded::kAbsent;
  if (fd < 0) {
    Fail(problem, std::strerror(errno == ELOOP ? EACCES : errno));
    return Loaded::kUnusable;
  }
  struct stat st {};
  std::string text;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxRecordBytes;
  if (!ok) Fail(problem, "not a record file of Mailsift");
  if (ok) {
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (ok && done < text.size()) {
      const ssize_t n = read(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0)
        ok = false, Fail(problem, n < 0 ? std::strerror(errno) : "it shrank while read");
      else
        done += static_cast<std::size_t>(n);
    }
  }
  close(fd);
  if (!ok || !Parse(text, problem)) {
    *this = ExportRecord();
    return Loaded::kUnusable;
  }
  return Loaded::kRead;
}

bool ExportRecord::Parse(std::string_view text, std::string* problem) {
  std::size_t at = 0;
  std::size_t lineNumber = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) {
      Fail(problem, "damaged: its last line is cut short");
      return false;
    }
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (lineNumber++ == 0) {
      if (line != kMagic) {
        Fail(problem, "not a record file of Mailsift");
        return false;
      }
      continue;
    }
    const auto bad = [&] {
      Fail(problem, "damaged at line " + std::to_string(lineNumber));
      return false;
    };
    if (line.starts_with("m\t")) {
      const std::string_view key = line.substr(2);
      if (key.size() < 33 || !IsHex(key.substr(0, 32), 32) || key[32] != '\t') return bad();
      AddMessage(std::string(key));
    } else if (line.starts_with("f\t")) {
      const std::size_t t1 = line.find('\t', 2);
      const std::size_t t2 = t1 == std::string_view::npos ? t1 : line.find('\t', t1 + 1);
      if (t2 == std::string_view::npos) return bad();
      const std::string size(line.substr(2, t1 - 2));
      const std::string_view sha = line.substr(t1 + 1, t2 - t1 - 1);
      if (size.empty() || size.size() > 19 ||
          size.find_first_not_of("0123456789") != std::string::npos || !IsHex(sha, 64))
        return bad();
      AddFile(std::strtoull(size.c_str(), nullptr, 10), std::string(sha),
              std::string(line.substr(t2 + 1)));
    } else {
      return bad();
    }
  }
  if (lineNumber == 0) {
    Fail(problem, "damaged: it is empty");
    return false;
  }
  return true;
}

void ExportRecord::AddMessage(const std::string& key) {
  if (messages_.insert(key).second) order_.push_back(key);
}

void ExportRecord::AddFile(std::uint64_t size, const std::string& sha256, const std::string& path) {
  files_.push_back({size, sha256, OneLine(path)});
}

std::string ExportRecord::Save(const std::string& path) const {
  std::string text = std::string(kMagic) + "\n";
  for (const std::string& key : order_) text += "m\t" + key + "\n";
  for (const File& f : files_)
    text += "f\t" + std::to_string(f.size) + "\t" + f.sha256 + "\t" + f.path + "\n";

  if (int error = files::ReplaceFile(path, text, 0644))
    return "cannot write \"" + path + "\": " + files::ErrorWords(error);
  return {};
}

}  // namespace mailsift
