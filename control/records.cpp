// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/records.h"

#include "control/guids.h"
#include "control/typelib.h"

namespace mq {

CFolder::CFolder(FolderData data)
    : DispatchObject(MailquarryLibrary(), IID_IFolder), data_(std::move(data)) {}

std::string CFolder::Name() {
  return data_.name;
}

const com::Bindings<CFolder>& CFolder::GetBindings() {
  static const auto bindings = com::Bindings<CFolder>().Get<&CFolder::Name>(1);
  return bindings;
}

CMessage::CMessage(MessageData data)
    : DispatchObject(MailquarryLibrary(), IID_IMessage), data_(std::move(data)) {}

std::string CMessage::Subject() {
  return data_.subject;
}
std::string CMessage::ReceiveTime() {
  return data_.receiveTime;
}
std::string CMessage::SentTime() {
  return data_.sentTime;
}
std::string CMessage::DisplayFrom() {
  return data_.displayFrom;
}
std::string CMessage::DisplayTo() {
  return data_.displayTo;
}
LONG CMessage::Size() {
  return data_.size;
}

const com::Bindings<CMessage>& CMessage::GetBindings() {
  static const auto bindings = com::Bindings<CMessage>()
                                   .Get<&CMessage::Subject>(1)
                                   .Get<&CMessage::ReceiveTime>(2)
                                   .Get<&CMessage::SentTime>(3)
                                   .Get<&CMessage::DisplayFrom>(4)
                                   .Get<&CMessage::DisplayTo>(5)
                                   .Get<&CMessage::Size>(6);
  return bindings;
}

}  // namespace mq
