// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/apple/mail_layout.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/mime/mime.h"
#include "platform/store/apple/emlx.h"
#include "platform/store/engine/disk.h"
#include "platform/store/engine/file_reader.h"
#include "platform/store/engine/internal.h"
#include "platform/store/engine/readonly_listing.h"
#include "platform/store/engine/store_engine.h"
#include "platform/store/engine/streams.h"
#include "platform/store/mbox/format.h"
#include "platform/store/readonly_tree/layout.h"

namespace store::apple {

namespace {
using namespace engine;

constexpr int kMaxDepth = 32;
constexpr std::string_view kBundle = ".mbox";
// A message larger than this is left out of the listing.
constexpr std::size_t kMaxEmlx = std::size_t{256} << 20;

bool IsBundleName(std::string_view name) {
  return name.size() > kBundle.size() && name.substr(name.size() - kBundle.size()) == kBundle;
}

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The .emlx files below a mailbox directory, by their path below it, not
// entering the mailboxes inside it.
void FindMessages(const std::string& dir, const std::string& rel, int depth,
                  std::vector<std::string>* out) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  std::vector<std::string> subdirs;
  while (dirent* e = readdir(d)) {
    std::string_view name(e->d_name);
    if (name[0] == '.' || IsBundleName(name)) continue;
    if (name.size() > 5 && name.substr(name.size() - 5) == ".emlx") {
      out->push_back(rel + std::string(name));
    } else if (e->d_type == DT_DIR || e->d_type == DT_UNKNOWN) {
      subdirs.emplace_back(name);
    }
  }
  closedir(d);
  if (depth >= kMaxDepth) return;
  for (const auto& s : subdirs)
    if (disk::IsDirectory(dir + "/" + s))
      FindMessages(dir + "/" + s, rel + s + "/", depth + 1, out);
}

// Mail's own store: one .emlx file a message. Rows are keyed by the file's
// path below the mailbox; listed again whenever asked (Mail spreads a
// mailbox's files over numbered directories, so no one directory time
// vouches for them all), each file read again only when it changed.
class EmlxFormat final : public MessageFormat {
 public:
  HRESULT Sync(Store& store, const FolderInfo& f, bool) const override {
    if (!store.db()) return E_FAIL;
    const std::string dir = store.FolderPath(f.dir);
    std::vector<std::string> names;
    FindMessages(dir, "", 0, &names);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      // Mail numbers its messages in the order they came.
      std::string_view la = std::string_view(a).substr(a.rfind('/') + 1);
      std::string_view lb = std::string_view(b).substr(b.rfind('/') + 1);
      if (la.size() != lb.size()) return la.size() < lb.size();
      return la != lb ? la < lb : a < b;
    });
    ReadOnlyListing listing(store, f);
    if (FAILED(listing.Begin())) return E_FAIL;
    std::string bytes;
    AddressCache addresses;
    for (const auto& name : names) {
      struct stat st;
      if (stat((dir + "/" + name).c_str(), &st) != 0) continue;
      // The flags are in the file: a change of them changes its time.
      if (auto* row = listing.Find(name); row && row->mtime == disk::MTimeOf(st)) {
        listing.Keep(name);
        continue;
      }
      if (!disk::ReadWholeFile(dir + "/" + name, kMaxEmlx, &bytes, &st)) continue;
      auto frame = ParseEmlxFrame(bytes);
      if (!frame) continue;
      std::string_view message = std::string_view(bytes).substr(frame->start, frame->length);
      auto flags = ParseEmlxFlags(std::string_view(bytes).substr(frame->start + frame->length));
      if (flags && (*flags & kEmlxDeleted)) continue;  // its row, if any, goes
      std::size_t end = message.find("\n\n");
      if (end == std::string_view::npos) end = message.find("\r\n\r\n");
      FileSummary p;
      p.uniq = p.name = name;
      p.sum = ParseHeaderBlock(message.substr(0, end), &addresses);
      p.flags = flags && (*flags & kEmlxRead) ? MSG_FLAG_READ : 0;
      p.size = static_cast<std::int64_t>(frame->length);
      p.mtime = disk::MTimeOf(st);
      p.received = disk::UnixToTicks(st.st_mtim.tv_sec);
      p.sent = p.sum.sentSeconds ? disk::UnixToTicks(*p.sum.sentSeconds) : p.received;
      if (FAILED(listing.Put(p))) return E_FAIL;
    }
    return listing.Finish();
  }

  HRESULT Open(Store& store, const FolderInfo& f, MESSAGEID id, REFIID riid,
               void** ppv) const override {
    if (!IsMessageInterface(riid)) return E_NOINTERFACE;
    std::string name;
    if (HRESULT hr = store.StoredName(f, id, &name); FAILED(hr)) return hr;
    const std::string path = store.FolderPath(f.dir) + "/" + name;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Errno();
    char head[80];
    ssize_t n = pread(fd, head, sizeof head, 0);
    struct stat st;
    auto frame = n > 0 && fstat(fd, &st) == 0
                     ? ParseEmlxFrame(std::string_view(head, static_cast<std::size_t>(n)),
                                      static_cast<std::size_t>(st.st_size))
                     : std::nullopt;
    if (!frame) {
      close(fd);
      return E_FAIL;
    }
    mime::FileSlice slice;
    slice.offset = static_cast<std::int64_t>(frame->start);
    slice.length = static_cast<std::int64_t>(frame->length);
    return OpenMessageSlice(fd, slice, riid, ppv);
  }
};

const EmlxFormat kEmlx;

// Reads the mailboxes inside the directory `path`, their dirs beginning with
// `prefix`.
void Walk(const std::string& path, const std::string& prefix, int depth, DirectoryVisits* visits,
          TreeScan* out) {
  // The directory's own time, under the key its folder's place maps back to.
  if (!visits->Enter(path, depth, prefix)) return;
  std::vector<std::string> bundles;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.' && IsBundleName(e->d_name)) bundles.emplace_back(e->d_name);
    closedir(d);
  }
  for (const auto& b : bundles) {
    std::string folder = prefix + b.substr(0, b.size() - kBundle.size());
    if (!disk::IsDirectory(path + "/" + b)) continue;
    out->dirs.push_back(folder);
    Walk(path + "/" + b, folder + "/", depth + 1, visits, out);
  }
}

class MailLayout final : public ReadOnlyTreeLayout {
 public:
  using ReadOnlyTreeLayout::ReadOnlyTreeLayout;

  void Scan(const std::string& root, const TreeScan&, TreeScan* out) const override {
    DirectoryVisits visits(out, kMaxDepth);
    Walk(root, "", 0, &visits, out);
    SortDirs(out);
  }
  // "Work/Projects" -> "<root>/Work.mbox/Projects.mbox", or the "mbox" file
  // inside; a dir ending in '/' stands for the mailbox directory itself.
  std::string Place(const std::string& root, std::string_view dir) const override {
    bool directory = !dir.empty() && dir.back() == '/';
    if (directory) dir.remove_suffix(1);
    if (dir.empty()) return root;
    std::string place = root;
    for (std::size_t start = 0;;) {
      std::size_t slash = std::min(dir.find('/', start), dir.size());
      place += "/";
      place += dir.substr(start, slash - start);
      place += kBundle;
      if (slash == dir.size()) break;
      start = slash + 1;
    }
    if (!directory && IsFile(place + "/mbox")) place += "/mbox";
    return place;
  }
  const MessageFormat* FormatOf(const std::string& root, std::string_view dir) const override {
    std::string place = Place(root, dir);
    return disk::IsDirectory(place) ? static_cast<const MessageFormat*>(&kEmlx) : mbox::Format();
  }
  std::vector<const MessageFormat*> Formats() const override { return {&kEmlx, mbox::Format()}; }
  std::string Describe(const std::string& root) const override {
    return "Mail store: the Apple Mail mailboxes in " + root +
           " (read only: nothing is written to them)";
  }
};

}  // namespace

bool IsMailboxDirectory(const std::string& root) {
  if (!disk::IsDirectory(root)) return false;
  bool found = false;
  if (DIR* d = opendir(root.c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.' || !IsBundleName(e->d_name)) continue;
      std::string bundle = root + "/" + e->d_name;
      if (IsFile(bundle + "/mbox") || disk::IsDirectory(bundle + "/Messages") ||
          disk::IsDirectory(bundle)) {
        found = disk::IsDirectory(bundle);
        if (found) break;
      }
    }
    closedir(d);
  }
  return found;
}

std::unique_ptr<FolderLayout> DetectLayout(const std::string& root, TreeScan* scan) {
  if (!IsMailboxDirectory(root)) return nullptr;
  MailLayout probe("/");
  probe.Scan(root, TreeScan(), scan);
  return std::make_unique<MailLayout>(FindInbox(scan->dirs));
}

}  // namespace store::apple
