// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/snapshot.h"

#include <cstring>
#include <unordered_set>

#include "control/time_text.h"

namespace mq {
namespace {

constexpr HRESULT kNoMore = S_FALSE;

bool Continues(HRESULT hr) {
  return SUCCEEDED(hr) && hr != kNoMore;
}

std::string TextOrEmpty(LPCSTR text) {
  return text ? std::string(text) : std::string();
}

void ReadLevel(IStoreNamespace& store, STOREFOLDERID parent, std::vector<FolderData>& out,
               std::unordered_set<STOREFOLDERID>& descended) {
  FOLDERPROPS props{};
  props.cbSize = FOLDERPROPS_SIZE;
  HENUMSTORE handle = nullptr;
  HRESULT hr = store.GetFirstSubFolder(parent, &props, &handle);
  while (Continues(hr)) {
    if (!handle) return;
    // The store promises a terminated name; never read past the field if it
    // breaks that promise.
    FolderData folder;
    folder.id = props.dwFolderId;
    folder.name.assign(props.szName, strnlen(props.szName, sizeof props.szName));
    folder.messageCount = static_cast<LONG>(props.cMessage);
    folder.subFolderCount = props.cSubFolders;
    out.push_back(folder);
    if (descended.insert(folder.id).second) ReadLevel(store, folder.id, out, descended);
    props = FOLDERPROPS{};
    props.cbSize = FOLDERPROPS_SIZE;
    hr = store.GetNextSubFolder(handle, &props);
  }
  if (handle) store.GetSubFolderClose(handle);
}

}  // namespace

void ReadFolderTree(IStoreNamespace& store, STOREFOLDERID parent, std::vector<FolderData>& out) {
  std::unordered_set<STOREFOLDERID> descended{parent};
  ReadLevel(store, parent, out, descended);
}

std::vector<MessageData> ReadMessages(IStoreFolder& folder) {
  std::vector<MessageData> messages;
  MESSAGEPROPS props{};
  props.cbSize = MESSAGEPROPS_SIZE;
  HENUMSTORE handle = nullptr;
  HRESULT hr = folder.GetFirstMessage(0, 0, MESSAGEID_FIRST, &props, &handle);
  while (Continues(hr)) {
    MessageData message;
    message.subject = TextOrEmpty(props.pszNormalSubject);
    message.displayFrom = TextOrEmpty(props.pszDisplayFrom);
    message.displayTo = TextOrEmpty(props.pszDisplayTo);
    message.receiveTime = TimeText(props.ftReceived);
    message.sentTime = TimeText(props.ftSent);
    message.size = static_cast<LONG>(props.cbMessage);
    message.id = props.dwMessageId;
    messages.push_back(std::move(message));
    folder.FreeMessageProps(&props);
    props = MESSAGEPROPS{};
    props.cbSize = MESSAGEPROPS_SIZE;
    hr = folder.GetNextMessage(handle, 0, &props);
  }
  if (handle) folder.GetMessageClose(handle);
  return messages;
}

}  // namespace mq
