// SPDX-License-Identifier: LGPL-2.1-or-later
// What Thunderbird lists in an mbox folder: the message count of the
// folder's summary, "<file>.msf" beside the file. The summary is only read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/store/engine/store_engine.h"
#include "platform/store/mbox/format.h"
#include "platform/store/thunderbird/mork_folder_info.h"

namespace store::mbox {
namespace {

// A summary of a folder of a million messages is a few hundred megabytes;
// one larger than this is not read.
constexpr off_t kMaxSummary = off_t{1} << 30;

}  // namespace

bool MboxFormat::ListedCount(Store& store, const FolderInfo& f, DWORD* listed) const {
  const std::string path = store.FolderPath(f.dir) + ".msf";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  std::string bytes;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxSummary) {
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n =
          ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
  }
  ::close(fd);
  const auto count = mork::FolderMessageCount(bytes);
  if (!count) return false;
  *listed = *count;
  return true;
}

}  // namespace store::mbox
