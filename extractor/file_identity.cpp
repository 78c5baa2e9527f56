// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/file_identity.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace mailsift {
namespace {

constexpr std::size_t kChunk = 1 << 18;

struct Closer {
  void operator()(int* fd) const {
    if (*fd >= 0) close(*fd);
    delete fd;
  }
};

// Reads up to `size` bytes, retrying short reads; the count read, -1 on error.
ssize_t ReadFull(int fd, char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

std::string Hex(const unsigned char* bytes, std::size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < n; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

}  // namespace

std::optional<FileDigest> DigestFile(int fd, bool withSha256) {
  if (lseek(fd, 0, SEEK_SET) != 0) return std::nullopt;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> sha(
      withSha256 ? EVP_MD_CTX_new() : nullptr, &EVP_MD_CTX_free);
  if (withSha256 && (!sha || EVP_DigestInit_ex(sha.get(), EVP_sha256(), nullptr) != 1))
    return std::nullopt;
  XXH3_state_t state;
  XXH3_64bits_reset(&state);
  thread_local std::vector<char> buffer(kChunk);
  FileDigest digest;
  for (;;) {
    const ssize_t n = ReadFull(fd, buffer.data(), buffer.size());
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    XXH3_64bits_update(&state, buffer.data(), static_cast<std::size_t>(n));
    if (sha) EVP_DigestUpdate(sha.get(), buffer.data(), static_cast<std::size_t>(n));
    digest.size += static_cast<std::uint64_t>(n);
  }
  digest.fastHash = XXH3_64bits_digest(&state);
  if (sha) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(sha.get(), out, &length) != 1) return std::nullopt;
    digest.sha256 = Hex(out, length);
  }
  return digest;
}

bool SameBytes(const std::string& pathA, const std::string& pathB) {
  std::unique_ptr<int, Closer> a(new int(open(pathA.c_str(), O_RDONLY | O_CLOEXEC)));
  std::unique_ptr<int, Closer> b(new int(open(pathB.c_str(), O_RDONLY | O_CLOEXEC)));
  if (*a < 0 || *b < 0) return false;
  std::vector<char> x(kChunk), y(kChunk);
  for (;;) {
    const ssize_t n = ReadFull(*a, x.data(), x.size());
    const ssize_t m = ReadFull(*b, y.data(), y.size());
    if (n < 0 || m < 0 || n != m) return false;
    if (n == 0) return true;
    if (std::memcmp(x.data(), y.data(), static_cast<std::size_t>(n)) != 0) return false;
  }
}

void DuplicateFinder::Add(const std::string& path, const std::string& shownAs,
                          const FileDigest& digest) {
  byDigest_.emplace(std::make_pair(digest.size, digest.fastHash), Written{path, shownAs});
  sizes_.insert(digest.size);
}

void DuplicateFinder::AddRecorded(std::uint64_t size, const std::string& sha256,
                                  const std::string& shownAs) {
  recorded_.emplace(std::make_pair(size, sha256), shownAs);
  recordedSizes_.insert(size);
}

bool DuplicateFinder::MayHave(std::uint64_t size) const {
  return sizes_.count(size) > 0 || recordedSizes_.count(size) > 0;
}

std::optional<std::string> DuplicateFinder::Find(const std::string& path,
                                                 const FileDigest& digest) const {
  auto [first, last] = byDigest_.equal_range({digest.size, digest.fastHash});
  for (auto it = first; it != last; ++it)
    if (SameBytes(path, it->second.path)) return it->second.shownAs;
  if (!digest.sha256.empty()) {
    auto found = recorded_.find({digest.size, digest.sha256});
    if (found != recorded_.end()) return found->second;
  }
  return std::nullopt;
}

}  // namespace mailsift
