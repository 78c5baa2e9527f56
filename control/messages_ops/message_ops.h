// SPDX-License-Identifier: LGPL-2.1-or-later
// The members of the message collection, as operations over a message-list
// snapshot, the current store folder and the desktop services. The
// collection builds a MessageOps for each call and forwards to it:
//
//   std::string CMessages::FindReturnEmail(LONG iIndex) {
//     return Ops().FindReturnEmail(iIndex);
//   }
//   VARIANT_BOOL CMessages::ViewMessage(LONG iIndex) {
//     return Ops().ViewMessage(iIndex, lastViewed_);  // a LastTempFile member
//   }
//
// Positions count from 0; one that names no record gives the member's
// neutral value (empty text, 0, FALSE) without reaching the store.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "control/messages_ops/shell_services.h"
#include "platform/com/variant.h"
#include "platform/mime/mime.h"
#include "platform/store/store.h"

namespace msgops {

// One record of the message list, as the operations read it. The views stay
// valid while the record lives.
struct MessageView {
  std::string_view subject;
  std::string_view displayFrom;
  std::string_view displayTo;
  std::string_view receiveTime;
  std::string_view sentTime;
  LONG size = 0;
  MESSAGEID id = 0;
};

// The view of any record type with these field names (subject, displayFrom,
// displayTo, receiveTime, sentTime, size, id).
template <class Data>
MessageView ViewOf(const Data& d) {
  return MessageView{d.subject,  d.displayFrom, d.displayTo, d.receiveTime,
                     d.sentTime, d.size,        d.id};
}

// The message list: random access, so a loop over all positions is linear.
// A collection may implement it itself:
//   std::size_t Size() const override { return list_.Size(); }
//   MessageView At(std::size_t i) const override { return ViewOf(list_.At(i)->Data()); }
class MessageSnapshot {
 public:
  virtual ~MessageSnapshot() = default;
  virtual std::size_t Size() const = 0;
  // `position` < Size().
  virtual MessageView At(std::size_t position) const = 0;
};

// A snapshot over any random-access list of records, with `view` turning one
// element into a MessageView, e.g.
//   SnapshotOf(records_, [](const auto& r) { return r->View(); })
template <class List, class ToView>
class ListSnapshot final : public MessageSnapshot {
 public:
  ListSnapshot(const List& list, ToView view) : list_(list), view_(std::move(view)) {}
  std::size_t Size() const override { return list_.size(); }
  MessageView At(std::size_t position) const override { return view_(list_[position]); }

 private:
  const List& list_;
  ToView view_;
};

template <class List, class ToView>
ListSnapshot<List, ToView> SnapshotOf(const List& list, ToView view) {
  return ListSnapshot<List, ToView>(list, std::move(view));
}

// Bytes asked of the stream per read by Save2eml and ViewMessage.
constexpr ULONG kSaveChunk = 14095;
constexpr ULONG kViewChunk = 4095;

// The path of the file the latest ViewMessage wrote; the file is deleted when
// this goes (with the collection). Files of earlier calls stay.
class LastTempFile {
 public:
  LastTempFile() = default;
  LastTempFile(const LastTempFile&) = delete;
  LastTempFile& operator=(const LastTempFile&) = delete;
  ~LastTempFile();
  const std::string& Path() const { return path_; }
  void Replace(std::string path) { path_ = std::move(path); }

 private:
  std::string path_;
};

// Where one attachment is written: `directory` and the display name joined
// with nothing between them. The name is used whole: names such as
// "Scan (2).pdf" are common. Nothing when the name is empty, "." or "..", or
// holds a "/", so that a file never lands outside the directory the caller
// named.
std::optional<std::string> AttachmentPath(std::string_view directory, std::string_view displayName);

class MessageOps {
 public:
  // `folder` is the control's current folder, null when it has none.
  MessageOps(const MessageSnapshot& list, IStoreFolder* folder,
             ShellServices& shell = SystemShell())
      : list_(list), folder_(folder), shell_(shell) {}

  // Record lookups (never reach the store).
  SHORT Count() const;  // the low 16 bits of the number of records
  std::string FindSubject(LONG iIndex) const;
  std::string FindDisplayFrom(LONG iIndex) const;
  std::string FindDisplayTo(LONG iIndex) const;
  std::string FindReceiveTime(LONG iIndex) const;
  std::string FindSentDay(LONG iIndex) const;
  LONG FindSize(LONG iIndex) const;
  LONG FindMessageID(LONG iIndex) const;
  // The first position whose subject equals `strSubject` exactly; 0 when none.
  LONG FindIndexFromSubject(const std::string& strSubject) const;

  // The stored text, with the NUL rule of ReadRawText; empty on failure.
  std::string GetMessage(LONG iIndex) const;
  std::string FindReturnEmail(LONG iIndex) const;
  std::string FindDeliveredToEmail(LONG iIndex) const;

  // Whether the message is read, found by marking it read: when that changed
  // its state it is marked unread again at once.
  VARIANT_BOOL IsMessagesMarkAsRead(LONG iIndex) const;
  // Deletes the message in the store; the list is left as it is.
  VARIANT_BOOL DeleteMessage(LONG iIndex) const;

  // Writes every attachment into `strOutputDir` (joined straight to each name;
  // the home directory and "/" when empty). FALSE for no record or no current
  // folder, and when any attachment could not be written whole (its file is
  // removed; the others are written); TRUE otherwise, also for a message
  // without attachments.
  VARIANT_BOOL ExtractAttachment(LONG iIndex, const std::string& strOutputDir) const;
  // Writes every attachment into the home directory; `bRead` is not used.
  VARIANT_BOOL MarkMessagesAsRead(LONG iIndex, VARIANT_BOOL bRead) const;
  SHORT GetAttachmentCount(LONG iIndex) const;
  std::string GetAttachmentName(LONG iMsgIndex, LONG iAttachmentIndex) const;

  // Copies the stored message byte for byte to `strEMLFileName` (exactly that
  // path; an existing file is truncated, a symbolic link there refused).
  // FALSE when the message cannot be opened (the file is then untouched), or
  // a read or a write fails (the file is then removed: never a part).
  VARIANT_BOOL Save2eml(LONG iIndex, const std::string& strEMLFileName) const;
  // Writes the message to <temp>/<rand() % 1000>.eml, remembers that path in
  // `last` and has the desktop open it. FALSE for no record, an unopenable
  // message, no temporary directory or a failed read; throws
  // com::AutomationError when the file cannot be created or written.
  VARIANT_BOOL ViewMessage(LONG iIndex, LastTempFile& last) const;

 private:
  std::optional<MessageView> Record(LONG iIndex) const;
  VARIANT_BOOL WriteAttachments(LONG iIndex, const std::optional<std::string>& directory) const;

  const MessageSnapshot& list_;
  IStoreFolder* folder_;
  ShellServices& shell_;
};

}  // namespace msgops
