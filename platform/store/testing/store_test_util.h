// SPDX-License-Identifier: LGPL-2.1-or-later
// Small readers over the store interfaces, shared by the store's tests.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/com/memory.h"
#include "platform/mime/mime.h"
#include "platform/store/objects.h"
#include "platform/store/store.h"
#include "platform/testing/scratch.h"

namespace store {

inline com::ComPtr<IStoreNamespace> OpenStore() {
  com::ComPtr<IStoreNamespace> ns;
  EXPECT_EQ(CreateStoreNamespace(IID_IStoreNamespace, ns.ReleaseAndGetVoidAddress()), S_OK);
  EXPECT_EQ(ns->Initialize(nullptr, 0), S_OK);
  return ns;
}

struct FolderRow {
  STOREFOLDERID id;
  std::string name;
  int depth;
  LONG subFolders;
  DWORD messages, unread, sfType;
};

inline void WalkFolders(IStoreNamespace* ns, STOREFOLDERID parent, int depth,
                        std::vector<FolderRow>* out) {
  FOLDERPROPS props{};
  props.cbSize = FOLDERPROPS_SIZE;
  HENUMSTORE e = nullptr;
  HRESULT hr = ns->GetFirstSubFolder(parent, &props, &e);
  while (hr == S_OK) {
    out->push_back({props.dwFolderId, props.szName, depth, props.cSubFolders, props.cMessage,
                    props.cUnread, props.sfType});
    WalkFolders(ns, props.dwFolderId, depth + 1, out);
    hr = ns->GetNextSubFolder(e, &props);
  }
  EXPECT_GE(hr, 0);
  if (e) {
    EXPECT_EQ(ns->GetSubFolderClose(e), S_OK);
  }
}

inline std::vector<FolderRow> FolderTree(IStoreNamespace* ns) {
  std::vector<FolderRow> rows;
  WalkFolders(ns, FOLDERID_ROOT, 0, &rows);
  return rows;
}

inline std::vector<std::string> Names(IStoreNamespace* ns) {
  std::vector<std::string> names;
  for (const auto& f : FolderTree(ns)) names.push_back(f.name);
  return names;
}

inline STOREFOLDERID IdOf(IStoreNamespace* ns, const std::string& name) {
  for (const auto& f : FolderTree(ns))
    if (f.name == name) return f.id;
  ADD_FAILURE() << "no folder " << name;
  return FOLDERID_INVALID;
}

inline com::ComPtr<IStoreFolder> OpenById(IStoreNamespace* ns, STOREFOLDERID id) {
  com::ComPtr<IStoreFolder> folder;
  EXPECT_EQ(ns->OpenFolder(id, 0, folder.ReleaseAndGetAddressOf()), S_OK);
  return folder;
}

inline com::ComPtr<IStoreFolder> OpenByName(IStoreNamespace* ns, const std::string& name) {
  return OpenById(ns, IdOf(ns, name));
}

struct Msg {
  MESSAGEID id;
  std::string subject, normalSubject, from, to;
  bool hasSubject, hasFrom, hasTo, hasMessageId;
  DWORD size, flags;
  std::int64_t received, sent;
};

inline std::int64_t Ticks(FILETIME ft) {
  return static_cast<std::int64_t>((std::uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

inline std::vector<Msg> Messages(IStoreFolder* folder) {
  std::vector<Msg> out;
  MESSAGEPROPS p{};
  p.cbSize = MESSAGEPROPS_SIZE;
  HENUMSTORE e = nullptr;
  HRESULT hr = folder->GetFirstMessage(0, 0, MESSAGEID_FIRST, &p, &e);
  auto str = [](LPSTR s) { return s ? std::string(s) : std::string(); };
  while (hr == S_OK) {
    out.push_back({p.dwMessageId, str(p.pszSubject), str(p.pszNormalSubject), str(p.pszDisplayFrom),
                   str(p.pszDisplayTo), p.pszSubject != nullptr, p.pszDisplayFrom != nullptr,
                   p.pszDisplayTo != nullptr, p.pszMessageId != nullptr, p.cbMessage, p.dwFlags,
                   Ticks(p.ftReceived), Ticks(p.ftSent)});
    EXPECT_EQ(folder->FreeMessageProps(&p), S_OK);
    hr = folder->GetNextMessage(e, 0, &p);
  }
  EXPECT_GE(hr, 0);
  if (e) {
    EXPECT_EQ(folder->GetMessageClose(e), S_OK);
  }
  return out;
}

inline std::string ReadStream(IStoreFolder* folder, MESSAGEID id) {
  com::ComPtr<IStream> s;
  if (folder->OpenMessage(id, IID_IStream, s.ReleaseAndGetVoidAddress()) != S_OK) return "<none>";
  std::string text;
  char buf[4095];
  ULONG n = 0;
  while (SUCCEEDED(s->Read(buf, sizeof buf, &n)) && n > 0) text.append(buf, n);
  return text;
}

// Every folder in tree order: its indented name (" [inbox]" after the inbox
// when `markInbox`) and the subjects it lists, "*" before the unread.
inline std::vector<std::string> Listing(IStoreNamespace* ns, bool markInbox = false) {
  std::vector<std::string> rows;
  for (const auto& f : FolderTree(ns)) {
    std::string row = std::string(2 * f.depth, ' ') + f.name;
    if (markInbox && f.sfType == FOLDER_INBOX) row += " [inbox]";
    auto folder = OpenById(ns, f.id);
    for (const auto& m : Messages(folder.Get()))
      row += std::string(" | ") + (m.flags & MSG_FLAG_READ ? "" : "*") + m.subject;
    rows.push_back(row);
  }
  return rows;
}

// The contents of a message's attachments as the MIME layer saves them.
inline std::vector<std::string> Attachments(IStoreFolder* folder, MESSAGEID id) {
  std::vector<std::string> contents;
  com::ComPtr<IMimeMessage> parsed;
  ULONG count = 0;
  HBODY* bodies = nullptr;
  if (folder->OpenMessage(id, IID_IMimeMessage, parsed.ReleaseAndGetVoidAddress()) != S_OK ||
      parsed->GetAttachments(&count, &bodies) != S_OK) {
    ADD_FAILURE() << "message " << id << " does not open as MIME";
    return contents;
  }
  mqtest::TempDir scratch;
  for (ULONG i = 0; i < count; ++i) {
    com::ComPtr<IMimeBody> body;
    const std::string out = scratch / std::to_string(i);
    if (parsed->BindToObject(bodies[i], IID_IMimeBody, body.ReleaseAndGetVoidAddress()) != S_OK ||
        body->SaveToFile(IET_BINARY, out.c_str()) != S_OK)
      ADD_FAILURE() << "attachment " << i << " of message " << id << " is not saved";
    contents.push_back(mqtest::ReadFile(out));
  }
  CoTaskMemFree(bodies);
  return contents;
}

// The names in a directory (no dot files), sorted.
inline std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Every entry below `root` by relative path: a file's bytes (and time when
// `withTimes`), "<dir>" for a directory.
inline std::map<std::string, std::string> TreeSnapshot(const std::string& root,
                                                       bool withTimes = false) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> all;
  for (const auto& e : fs::recursive_directory_iterator(root))
    all[fs::relative(e.path(), root).string()] =
        !e.is_regular_file() ? "<dir>"
        : withTimes          ? mqtest::ReadFile(e.path().string()) +
                          std::to_string(e.last_write_time().time_since_epoch().count())
                    : mqtest::ReadFile(e.path().string());
  return all;
}

// A new message written through a stream and committed; 0 when refused.
inline MESSAGEID Commit(IStoreFolder* folder, const std::string& text) {
  com::ComPtr<IStream> s;
  MESSAGEID id = 0;
  if (folder->CreateStream(nullptr, 0, s.ReleaseAndGetAddressOf(), &id) != S_OK ||
      s->Write(text.data(), static_cast<ULONG>(text.size()), nullptr) != S_OK ||
      folder->CommitStream(nullptr, 0, 0, s.Get(), id, nullptr) != S_OK)
    return 0;
  return id;
}

}  // namespace store
