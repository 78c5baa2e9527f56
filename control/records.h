// SPDX-License-Identifier: LGPL-2.1-or-later
// The records of the snapshot as automation objects: one CFolder per folder of
// the folder list (IFolder) and one CMessage per message of the message list
// (IMessage). A record holds its own copy of what the store said and nothing
// else, so a client may keep one past any reload of its list or the control's
// teardown and it still answers what it held.
#pragma once

#include <string>

#include "control/snapshot.h"
#include "platform/com/dispatch_object.h"

namespace mq {

class CFolder : public com::DispatchObject<CFolder> {
 public:
  explicit CFolder(FolderData data);

  const FolderData& Data() const { return data_; }

  // IFolder
  std::string Name();

  static const com::Bindings<CFolder>& GetBindings();

 private:
  const FolderData data_;
};

class CMessage : public com::DispatchObject<CMessage> {
 public:
  explicit CMessage(MessageData data);

  const MessageData& Data() const { return data_; }

  // IMessage
  std::string Subject();
  std::string ReceiveTime();
  std::string SentTime();
  std::string DisplayFrom();
  std::string DisplayTo();
  LONG Size();

  static const com::Bindings<CMessage>& GetBindings();

 private:
  const MessageData data_;
};

}  // namespace mq
