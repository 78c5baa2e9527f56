// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/card_source.h"

#include <glib.h>

namespace wab {

FileStamp StampOf(const struct stat& st) {
  FileStamp s;
  s.device = st.st_dev;
  s.inode = st.st_ino;
  s.size = st.st_size;
  s.modified = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  s.changed = st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
  return s;
}

FileStamp StampOfPath(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? StampOf(st) : FileStamp{};
}

std::string Fingerprint(std::string_view bytes) {
  gchar* hex = g_compute_checksum_for_data(
      G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  std::string out(hex, 32);
  g_free(hex);
  return out;
}

}  // namespace wab
