// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/store_folders.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unordered_set>

#include "extractor/edit_distance.h"
#include "platform/activation/activation.h"
#include "platform/store/store.h"

namespace mailsift {
namespace {

// As many suggestions as a reader takes in at a glance.
constexpr std::size_t kMaxSuggestions = 5;

// The same walk as the control's folder-list load, so that positions agree:
// each level in the store's order, every folder followed by its own tree.
// The tree's counts may be as the store last listed a folder (an mbox file is
// counted by reading it); an open folder counts its messages as they are now.
// With the count, what Thunderbird lists in the folder, where it tells.
void CountNow(IStoreNamespace& store, STOREFOLDERID id, StoreFolder* out) {
  com::ComPtr<IStoreFolder> folder;
  if (FAILED(store.OpenFolder(id, 0, folder.ReleaseAndGetAddressOf()))) return;
  FOLDERPROPS props{};
  props.cbSize = FOLDERPROPS_SIZE;
  if (SUCCEEDED(folder->GetFolderProps(0, &props))) out->messages = props.cMessage;
  com::ComPtr<IStoreFolderListed> listed;
  DWORD count = 0;
  if (SUCCEEDED(
          folder->QueryInterface(IID_IStoreFolderListed, listed.ReleaseAndGetVoidAddress())) &&
      listed->GetListedCount(&count) == S_OK)
    out->listed = static_cast<long>(count);
}

void ReadLevel(IStoreNamespace& store, STOREFOLDERID parent, const StoreFolder* parentFolder,
               bool exactCounts, std::vector<StoreFolder>& out,
               std::unordered_set<STOREFOLDERID>& descended) {
  FOLDERPROPS props{};
  props.cbSize = FOLDERPROPS_SIZE;
  HENUMSTORE handle = nullptr;
  HRESULT hr = store.GetFirstSubFolder(parent, &props, &handle);
  while (SUCCEEDED(hr) && hr != S_FALSE && handle) {
    StoreFolder folder;
    folder.name.assign(props.szName, strnlen(props.szName, sizeof props.szName));
    folder.depth = parentFolder ? parentFolder->depth + 1 : 0;
    folder.path = parentFolder ? parentFolder->path + "/" + folder.name : folder.name;
    folder.messages = props.cMessage;
    folder.account = props.sfType == FOLDER_ACCOUNT;
    const STOREFOLDERID id = props.dwFolderId;
    folder.id = id;
    if (exactCounts) CountNow(store, id, &folder);
    out.push_back(folder);
    if (descended.insert(id).second) ReadLevel(store, id, &folder, exactCounts, out, descended);
    props = FOLDERPROPS{};
    props.cbSize = FOLDERPROPS_SIZE;
    hr = store.GetNextSubFolder(handle, &props);
  }
  if (handle) store.GetSubFolderClose(handle);
}

std::string Lower(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// How close `typed` (lower case) comes to `text`; -1 when not close at all.
int Closeness(const std::string& typed, const std::string& text) {
  const std::string lower = Lower(text);
  if (lower == typed) return 0;
  if (lower.find(typed) != std::string::npos || typed.find(lower) != std::string::npos) return 1;
  const std::size_t distance = EditDistance(typed, lower);
  if (distance <= std::max<std::size_t>(1, typed.size() / 3)) return 1 + static_cast<int>(distance);
  return -1;
}

}  // namespace

HRESULT ReadStoreFolders(std::vector<StoreFolder>* out, bool exactCounts) {
  out->clear();
  com::ComPtr<IStoreNamespace> store;
  HRESULT hr = com::CreateInstance(CLSID_StoreNamespace, &store);
  if (FAILED(hr)) return hr;
  hr = store->Initialize(nullptr, 0);
  if (FAILED(hr)) return hr;
  std::unordered_set<STOREFOLDERID> descended{FOLDERID_ROOT};
  ReadLevel(*store, FOLDERID_ROOT, nullptr, exactCounts, *out, descended);
  return S_OK;
}

std::string NotOnThisComputer(const std::vector<StoreFolder>& exported) {
  com::ComPtr<IStoreNamespace> store;
  if (exported.empty() || FAILED(com::CreateInstance(CLSID_StoreNamespace, &store)) ||
      FAILED(store->Initialize(nullptr, 0)))
    return {};
  std::vector<StoreFolder> lacking;
  unsigned long missing = 0;
  for (const StoreFolder& f : exported) {
    StoreFolder now = f;
    now.listed = -1;
    CountNow(*store, static_cast<STOREFOLDERID>(f.id), &now);
    if (now.listed <= 0 || static_cast<unsigned long>(now.listed) <= now.messages) continue;
    missing += static_cast<unsigned long>(now.listed) - now.messages;
    lacking.push_back(now);
  }
  if (lacking.empty()) return {};
  const bool one = missing == 1;
  std::string text = std::to_string(missing) + (one ? " message" : " messages");
  if (exported.size() == 1) {
    text += " of this folder";
  } else if (lacking.size() <= 3) {
    // A few folders by name; more would make the line hard to read.
    for (std::size_t i = 0; i < lacking.size(); ++i)
      text += std::string(i == 0                    ? " of "
                          : i + 1 == lacking.size() ? " and "
                                                    : ", ") +
              "\"" + lacking[i].path + "\"";
  } else {
    text += " of " + std::to_string(lacking.size()) + " folders";
  }
  text += one ? " is" : " are";
  text += " not on this computer";
  if (lacking.size() == 1)
    text += ": Thunderbird lists " + std::to_string(lacking[0].listed) +
            ", its offline copy holds " + std::to_string(lacking[0].messages);
  else
    text += ": Thunderbird lists them, the folders' offline copies lack them";
  return text +
         ". Thunderbird downloads the rest when the account's \"Synchronization & Storage\" "
         "settings keep messages for offline use (or the folder's Properties, "
         "\"Synchronization\").";
}

FolderLookup FindFolder(const std::vector<StoreFolder>& folders, const std::string& wanted) {
  FolderLookup lookup;
  std::vector<int> byPath, byName;
  for (int i = 0; i < static_cast<int>(folders.size()); ++i) {
    if (folders[i].path == wanted) byPath.push_back(i);
    if (folders[i].name == wanted) byName.push_back(i);
  }
  const std::vector<int>& matches = byPath.empty() ? byName : byPath;
  if (matches.size() == 1) {
    lookup.position = matches[0];
  } else if (matches.size() > 1) {
    lookup.candidates = matches;
  } else {
    const std::string typed = Lower(wanted);
    std::vector<std::pair<int, int>> scored;  // closeness, position
    for (int i = 0; i < static_cast<int>(folders.size()); ++i) {
      int byPathScore = Closeness(typed, folders[i].path);
      int byNameScore = Closeness(typed, folders[i].name);
      int score = byPathScore < 0   ? byNameScore
                  : byNameScore < 0 ? byPathScore
                                    : std::min(byPathScore, byNameScore);
      if (score >= 0) scored.emplace_back(score, i);
    }
    std::stable_sort(scored.begin(), scored.end());
    for (std::size_t k = 0; k < scored.size() && k < kMaxSuggestions; ++k)
      lookup.suggestions.push_back(scored[k].second);
  }
  return lookup;
}

std::string FolderChoiceText(const StoreFolder& folder) {
  const std::string indent(4 * folder.depth, ' ');
  if (folder.account) return indent + folder.name;
  return indent + folder.name + " (" + std::to_string(folder.messages) + ")";
}

std::string FolderListing(const std::vector<StoreFolder>& folders) {
  unsigned long mostMessages = 0;
  for (const StoreFolder& f : folders) mostMessages = std::max(mostMessages, f.messages);
  const std::size_t positionWidth = std::to_string(folders.empty() ? 0 : folders.size() - 1).size();
  const std::size_t countWidth = std::to_string(mostMessages).size();
  std::string text;
  for (std::size_t i = 0; i < folders.size(); ++i) {
    const std::string index = std::to_string(i);
    const std::string count = std::to_string(folders[i].messages);
    text += std::string(positionWidth - index.size(), ' ') + index + "  " +
            std::string(countWidth - count.size(), ' ') + count + "  " +
            std::string(2 * folders[i].depth, ' ') + folders[i].name;
    const StoreFolder& f = folders[i];
    if (f.listed > 0 && static_cast<unsigned long>(f.listed) > f.messages)
      text += "  (Thunderbird lists " + std::to_string(f.listed) + ": " +
              std::to_string(static_cast<unsigned long>(f.listed) - f.messages) +
              " not on this computer)";
    text += "\n";
  }
  return text;
}

}  // namespace mailsift
