#include "control/messages.h"

#include "control/guids.h"
#include "control/typelib.h"

namespace mq {

CMessages::CMessages() : DispatchObject(MailquarryLibrary(), IID_IMessages) {}

void CMessages::Detach() {
  context_ = nullptr;
  list_.Clear();
}

void CMessages::Append(MessageData message) {
  auto record = com::MakeObject<CMessage>(std::move(message));
  if (record) list_.Append(std::move(record));
}

SHORT CMessages::Count() {
  return static_cast<SHORT>(static_cast<WORD>(list_.Size()));
}

com::ComPtr<IDispatch> CMessages::Item(const VARIANT& Key) {
  CMessage* message = FindByKey(list_, Key, [](const CMessage& record) -> const std::string& {
    return record.Data().subject;
  });
  return com::ComPtr<IDispatch>(message);
}

void CMessages::BindCore(com::Bindings<CMessages>& bindings) {
  bindings.Get<&CMessages::Count>(1).Get<&CMessages::Item>(22);
}

void CMessages::BindPending(com::Bindings<CMessages>& bindings) {
  PendingBinder(bindings, PendingIds())
      .Method<std::string, LONG>(2)                 // FindReturnEmail
      .Method<std::string, LONG>(3)                 // FindDeliveredToEmail
      .Method<LONG, LONG>(4)                        // FindMessageID
      .Method<VARIANT_BOOL, LONG, VARIANT_BOOL>(5)  // MarkMessagesAsRead
      .Method<VARIANT_BOOL, LONG>(6)                // DeleteMessage
      .Method<void>(7)                              // Refresh
      .Method<VARIANT_BOOL, LONG>(8)                // IsMessagesMarkAsRead
      .Method<std::string, LONG>(9)                 // GetMessage
      .Method<std::string, LONG>(10)                // FindDisplayFrom
      .Method<std::string, LONG>(11)                // FindDisplayTo
      .Method<std::string, LONG>(12)                // FindReceiveTime
      .Method<std::string, LONG>(13)                // FindSentDay
      .Method<LONG, LONG>(14)                       // FindSize
      .Method<LONG, std::string>(15)                // FindIndexFromSubject
      .Method<std::string, LONG>(16)                // FindSubject
      .Method<VARIANT_BOOL, LONG, std::string>(17)  // ExtractAttachment
      .Method<SHORT, LONG>(18)                      // GetAttachmentCount
      .Method<std::string, LONG, LONG>(19)          // GetAttachmentName
      .Method<VARIANT_BOOL, LONG, std::string>(20)  // Save2eml
      .Method<VARIANT_BOOL, LONG>(21)               // ViewMessage
      .Get<com::ComPtr<IUnknown>>(DISPID_NEWENUM);  // _NewEnum
}

const com::Bindings<CMessages>& CMessages::GetBindings() {
  static const auto bindings = [] {
    com::Bindings<CMessages> b;
    BindCore(b);
    BindPending(b);
    return b;
  }();
  return bindings;
}

}  // namespace mq
