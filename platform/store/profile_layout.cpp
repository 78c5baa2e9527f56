// The folders of a Thunderbird profile: the default account's Inbox first, then
// one top-level folder for each account, in the order Thunderbird shows them
// (thunderbird_profile.h), holding the folders of the account's directory as an
// mbox directory holds them.
#include <strings.h>

#include <algorithm>
#include <cstdio>

#include "platform/store/layout.h"
#include "platform/store/maildir.h"
#include "platform/store/thunderbird_profile.h"

namespace store {
namespace md = maildir;

namespace {

bool IsInboxName(std::string_view name) {
  return name.size() == 5 && strncasecmp(name.data(), "INBOX", 5) == 0;
}

// A path without empty, "." or ".." parts (after a leading '/' for an absolute one).
bool PlainPath(std::string_view path) {
  if (!path.empty() && path[0] == '/') path.remove_prefix(1);
  if (path.empty()) return false;
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t slash = std::min(path.find('/', start), path.size());
    std::string_view part = path.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = slash + 1;
  }
  return true;
}

}  // namespace

bool FolderLayout::DetectProfile(const std::string& root, FolderLayout* layout, TreeScan* scan) {
  *layout = FolderLayout();
  *scan = TreeScan();
  layout->mbox_ = true;
  std::string base = root;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  for (const auto& account : thunderbird::ReadAccounts(base)) {
    // An account's folders are named below the profile; an account kept
    // elsewhere (a local directory chosen in Thunderbird's settings) by its
    // absolute path.
    std::string dir = account.directory;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir.compare(0, base.size() + 1, base + "/") == 0) dir.erase(0, base.size() + 1);
    if (!PlainPath(dir)) continue;
    layout->accounts_.emplace_back(dir, account.name);
  }
  if (layout->accounts_.empty()) return false;
  layout->ScanProfile(base, scan);
  // The default account's Inbox: "Inbox" (local and POP accounts) or
  // "INBOX" (IMAP), as a file or a per-message folder.
  layout->inboxDir_ = "/";
  const std::string& first = layout->accounts_.front().first;
  for (const auto& dir : scan->dirs) {
    if (dir.size() == first.size() + 6 && dir.compare(0, first.size() + 1, first + "/") == 0 &&
        IsInboxName(std::string_view(dir).substr(first.size() + 1)))
      layout->inboxDir_ = dir;
  }
  return true;
}

void FolderLayout::ScanProfile(const std::string& root, TreeScan* out) const {
  out->start = md::NowNs();
  for (const auto& [dir, name] : accounts_) {
    out->dirs.push_back(dir);  // the account: a folder that holds folders
    ScanMboxDirectory(dir[0] == '/' ? dir : root + "/" + dir, dir + "/", out);
  }
  std::sort(out->dirs.begin(), out->dirs.end());
  out->dirs.erase(std::unique(out->dirs.begin(), out->dirs.end()), out->dirs.end());
}

const std::pair<std::string, std::string>* FolderLayout::AccountOf(std::string_view dir) const {
  for (const auto& account : accounts_) {
    const std::string& a = account.first;
    if (dir == a || (dir.size() > a.size() && dir[a.size()] == '/' && dir.substr(0, a.size()) == a))
      return &account;
  }
  return nullptr;
}

std::optional<std::string> FolderLayout::FixedSortKey(std::string_view dir) const {
  for (std::size_t i = 0; i < accounts_.size(); ++i) {
    if (dir == accounts_[i].first) {
      char key[32];
      std::snprintf(key, sizeof key, "\x01%06zu", i);
      return std::string(key);
    }
  }
  const auto* account = AccountOf(dir);
  if (account && IsInboxName(dir.substr(account->first.size() + 1))) return std::string("\x01");
  return std::nullopt;
}

}  // namespace store
