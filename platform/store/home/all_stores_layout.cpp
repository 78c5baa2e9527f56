// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/home/all_stores_layout.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "platform/store/engine/disk.h"
#include "platform/store/engine/internal.h"
#include "platform/store/engine/message_format.h"
#include "platform/store/engine/store_engine.h"
#include "platform/store/evolution/local_layout.h"
#include "platform/store/home/discovery.h"
#include "platform/store/mbox/layout.h"

namespace store::home {

namespace {

// The top folder of a store holds no messages of its own.
class NoMessages final : public MessageFormat {
 public:
  HRESULT Sync(Store&, const FolderInfo&, bool) const override { return S_OK; }
  HRESULT Open(Store&, const FolderInfo&, MESSAGEID, REFIID, void**) const override {
    return engine::kNotFound;
  }
};

const NoMessages kNoMessages;

struct Member {
  StorePlace place;
  std::unique_ptr<FolderLayout> layout;
  bool writable = false;
  bool accountsAtTop = false;  // its top folders are top folders of the tree
};

std::string SortKey(std::size_t i) {
  char key[32];
  std::snprintf(key, sizeof key, "\x01%06zu", i);
  return key;
}

class AllStoresLayout final : public FolderLayout {
 public:
  AllStoresLayout(std::string home, std::vector<Member> members)
      : home_(std::move(home)), members_(std::move(members)) {
    for (const auto& m : members_)
      if (m.writable) writable_ = &m;
    // The default store's Inbox: ~/Maildir's, else the profile's, else the first one's.
    const Member* first = nullptr;
    for (const auto& m : members_) {
      if (m.layout->inboxDir() == "/") continue;
      if (!first || m.place.kind == Kind::kMaildir ||
          (m.place.kind == Kind::kThunderbird && first->place.kind != Kind::kMaildir))
        first = &m;
    }
    inbox_ = first ? first->place.key + ":" + first->layout->inboxDir() : "/";
  }

  void Scan(const std::string&, const TreeScan& previous, TreeScan* out) const override {
    *out = TreeScan();
    out->start = disk::NowNs();
    for (const auto& m : members_) {
      const std::string prefix = m.place.key + ":";
      TreeScan before, scan;
      for (const auto& [dir, listing] : previous.listings)
        if (dir.compare(0, prefix.size(), prefix) == 0)
          before.listings.emplace(dir.substr(prefix.size()), listing);
      m.layout->Scan(m.place.root, before, &scan);
      AddMemberScan(m, std::move(scan), out);
    }
    Finish(out);
  }

  // Adds a member's reading of its tree to the tree's, under its key.
  static void AddMemberScan(const Member& m, TreeScan scan, TreeScan* out) {
    const std::string prefix = m.place.key + ":";
    if (!m.accountsAtTop) out->dirs.push_back(m.place.key);
    for (const auto& dir : scan.dirs) out->dirs.push_back(prefix + dir);
    for (const auto& [dir, time] : scan.times) out->times.emplace_back(prefix + dir, time);
    for (auto& [dir, listing] : scan.listings)
      out->listings.emplace(prefix + dir, std::move(listing));
  }
  static void Finish(TreeScan* out) {
    std::sort(out->dirs.begin(), out->dirs.end());
    out->dirs.erase(std::unique(out->dirs.begin(), out->dirs.end()), out->dirs.end());
  }

  const std::string& inboxDir() const override { return inbox_; }

  std::optional<std::string> ParentDir(std::string_view dir) const override {
    std::string_view inner;
    const Member* m = Split(dir, &inner);
    if (!m || dir.find(':') == std::string_view::npos || dir == inbox_) return std::nullopt;
    if (auto parent = m->layout->ParentDir(inner)) return m->place.key + ":" + *parent;
    // A profile puts its default account's Inbox at its top; here it stays
    // in its account.
    if (m->accountsAtTop && inner == m->layout->inboxDir()) {
      std::size_t cut = inner.rfind('/');
      if (cut != std::string_view::npos)
        return m->place.key + ":" + std::string(inner.substr(0, cut));
    }
    if (m->accountsAtTop) return std::nullopt;
    return m->place.key;
  }

  std::string Name(std::string_view dir) const override {
    std::string_view inner;
    const Member* m = Split(dir, &inner);
    if (!m) return std::string(dir);
    if (dir.find(':') == std::string_view::npos) return m->place.name;
    if (inner == m->layout->inboxDir()) return "Inbox";
    if (m->accountsAtTop && !m->layout->ParentDir(inner))
      return m->place.name + ": " + m->layout->Name(inner);
    return m->layout->Name(inner);
  }

  // Each store's own top folder, and a profile's accounts, hold folders only.
  bool IsAccount(std::string_view dir) const override {
    std::string_view inner;
    const Member* m = Split(dir, &inner);
    if (!m) return false;
    if (dir.find(':') == std::string_view::npos) return true;
    return m->layout->IsAccount(inner);
  }

  std::optional<std::string> FixedSortKey(std::string_view dir) const override {
    std::string_view inner;
    const Member* m = Split(dir, &inner);
    if (!m) return std::nullopt;
    std::string order = SortKey(static_cast<std::size_t>(m - members_.data()));
    if (dir.find(':') == std::string_view::npos) return order;
    if (m->accountsAtTop && !ParentDir(dir))
      return order + m->layout->FixedSortKey(inner).value_or("");
    // Each store's Inbox stands first in it.
    if (inner == m->layout->inboxDir()) return std::string("\x01");
    return m->layout->FixedSortKey(inner);
  }

  char separator() const override { return writable_ ? writable_->layout->separator() : '/'; }

  bool AtOrBelow(std::string_view dir, std::string_view ancestor) const override {
    std::string_view a, d;
    const Member* ma = Split(ancestor, &a);
    const Member* md = Split(dir, &d);
    if (!ma || ma != md) return false;
    if (ancestor.find(':') == std::string_view::npos) return true;
    return dir.find(':') != std::string_view::npos && ma->layout->AtOrBelow(d, a);
  }

  std::string Place(const std::string&, std::string_view dir) const override {
    std::string_view inner;
    const Member* m = Split(dir, &inner);
    if (!m) return "/";
    if (dir.find(':') == std::string_view::npos) return m->place.root;
    return m->layout->Place(m->place.root, inner);
  }

  const MessageFormat* FormatOf(const std::string&, std::string_view dir) const override {
    std::string_view inner;
    const Member* m = Split(dir, &inner);
    if (!m || dir.find(':') == std::string_view::npos) return &kNoMessages;
    const MessageFormat* format = m->layout->FormatOf(m->place.root, inner);
    // Only ~/Maildir is written; a Maildir tree elsewhere is read as
    // another program's.
    if (!m->writable && format->writable()) return evolution::ReadOnlyMaildir();
    return format;
  }

  std::vector<const MessageFormat*> Formats() const override {
    std::vector<const MessageFormat*> all = {&kNoMessages, evolution::ReadOnlyMaildir()};
    for (const auto& m : members_)
      for (const MessageFormat* f : m.layout->Formats())
        if (std::find(all.begin(), all.end(), f) == all.end()) all.push_back(f);
    return all;
  }

  bool foreign() const override { return writable_ == nullptr; }

  std::string IndexPath(const std::string&) const override {
    // Beside the caches of the stores read alone; the directory is made
    // here since a tree with a writable store is no foreign one.
    std::string path = mbox::IndexPathFor(home_ + "/.mailquarry-all-stores");
    std::string dir = path.substr(0, path.rfind('/'));
    mkdir(dir.substr(0, dir.rfind('/')).c_str(), 0700);
    mkdir(dir.c_str(), 0700);
    return path;
  }

  std::string Describe(const std::string&) const override {
    std::string line = "Mail stores: ";
    for (std::size_t i = 0; i < members_.size(); ++i) {
      if (i > 0) line += ", ";
      line += members_[i].place.name + " " + members_[i].place.root;
    }
    line += writable_
                ? "; all but " + writable_->place.root + " read only: nothing is written to them"
                : "; read only: nothing is written to them";
    return line;
  }

  // ---- changes: only inside the writable store

  std::optional<std::string> ChildDir(const std::string& parentDir,
                                      std::string_view name) const override {
    std::string_view inner;
    if (!WritableDir(parentDir, &inner)) return std::nullopt;
    auto child = writable_->layout->ChildDir(std::string(inner), name);
    if (!child) return std::nullopt;
    return writable_->place.key + ":" + *child;
  }
  std::optional<std::string> MovedDir(const std::string& dir,
                                      const std::string& parentDir) const override {
    std::string_view inner, innerParent;
    if (!WritableDir(dir, &inner) || dir.find(':') == std::string::npos ||
        !WritableDir(parentDir, &innerParent))
      return std::nullopt;
    auto moved = writable_->layout->MovedDir(std::string(inner), std::string(innerParent));
    if (!moved) return std::nullopt;
    return writable_->place.key + ":" + *moved;
  }
  bool HoldsFolders(std::string_view dir) const override {
    std::string_view inner;
    if (!WritableDir(dir, &inner)) return false;
    return dir.find(':') == std::string_view::npos || writable_->layout->HoldsFolders(inner);
  }
  bool ChildInsideParent() const override {
    return writable_ && writable_->layout->ChildInsideParent();
  }
  bool MarksFolders() const override { return writable_ && writable_->layout->MarksFolders(); }
  std::vector<std::string> SubtreeDirs(const std::string&, const std::string& dir) const override {
    std::string_view inner;
    if (!WritableDir(dir, &inner) || dir.find(':') == std::string::npos) return {};
    std::vector<std::string> dirs;
    for (auto& d : writable_->layout->SubtreeDirs(writable_->place.root, std::string(inner)))
      dirs.push_back(writable_->place.key + ":" + d);
    return dirs;
  }
  std::string EntryDir(const std::string& dir) const override {
    std::string_view inner;
    if (!WritableDir(dir, &inner)) return dir;
    return writable_->place.key + ":" + writable_->layout->EntryDir(std::string(inner));
  }

 private:
  // The member whose folder `dir` is, and the folder's dir in it.
  const Member* Split(std::string_view dir, std::string_view* inner) const {
    std::size_t colon = dir.find(':');
    std::string_view key = dir.substr(0, colon);
    *inner = colon == std::string_view::npos ? std::string_view() : dir.substr(colon + 1);
    for (const auto& m : members_)
      if (m.place.key == key) return &m;
    return nullptr;
  }
  bool WritableDir(std::string_view dir, std::string_view* inner) const {
    return writable_ && Split(dir, inner) == writable_;
  }

  std::string home_;
  std::vector<Member> members_;
  const Member* writable_ = nullptr;
  std::string inbox_;
};

}  // namespace

std::unique_ptr<FolderLayout> DetectAllStores(const std::string& home, TreeScan* scan) {
  std::vector<Member> members;
  std::vector<TreeScan> scans;
  *scan = TreeScan();
  scan->start = disk::NowNs();
  for (auto& place : FindStores(home)) {
    TreeScan read;
    auto layout = OpenPlace(place, &read);
    if (!layout) continue;
    scans.push_back(std::move(read));
    Member m;
    m.writable = place.kind == Kind::kMaildir && !layout->foreign();
    m.accountsAtTop = place.kind == Kind::kThunderbird;
    m.place = std::move(place);
    m.layout = std::move(layout);
    members.push_back(std::move(m));
  }
  if (members.empty()) return nullptr;
  // The readings made while each store was recognised make the tree's first.
  for (std::size_t i = 0; i < members.size(); ++i)
    AllStoresLayout::AddMemberScan(members[i], std::move(scans[i]), scan);
  AllStoresLayout::Finish(scan);
  return std::make_unique<AllStoresLayout>(home, std::move(members));
}

}  // namespace store::home
