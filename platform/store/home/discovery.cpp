// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/home/discovery.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/store/claws/folderlist.h"
#include "platform/store/engine/disk.h"
#include "platform/store/evolution/imap_cache.h"
#include "platform/store/evolution/local_layout.h"
#include "platform/store/geary/layout.h"
#include "platform/store/kmail/layout.h"
#include "platform/store/maildir/layouts.h"
#include "platform/store/mbox/format.h"
#include "platform/store/mbox/layout.h"
#include "platform/store/mh/layout.h"
#include "platform/store/thunderbird/profile_layout.h"
#include "platform/store/thunderbird/profiles.h"

// After the automation types, whose TRUE and FALSE GLib would define first.
#include <glib.h>

namespace store::home {

namespace {

constexpr std::size_t kMaxFolderList = 4 << 20;

std::string ReadSmall(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text(kMaxFolderList, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

// A short stable tag of a path, for keys of stores there can be several of.
std::string Tag(const std::string& path) {
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : path) hash = (hash ^ c) * 16777619u;
  char tag[16];
  std::snprintf(tag, sizeof tag, "%08x", hash);
  return tag;
}

class Finder {
 public:
  explicit Finder(const std::string& home) : home_(home) {}

  // Adds the store when its place is new (by device and inode).
  void Add(Kind kind, std::string key, std::string name, const std::string& root,
           std::string inboxHint = "") {
    struct stat st;
    if (stat(root.c_str(), &st) != 0 || !seen_.insert({st.st_dev, st.st_ino}).second) return;
    found_.push_back({kind, std::move(key), std::move(name), root, std::move(inboxHint)});
  }

  // The MH mailboxes of a Claws Mail or Sylpheed folder list.
  void AddMhMailboxes(const std::string& folderList, const std::string& program) {
    for (const auto& box : claws::ParseFolderList(ReadSmall(folderList))) {
      if (box.type != "mh" || box.path.empty()) continue;
      std::string root = box.path[0] == '/' ? box.path : home_ + "/" + box.path;
      if (!mh::IsMailbox(root)) continue;
      Add(Kind::kMh, "mh-" + Tag(root), program + ": " + box.name, root, box.inbox);
    }
  }

  std::vector<StorePlace> Take() { return std::move(found_); }

 private:
  std::string home_;
  std::set<std::pair<dev_t, ino_t>> seen_;
  std::vector<StorePlace> found_;
};

std::vector<std::string> SortedEntries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The name Evolution shows for the account whose source is `uid`: its
// DisplayName in ~/.config/evolution/sources/<uid>.source; the uid when
// there is none.
std::string EvolutionAccountName(const std::string& home, const std::string& uid) {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string dir = config && *config == '/' ? config : home + "/.config";
  std::string name = uid;
  GKeyFile* file = g_key_file_new();
  if (g_key_file_load_from_file(file, (dir + "/evolution/sources/" + uid + ".source").c_str(),
                                G_KEY_FILE_NONE, nullptr)) {
    if (gchar* shown = g_key_file_get_string(file, "Data Source", "DisplayName", nullptr)) {
      if (*shown && g_utf8_validate(shown, -1, nullptr)) name = shown;
      g_free(shown);
    }
  }
  g_key_file_free(file);
  return name;
}

std::string SpoolPath() {
  if (const char* mail = std::getenv("MAIL"); mail && *mail) return mail;
  const char* user = std::getenv("USER");
  std::string name = user && *user ? user : "";
  if (name.empty())
    if (struct passwd* pw = getpwuid(getuid())) name = pw->pw_name;
  return name.empty() ? std::string() : "/var/mail/" + name;
}

}  // namespace

std::vector<StorePlace> FindStores(const std::string& home) {
  Finder finder(home);
  if (disk::IsDirectory(home + "/Maildir"))
    finder.Add(Kind::kMaildir, "maildir", "Maildir", home + "/Maildir");
  if (auto profile = thunderbird::FindDefaultProfile(home))
    finder.Add(Kind::kThunderbird, "thunderbird", "Thunderbird", *profile);
  std::string evolution = home + "/.local/share/evolution/mail/local";
  if (evolution::IsLocalStore(evolution))
    finder.Add(Kind::kEvolution, "evolution", "Evolution: On This Computer", evolution);
  // Evolution's offline copies, in its cache (XDG_CACHE_HOME, else ~/.cache).
  const char* cache = std::getenv("XDG_CACHE_HOME");
  for (const std::string& base :
       {std::string(cache && *cache == '/' ? cache : ""), home + "/.cache"}) {
    if (base.empty()) continue;
    for (const auto& uid : SortedEntries(base + "/evolution/mail")) {
      std::string root = base + "/evolution/mail/" + uid;
      if (evolution::IsImapCache(root))
        finder.Add(Kind::kEvolutionImap, "evolution-" + Tag(uid),
                   "Evolution: " + EvolutionAccountName(home, uid), root);
    }
  }
  std::string kmail = home + "/.local/share/local-mail";
  if (kmail::IsLocalMail(kmail)) finder.Add(Kind::kKMail, "kmail", "KMail: Local Folders", kmail);
  finder.AddMhMailboxes(home + "/.claws-mail/folderlist.xml", "Claws Mail");
  finder.AddMhMailboxes(home + "/.sylpheed-2.0/folderlist.xml", "Sylpheed");
  // Their IMAP caches are MH too: imapcache/<server>/<login>/.
  for (const auto& [dir, program] :
       {std::pair<std::string, std::string>{".claws-mail", "Claws Mail"},
        {".sylpheed-2.0", "Sylpheed"}}) {
    std::string cache = home + "/" + dir + "/imapcache";
    for (const auto& server : SortedEntries(cache))
      for (const auto& login : SortedEntries(cache + "/" + server)) {
        std::string root = cache + "/" + server + "/" + login;
        if (mh::IsMailbox(root))
          finder.Add(Kind::kMh, "mh-" + Tag(root), program + ": " + login + " on " + server, root);
      }
  }
  // Geary keeps a directory per account, named by its address.
  std::string geary = home + "/.local/share/geary";
  for (const auto& account : SortedEntries(geary))
    if (geary::IsAccount(geary + "/" + account))
      finder.Add(Kind::kGeary, "geary-" + Tag(geary + "/" + account), "Geary: " + account,
                 geary + "/" + account);
  std::string spool = SpoolPath();
  if (!spool.empty() && mbox::IsMboxFile(spool))
    finder.Add(Kind::kSpool, "spool", "Mail spool", spool);
  // ~/Mail is also Claws Mail's default mailbox, found above by its list.
  if (disk::IsDirectory(home + "/Mail"))
    finder.Add(Kind::kMailDirectory, "mail", "Mail", home + "/Mail");
  return finder.Take();
}

std::unique_ptr<FolderLayout> OpenPlace(const StorePlace& place, TreeScan* scan) {
  *scan = TreeScan();
  const std::string& root = place.root;
  switch (place.kind) {
    case Kind::kMaildir:
      return maildir::DetectLayout(root, scan);
    case Kind::kThunderbird:
      return thunderbird::DetectProfileLayout(root, scan, mbox::Format());
    case Kind::kEvolution:
      return evolution::DetectLocalLayout(root, scan);
    case Kind::kEvolutionImap:
      return evolution::DetectImapCache(root, scan);
    case Kind::kKMail:
      return kmail::DetectLayout(root, scan);
    case Kind::kMh:
      return mh::DetectLayout(root, scan, place.inboxHint);
    case Kind::kGeary:
      return geary::DetectLayout(root, scan);
    case Kind::kSpool:
      return mbox::DetectLayout(root, scan, mbox::Format(), thunderbird::PerMessageFormat());
    case Kind::kMailDirectory:
      if (auto layout = mh::DetectLayout(root, scan)) return layout;
      *scan = TreeScan();
      if (auto layout = maildir::DetectLayout(root, scan)) return layout;
      *scan = TreeScan();
      return mbox::DetectLayout(root, scan, mbox::Format(), thunderbird::PerMessageFormat());
  }
  return nullptr;
}

}  // namespace store::home
