// SPDX-License-Identifier: LGPL-2.1-or-later
// The message collection (IMessages): the message list of the snapshot, the
// lookups on it and the operations on the current folder's messages. One
// CMessages lives as long as its control and any client that holds it; after
// the control's window is gone it has no context and answers neutral values.
//
// The members are grouped by the file that implements them; each group binds
// its own members in its Bind* function, which GetBindings (messages.cpp) calls.
#pragma once

#include <memory>
#include <string>

#include "control/messages_ops/message_ops.h"
#include "control/record_list.h"
#include "control/records.h"
#include "control/store_context.h"
#include "platform/com/dispatch_object.h"

namespace mq {

class CMessages : public com::DispatchObject<CMessages> {
 public:
  CMessages();

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

  // ---- IMessages: lookups, header scans and store operations (messages_members.cpp) ----
  void Refresh();
  std::string FindReturnEmail(LONG iIndex);
  std::string FindDeliveredToEmail(LONG iIndex);
  LONG FindMessageID(LONG iIndex);
  VARIANT_BOOL DeleteMessage(LONG iIndex);
  VARIANT_BOOL IsMessagesMarkAsRead(LONG iIndex);
  std::string GetMessage(LONG iIndex);
  std::string FindDisplayFrom(LONG iIndex);
  std::string FindDisplayTo(LONG iIndex);
  std::string FindReceiveTime(LONG iIndex);
  std::string FindSentDay(LONG iIndex);
  LONG FindSize(LONG iIndex);
  LONG FindIndexFromSubject(const std::string& strSubject);
  std::string FindSubject(LONG iIndex);

  // ---- IMessages: exports (messages_members.cpp) ----
  VARIANT_BOOL MarkMessagesAsRead(LONG iIndex, VARIANT_BOOL bRead);
  VARIANT_BOOL ExtractAttachment(LONG iIndex, const std::string& strOutputDir);
  SHORT GetAttachmentCount(LONG iIndex);
  std::string GetAttachmentName(LONG iMsgIndex, LONG iAttachmentIndex);
  VARIANT_BOOL Save2eml(LONG iIndex, const std::string& strEMLFileName);
  VARIANT_BOOL ViewMessage(LONG iIndex);

  // ---- IMessages: enumeration (enumeration.cpp) ----
  // A new CCollectionEnum over List(), as IUnknown; null when out of memory.
  com::ComPtr<IUnknown> NewEnum();

  static const com::Bindings<CMessages>& GetBindings();

 private:
  static void BindCore(com::Bindings<CMessages>& bindings);
  static void BindMembers(com::Bindings<CMessages>& bindings);

  // The message list as the message operations read it.
  class Snapshot final : public msgops::MessageSnapshot {
   public:
    explicit Snapshot(const RecordList<CMessage>& list) : list_(list) {}
    std::size_t Size() const override { return list_.Size(); }
    msgops::MessageView At(std::size_t i) const override {
      return msgops::ViewOf(list_.At(static_cast<std::int64_t>(i))->Data());
    }

   private:
    const RecordList<CMessage>& list_;
  };
  msgops::MessageOps Ops() const;
  static void BindEnumeration(com::Bindings<CMessages>& bindings);

  StoreContext* context_ = nullptr;
  RecordList<CMessage> list_;
  Snapshot snapshot_{list_};
  // The file the latest ViewMessage wrote; deleted when the collection's
  // life with the control ends.
  std::unique_ptr<msgops::LastTempFile> lastTempFile_ = std::make_unique<msgops::LastTempFile>();
};

}  // namespace mq
