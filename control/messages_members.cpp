// SPDX-License-Identifier: LGPL-2.1-or-later
// The lookups, store operations and exports of the message collection: each
// member runs the message operations over the list and the current folder.
#include "control/messages.h"

namespace mq {

msgops::MessageOps CMessages::Ops() const {
  return msgops::MessageOps(snapshot_, context_ ? context_->currentFolder.Get() : nullptr);
}

void CMessages::Refresh() {
  if (context_) context_->LoadMessageList(context_->folderIndex);
}

std::string CMessages::FindReturnEmail(LONG iIndex) {
  return Ops().FindReturnEmail(iIndex);
}
std::string CMessages::FindDeliveredToEmail(LONG iIndex) {
  return Ops().FindDeliveredToEmail(iIndex);
}
LONG CMessages::FindMessageID(LONG iIndex) {
  return Ops().FindMessageID(iIndex);
}
VARIANT_BOOL CMessages::DeleteMessage(LONG iIndex) {
  return Ops().DeleteMessage(iIndex);
}
VARIANT_BOOL CMessages::IsMessagesMarkAsRead(LONG iIndex) {
  return Ops().IsMessagesMarkAsRead(iIndex);
}
std::string CMessages::GetMessage(LONG iIndex) {
  return Ops().GetMessage(iIndex);
}
std::string CMessages::FindDisplayFrom(LONG iIndex) {
  return Ops().FindDisplayFrom(iIndex);
}
std::string CMessages::FindDisplayTo(LONG iIndex) {
  return Ops().FindDisplayTo(iIndex);
}
std::string CMessages::FindReceiveTime(LONG iIndex) {
  return Ops().FindReceiveTime(iIndex);
}
std::string CMessages::FindSentDay(LONG iIndex) {
  return Ops().FindSentDay(iIndex);
}
LONG CMessages::FindSize(LONG iIndex) {
  return Ops().FindSize(iIndex);
}
LONG CMessages::FindIndexFromSubject(const std::string& strSubject) {
  return Ops().FindIndexFromSubject(strSubject);
}
std::string CMessages::FindSubject(LONG iIndex) {
  return Ops().FindSubject(iIndex);
}

VARIANT_BOOL CMessages::MarkMessagesAsRead(LONG iIndex, VARIANT_BOOL bRead) {
  return Ops().MarkMessagesAsRead(iIndex, bRead);
}
VARIANT_BOOL CMessages::ExtractAttachment(LONG iIndex, const std::string& strOutputDir) {
  // The display name is joined straight to the text the caller gives, which
  // therefore ends in a separator for a directory; callers that pass a path
  // prefix ("out/msg7_") rely on that join.
  return Ops().ExtractAttachment(iIndex, strOutputDir);
}
SHORT CMessages::GetAttachmentCount(LONG iIndex) {
  return Ops().GetAttachmentCount(iIndex);
}
std::string CMessages::GetAttachmentName(LONG iMsgIndex, LONG iAttachmentIndex) {
  return Ops().GetAttachmentName(iMsgIndex, iAttachmentIndex);
}
VARIANT_BOOL CMessages::Save2eml(LONG iIndex, const std::string& strEMLFileName) {
  return Ops().Save2eml(iIndex, strEMLFileName);
}
VARIANT_BOOL CMessages::ViewMessage(LONG iIndex) {
  if (!lastTempFile_) return VARIANT_FALSE;  // the control is gone
  return Ops().ViewMessage(iIndex, *lastTempFile_);
}

void CMessages::BindMembers(com::Bindings<CMessages>& b) {
  b.Method<&CMessages::FindReturnEmail>(2)
      .Method<&CMessages::FindDeliveredToEmail>(3)
      .Method<&CMessages::FindMessageID>(4)
      .Method<&CMessages::MarkMessagesAsRead>(5)
      .Method<&CMessages::DeleteMessage>(6)
      .Method<&CMessages::Refresh>(7)
      .Method<&CMessages::IsMessagesMarkAsRead>(8)
      .Method<&CMessages::GetMessage>(9)
      .Method<&CMessages::FindDisplayFrom>(10)
      .Method<&CMessages::FindDisplayTo>(11)
      .Method<&CMessages::FindReceiveTime>(12)
      .Method<&CMessages::FindSentDay>(13)
      .Method<&CMessages::FindSize>(14)
      .Method<&CMessages::FindIndexFromSubject>(15)
      .Method<&CMessages::FindSubject>(16)
      .Method<&CMessages::ExtractAttachment>(17)
      .Method<&CMessages::GetAttachmentCount>(18)
      .Method<&CMessages::GetAttachmentName>(19)
      .Method<&CMessages::Save2eml>(20)
      .Method<&CMessages::ViewMessage>(21);
}

}  // namespace mq
