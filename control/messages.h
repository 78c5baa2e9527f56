// The message collection (IMessages): the message list of the snapshot, the
// lookups on it and the operations on the current folder's messages. One
// CMessages lives as long as its control and any client that holds it; after
// the control's window is gone it has no context and answers neutral values.
//
// The members are grouped by the file that implements them; each group binds
// its own members in its Bind* function, which GetBindings (messages.cpp) calls.
#pragma once

#include <string>

#include "control/pending_members.h"
#include "control/record_list.h"
#include "control/records.h"
#include "control/store_context.h"
#include "platform/com/dispatch_object.h"

namespace mq {

class CMessages : public com::DispatchObject<CMessages>, public PendingMembers<CMessages> {
 public:
  CMessages();
  MQ_PENDING_INVOKE(CMessages)

  // ---- Wiring by the control (messages.cpp) ----
  void Attach(StoreContext* context) { context_ = context; }
  // Where the collection's life with the control ends (window destruction):
  // what it owes then (the last ViewMessage file, say) is done here, since
  // a client may keep the object itself alive longer.
  void Detach();
  StoreContext* Context() const { return context_; }

  // ---- The snapshot (messages.cpp) ----
  const RecordList<CMessage>& List() const { return list_; }
  void Clear() { list_.Clear(); }
  void Append(MessageData message);
  // The record at a zero-based position, or null.
  const CMessage* RecordAt(LONG iIndex) const { return list_.At(iIndex); }

  // ---- IMessages: collection core (messages.cpp) ----
  SHORT Count();
  com::ComPtr<IDispatch> Item(const VARIANT& Key);

  // ---- IMessages: lookups, header scans and store operations ----
  // Refresh (context->LoadMessageList(context->folderIndex)), FindMessageID,
  // FindSubject, ..., DeleteMessage, IsMessagesMarkAsRead: declare them here,
  // define them in a file of their own, bind them in a `static void
  // BindLookups(com::Bindings<CMessages>&)` called from GetBindings, and take
  // their lines out of BindPending (messages.cpp).

  // ---- IMessages: exports ----
  // ExtractAttachment, GetAttachmentCount, GetAttachmentName, Save2eml,
  // ViewMessage, MarkMessagesAsRead: likewise, in `BindExports`.

  // ---- IMessages: enumeration ----
  // _NewEnum (DISPID_NEWENUM) walks List(); List().Generation() changes on
  // every emptying. Likewise bound in a Bind* of its own.

  static const com::Bindings<CMessages>& GetBindings();

 private:
  static void BindCore(com::Bindings<CMessages>& bindings);
  static void BindPending(com::Bindings<CMessages>& bindings);

  StoreContext* context_ = nullptr;
  RecordList<CMessage> list_;
};

}  // namespace mq
