// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/apple/mail_layout.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <unordered_map>

#include "platform/mime/mime.h"
#include "platform/store/apple/emlx.h"
#include "platform/store/engine/disk.h"
#include "platform/store/engine/file_reader.h"
#include "platform/store/engine/internal.h"
#include "platform/store/engine/store_engine.h"
#include "platform/store/maildir/names.h"
#include "platform/store/mbox/format.h"
#include "platform/store/mbox/layout.h"

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

std::int64_t MTimeOf(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
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

bool ReadAll(const std::string& path, std::string* out, struct stat* st) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fstat(fd, st) == 0 && S_ISREG(st->st_mode) &&
            static_cast<std::size_t>(st->st_size) <= kMaxEmlx;
  if (ok) {
    out->resize(static_cast<std::size_t>(st->st_size));
    std::size_t got = 0;
    while (got < out->size()) {
      ssize_t n = read(fd, out->data() + got, out->size() - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    out->resize(got);
  }
  close(fd);
  return ok;
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
    struct Known {
      MESSAGEID id;
      std::int64_t size, mtime;
      bool seen = false;
    };
    std::unordered_map<std::string, Known> known;
    {
      Statement& q =
          store.Query("SELECT name, id, size, mtime FROM messages WHERE folder = ? AND sub < 2");
      q.Bind(1, f.id);
      while (q.Step() == SQLITE_ROW)
        known.emplace(q.Text(0), Known{static_cast<MESSAGEID>(q.Int(1)), q.Int(2), q.Int(3)});
      q.Reset();
    }
    if (FAILED(store.Begin())) return E_FAIL;
    bool changed = false;
    std::string bytes;
    AddressCache addresses;
    for (const auto& name : names) {
      auto it = known.find(name);
      struct stat st;
      if (stat((dir + "/" + name).c_str(), &st) != 0) continue;
      if (it != known.end() && it->second.mtime == MTimeOf(st)) {
        it->second.seen = true;
        continue;
      }
      if (!ReadAll(dir + "/" + name, &bytes, &st)) continue;
      auto frame = ParseEmlxFrame(bytes);
      if (!frame) continue;
      std::string_view message = std::string_view(bytes).substr(frame->start, frame->length);
      auto flags = ParseEmlxFlags(std::string_view(bytes).substr(frame->start + frame->length));
      if (flags && (*flags & kEmlxDeleted)) continue;  // its row, if any, goes below
      std::size_t end = message.find("\n\n");
      if (end == std::string_view::npos) end = message.find("\r\n\r\n");
      Summary sum = ParseHeaderBlock(message.substr(0, end), &addresses);
      std::int64_t received = disk::UnixToTicks(st.st_mtim.tv_sec);
      DWORD rowFlags = (flags && (*flags & kEmlxRead) ? MSG_FLAG_READ : 0) |
                       (sum.attachment ? MSG_FLAG_ATTACHMENT : 0);
      Statement& s = store.Query(
          "INSERT INTO messages(folder, uniq, sub, name, flags, size, mtime, received, sent,"
          " subject, norm_subject, disp_from, disp_to, message_id)"
          " VALUES(?1, ?2, 0, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)"
          " ON CONFLICT(folder, uniq) DO UPDATE SET flags = excluded.flags, size = excluded.size,"
          " mtime = excluded.mtime, received = excluded.received, sent = excluded.sent,"
          " subject = excluded.subject, norm_subject = excluded.norm_subject,"
          " disp_from = excluded.disp_from, disp_to = excluded.disp_to,"
          " message_id = excluded.message_id");
      s.Bind(1, f.id)
          .Bind(2, name)
          .Bind(3, rowFlags)
          .Bind(4, static_cast<std::int64_t>(frame->length))
          .Bind(5, MTimeOf(st))
          .Bind(6, received)
          .Bind(7, sum.sentSeconds ? disk::UnixToTicks(*sum.sentSeconds) : received)
          .Bind(8, sum.subject)
          .Bind(9, sum.normalSubject)
          .Bind(10, sum.displayFrom)
          .Bind(11, sum.displayTo)
          .Bind(12, sum.messageId);
      std::int64_t id = store.UpsertMessageRow(s, f.id, name);
      if (id <= 0 || id > kMaxId) {
        store.Rollback();
        return E_FAIL;
      }
      if (it != known.end()) it->second.seen = true;
      changed = true;
    }
    for (const auto& [name, k] : known) {
      if (k.seen) continue;
      store.Query("DELETE FROM messages WHERE id = ?").Bind(1, k.id).Step();
      changed = true;
    }
    if (changed) store.BumpGeneration(f.id);
    return store.Commit();
  }

  HRESULT Open(Store& store, const FolderInfo& f, MESSAGEID id, REFIID riid,
               void** ppv) const override {
    const bool asStream =
        riid == IID_IStream || riid == IID_ISequentialStream || riid == IID_IUnknown;
    if (!asStream && riid != IID_IMimeMessage) return E_NOINTERFACE;
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
    if (!asStream) return mime::OpenMessageSlice(fd, slice, reinterpret_cast<IMimeMessage**>(ppv));
    com::ComPtr<IStream> stream;
    HRESULT hr = mime::OpenSliceStream(fd, slice, stream.ReleaseAndGetAddressOf());
    if (FAILED(hr)) return hr;
    return stream->QueryInterface(riid, ppv);
  }
};

const EmlxFormat kEmlx;

// Reads the mailboxes inside the directory `path`, their dirs beginning with
// `prefix`.
void Walk(const std::string& path, const std::string& prefix, int depth,
          std::set<std::pair<dev_t, ino_t>>* visited, TreeScan* out) {
  struct stat st;
  if (depth > kMaxDepth || stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      !visited->insert({st.st_dev, st.st_ino}).second)
    return;
  // The directory's own time, under the key its folder's place maps back to.
  out->times.emplace_back(prefix.empty() ? "" : prefix, MTimeOf(st));
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
    Walk(path + "/" + b, folder + "/", depth + 1, visited, out);
  }
}

class MailLayout final : public FolderLayout {
 public:
  explicit MailLayout(std::string inbox) : inbox_(std::move(inbox)) {}

  void Scan(const std::string& root, const TreeScan&, TreeScan* out) const override {
    *out = TreeScan();
    out->start = disk::NowNs();
    std::set<std::pair<dev_t, ino_t>> visited;
    Walk(root, "", 0, &visited, out);
    std::sort(out->dirs.begin(), out->dirs.end());
    out->dirs.erase(std::unique(out->dirs.begin(), out->dirs.end()), out->dirs.end());
  }
  const std::string& inboxDir() const override { return inbox_; }
  std::optional<std::string> ParentDir(std::string_view dir) const override {
    std::size_t cut = dir.rfind('/');
    if (cut == std::string_view::npos || cut == 0) return std::nullopt;
    return std::string(dir.substr(0, cut));
  }
  std::string Name(std::string_view dir) const override {
    return maildir::ValidUtf8(dir.substr(dir.rfind('/') + 1));
  }
  char separator() const override { return '/'; }
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
  bool foreign() const override { return true; }
  std::string IndexPath(const std::string& root) const override { return mbox::IndexPathFor(root); }
  std::string Describe(const std::string& root) const override {
    return "Mail store: the Apple Mail mailboxes in " + root +
           " (read only: nothing is written to them)";
  }

 private:
  std::string inbox_;
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
  std::string inbox = "/";
  for (const auto& dir : scan->dirs)
    if (dir.size() == 5 && strncasecmp(dir.c_str(), "inbox", 5) == 0) inbox = dir;
  return std::make_unique<MailLayout>(inbox);
}

}  // namespace store::apple
