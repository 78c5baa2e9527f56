// SPDX-License-Identifier: LGPL-2.1-or-later
// The folders of a Thunderbird profile: the default account's Inbox first, then
// one top-level folder for each account, in the order Thunderbird shows them
// (profiles.h), holding the folders of the account's directory as an mbox
// directory holds them.
#include <strings.h>

#include <memory>
#include <utility>
#include <vector>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/store/thunderbird/profile_layout.h"

#include "platform/store/engine/disk.h"
#include "platform/store/maildir/format.h"
#include "platform/store/mbox/layout.h"
#include "platform/store/mbox/message_key.h"
#include "platform/store/thunderbird/profiles.h"

namespace store::thunderbird {

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

// Thunderbird keeps a message's state in its X-Mozilla-Status header; one it
// deleted is only waiting to be removed.
bool MozillaState(std::string_view headers, DWORD* flags) {
  mbox::MessageFacts facts = mbox::ReadFacts(headers);
  *flags |= facts.flags;
  return !facts.deleted;
}

const maildir::MaildirFormat kPerMessage(false, MozillaState);

class ProfileLayout final : public mbox::DirectoryLayout {
 public:
  ProfileLayout(std::vector<std::pair<std::string, std::string>> accounts,
                const MessageFormat* files)
      : DirectoryLayout(false, "/", files, &kPerMessage), accounts_(std::move(accounts)) {}

  void SetInbox(std::string dir) { inbox_ = std::move(dir); }
  const std::vector<std::pair<std::string, std::string>>& accounts() const { return accounts_; }

  void Scan(const std::string& root, const TreeScan&, TreeScan* out) const override {
    *out = TreeScan();
    out->start = disk::NowNs();
    for (const auto& [dir, name] : accounts_) {
      out->dirs.push_back(dir);  // the account: a folder that holds folders
      mbox::ScanDirectory(dir[0] == '/' ? dir : root + "/" + dir, dir + "/", out);
    }
    std::sort(out->dirs.begin(), out->dirs.end());
    out->dirs.erase(std::unique(out->dirs.begin(), out->dirs.end()), out->dirs.end());
  }

  std::optional<std::string> ParentDir(std::string_view dir) const override {
    if (const auto* account = AccountOf(dir); account && account->first == dir) return std::nullopt;
    // The default account's Inbox stands first at the top, as a Maildir's
    // Inbox does, so a program that starts on the first folder starts on the
    // mail that came in, not on an account that holds no messages.
    if (dir == inbox_) return std::nullopt;
    return DirectoryLayout::ParentDir(dir);
  }

  std::string Name(std::string_view dir) const override {
    if (const auto* account = AccountOf(dir)) {
      if (account->first == dir) return account->second;
      // Thunderbird shows every account's Inbox (IMAP's INBOX too) as "Inbox".
      std::string_view rest = dir.substr(account->first.size() + 1);
      if (rest.size() == 5 && strncasecmp(rest.data(), "INBOX", 5) == 0) return "Inbox";
    }
    return DirectoryLayout::Name(dir);
  }

  // The accounts in Thunderbird's order, each account's Inbox first.
  std::optional<std::string> FixedSortKey(std::string_view dir) const override {
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

  bool IsAccount(std::string_view dir) const override {
    const auto* account = AccountOf(dir);
    return account && account->first == dir;
  }

  std::string Describe(const std::string& root) const override {
    return "Mail store: the Thunderbird profile " + root + " (read only: nothing is written to it)";
  }

 private:
  // The account whose directory is `dir` or holds it; nullptr when none.
  const std::pair<std::string, std::string>* AccountOf(std::string_view dir) const {
    for (const auto& account : accounts_) {
      const std::string& a = account.first;
      if (dir == a ||
          (dir.size() > a.size() && dir[a.size()] == '/' && dir.substr(0, a.size()) == a))
        return &account;
    }
    return nullptr;
  }

  // Directory below the root (or absolute), name; in display order.
  std::vector<std::pair<std::string, std::string>> accounts_;
};

}  // namespace

const MessageFormat* PerMessageFormat() {
  return &kPerMessage;
}

std::unique_ptr<FolderLayout> DetectProfileLayout(const std::string& root, TreeScan* scan,
                                                  const MessageFormat* files) {
  if (!disk::IsDirectory(root) || !IsProfile(root)) return nullptr;
  std::string base = root;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  std::vector<std::pair<std::string, std::string>> accounts;
  for (const auto& account : ReadAccounts(base)) {
    // An account's folders are named below the profile; an account kept
    // elsewhere (a local directory chosen in Thunderbird's settings) by its
    // absolute path.
    std::string dir = account.directory;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir.compare(0, base.size() + 1, base + "/") == 0) dir.erase(0, base.size() + 1);
    if (!PlainPath(dir)) continue;
    accounts.emplace_back(dir, account.name);
  }
  if (accounts.empty()) return nullptr;
  auto layout = std::make_unique<ProfileLayout>(std::move(accounts), files);
  layout->Scan(base, TreeScan(), scan);
  // The default account's Inbox: "Inbox" (local and POP accounts) or
  // "INBOX" (IMAP), as a file or a per-message folder.
  const std::string& first = layout->accounts().front().first;
  for (const auto& dir : scan->dirs) {
    if (dir.size() == first.size() + 6 && dir.compare(0, first.size() + 1, first + "/") == 0 &&
        IsInboxName(std::string_view(dir).substr(first.size() + 1)))
      layout->SetInbox(dir);
  }
  return layout;
}

}  // namespace store::thunderbird
