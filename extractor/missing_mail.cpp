// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/missing_mail.h"

#include <unordered_set>

#include "platform/activation/activation.h"
#include "platform/store/store.h"

namespace mailsift {
namespace {

// The ids of the folder's partial messages, read from the store's summary
// in one pass (no message text is read).
std::unordered_set<MESSAGEID> PartialMessages(unsigned long folderId) {
  std::unordered_set<MESSAGEID> partial;
  com::ComPtr<IStoreNamespace> store;
  com::ComPtr<IStoreFolder> folder;
  if (FAILED(com::CreateInstance(CLSID_StoreNamespace, &store)) ||
      FAILED(store->Initialize(nullptr, 0)) ||
      FAILED(store->OpenFolder(static_cast<STOREFOLDERID>(folderId), 0,
                               folder.ReleaseAndGetAddressOf())))
    return partial;
  MESSAGEPROPS props{};
  props.cbSize = MESSAGEPROPS_SIZE;
  HENUMSTORE handle = nullptr;
  for (HRESULT hr = folder->GetFirstMessage(MSGPROPS_FAST, 0, MESSAGEID_FIRST, &props, &handle);
       hr == S_OK; hr = folder->GetNextMessage(handle, MSGPROPS_FAST, &props)) {
    if (props.dwFlags & MSG_FLAG_PARTIAL) partial.insert(props.dwMessageId);
    folder->FreeMessageProps(&props);
    props.cbSize = MESSAGEPROPS_SIZE;
  }
  if (handle) folder->GetMessageClose(handle);
  return partial;
}

}  // namespace

void TellWhatIsMissing(const CMailquarry& mq, const StoreFolder& folder, ExportOutcome* outcome) {
  const std::unordered_set<MESSAGEID> partial = PartialMessages(folder.id);
  // Most folders have none: then the control is not asked for a single id.
  long found = 0;
  for (long i = 0; found < static_cast<long>(partial.size()) && i < outcome->processed; ++i) {
    const long id = mq.Messages().FindMessageID(i);
    if (id != 0 && partial.count(static_cast<MESSAGEID>(id))) ++found;
  }
  outcome->partial += found;
  if (std::string missing = NotOnThisComputer({folder}); !missing.empty())
    outcome->notices.push_back(missing);
}

}  // namespace mailsift
