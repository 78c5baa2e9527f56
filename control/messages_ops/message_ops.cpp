// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/messages_ops/message_ops.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "control/messages_ops/export_file.h"
#include "control/messages_ops/raw_text.h"
#include "platform/com/dispatch_object.h"
#include "platform/com/memory.h"
#include "platform/shell/shell.h"

namespace msgops {
namespace {

struct TaskMemFree {
  void operator()(void* p) const { CoTaskMemFree(p); }
};

// Calls `visit(message, handle, position)` for every part of message `id`
// that the MIME layer confirms as an attachment, in the order it lists them;
// `position` counts the confirmed attachments from 0. `visit` answers false
// to stop. A message that cannot be opened has no attachments.
template <class Visit>
void WalkAttachments(IStoreFolder* folder, MESSAGEID id, Visit visit) {
  if (!folder) return;
  com::ComPtr<IMimeMessage> message;
  if (FAILED(folder->OpenMessage(id, IID_IMimeMessage, message.ReleaseAndGetVoidAddress())) ||
      !message) {
    return;
  }
  ULONG count = 0;
  HBODY* handles = nullptr;
  HRESULT hr = message->GetAttachments(&count, &handles);
  std::unique_ptr<HBODY, TaskMemFree> owned(handles);
  if (FAILED(hr) || !handles) return;
  ULONG position = 0;
  for (ULONG i = 0; i < count; ++i) {
    if (message->IsBodyType(handles[i], IBT_ATTACHMENT) != S_OK) continue;
    if (!visit(*message, handles[i], position++)) return;
  }
}

com::ComPtr<IMimeBody> BindBody(IMimeMessage& message, HBODY handle) {
  com::ComPtr<IMimeBody> body;
  if (FAILED(message.BindToObject(handle, IID_IMimeBody, body.ReleaseAndGetVoidAddress()))) {
    return nullptr;
  }
  return body;
}

std::optional<std::string> DisplayName(IMimeBody& body) {
  LPSTR name = nullptr;
  HRESULT hr = body.GetDisplayName(&name);
  std::unique_ptr<char, TaskMemFree> owned(name);
  if (FAILED(hr) || !name) return std::nullopt;
  return std::string(name);
}

com::AutomationError FileError(const std::string& path, HRESULT hr) {
  return com::AutomationError{hr, "Cannot write the file " + path};
}

}  // namespace

LastTempFile::~LastTempFile() {
  if (!path_.empty()) shell::DeleteFile(path_);
}

std::optional<std::string> AttachmentPath(std::string_view directory, std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) {
    return std::nullopt;
  }
  std::string path(directory);
  path.append(name);
  return path;
}

std::optional<MessageView> MessageOps::Record(LONG iIndex) const {
  if (iIndex < 0 || static_cast<std::size_t>(iIndex) >= list_.Size()) return std::nullopt;
  return list_.At(static_cast<std::size_t>(iIndex));
}

SHORT MessageOps::Count() const {
  return static_cast<SHORT>(static_cast<std::uint16_t>(list_.Size()));
}

std::string MessageOps::FindSubject(LONG iIndex) const {
  auto record = Record(iIndex);
  return record ? std::string(record->subject) : std::string();
}

std::string MessageOps::FindDisplayFrom(LONG iIndex) const {
  auto record = Record(iIndex);
  return record ? std::string(record->displayFrom) : std::string();
}

std::string MessageOps::FindDisplayTo(LONG iIndex) const {
  auto record = Record(iIndex);
  return record ? std::string(record->displayTo) : std::string();
}

std::string MessageOps::FindReceiveTime(LONG iIndex) const {
  auto record = Record(iIndex);
  return record ? std::string(record->receiveTime) : std::string();
}

std::string MessageOps::FindSentDay(LONG iIndex) const {
  auto record = Record(iIndex);
  return record ? std::string(record->sentTime) : std::string();
}

LONG MessageOps::FindSize(LONG iIndex) const {
  auto record = Record(iIndex);
  return record ? record->size : 0;
}

LONG MessageOps::FindMessageID(LONG iIndex) const {
  auto record = Record(iIndex);
  return record ? static_cast<LONG>(record->id) : 0;
}

LONG MessageOps::FindIndexFromSubject(const std::string& strSubject) const {
  const std::size_t size = list_.Size();
  for (std::size_t i = 0; i < size; ++i) {
    if (list_.At(i).subject == strSubject) return static_cast<LONG>(i);
  }
  return 0;
}

std::string MessageOps::GetMessage(LONG iIndex) const {
  auto record = Record(iIndex);
  if (!record) return {};
  return Utf8OrWindows1252(ReadRawText(folder_, record->id).value_or(std::string()));
}

std::string MessageOps::FindReturnEmail(LONG iIndex) const {
  auto record = Record(iIndex);
  if (!record) return {};
  // The answer is almost always in the first few hundred bytes.
  auto text = ReadRawTextUntil(folder_, record->id, ReturnAddressSettled());
  return Utf8OrWindows1252(ScanReturnAddress(text.value_or(std::string())));
}

std::string MessageOps::FindDeliveredToEmail(LONG iIndex) const {
  auto record = Record(iIndex);
  if (!record) return {};
  auto text = ReadRawTextUntil(folder_, record->id, DeliveredToSettled());
  return Utf8OrWindows1252(ScanDeliveredTo(text.value_or(std::string())));
}

VARIANT_BOOL MessageOps::IsMessagesMarkAsRead(LONG iIndex) const {
  auto record = Record(iIndex);
  if (!record || !folder_) return VARIANT_FALSE;
  MESSAGEID id = record->id;
  MESSAGEIDLIST list{sizeof(MESSAGEIDLIST), 1, &id};
  const HRESULT hr = folder_->MarkMessagesAsRead(TRUE, 0, &list);
  // A refusal says nothing about the read state.
  if (FAILED(hr)) return VARIANT_FALSE;
  // Anything but S_OK: nothing changed, so the message was read already.
  if (hr != S_OK) return VARIANT_TRUE;
  folder_->MarkMessagesAsRead(FALSE, 0, &list);
  return VARIANT_FALSE;
}

VARIANT_BOOL MessageOps::DeleteMessage(LONG iIndex) const {
  auto record = Record(iIndex);
  if (!record || !folder_) return VARIANT_FALSE;
  MESSAGEID id = record->id;
  MESSAGEIDLIST list{sizeof(MESSAGEIDLIST), 1, &id};
  return folder_->DeleteMessages(&list, 0, nullptr) == S_OK ? VARIANT_TRUE : VARIANT_FALSE;
}

VARIANT_BOOL MessageOps::WriteAttachments(LONG iIndex,
                                          const std::optional<std::string>& directory) const {
  auto record = Record(iIndex);
  // Without a current folder nothing can be read: that is no success.
  if (!record || !folder_) return VARIANT_FALSE;
  if (!directory) return VARIANT_TRUE;
  // Every attachment is tried; one that could not be written whole (the MIME
  // layer removes what it wrote of it) makes the answer FALSE, so that a
  // full disk is never reported as success.
  bool whole = true;
  WalkAttachments(folder_, record->id, [&](IMimeMessage& message, HBODY handle, ULONG) {
    auto body = BindBody(message, handle);
    auto name = body ? DisplayName(*body) : std::nullopt;
    auto path = name ? AttachmentPath(*directory, *name) : std::nullopt;
    if (!path || FAILED(body->SaveToFile(IET_BINARY, path->c_str()))) whole = false;
    return true;
  });
  return whole ? VARIANT_TRUE : VARIANT_FALSE;
}

VARIANT_BOOL MessageOps::ExtractAttachment(LONG iIndex, const std::string& strOutputDir) const {
  if (!strOutputDir.empty()) return WriteAttachments(iIndex, strOutputDir);
  auto home = shell_.HomeDirectory();
  return WriteAttachments(iIndex, home ? std::optional(*home + "/") : std::nullopt);
}

VARIANT_BOOL MessageOps::MarkMessagesAsRead(LONG iIndex, VARIANT_BOOL /*bRead*/) const {
  return ExtractAttachment(iIndex, std::string());
}

SHORT MessageOps::GetAttachmentCount(LONG iIndex) const {
  auto record = Record(iIndex);
  if (!record) return 0;
  std::uint32_t count = 0;
  WalkAttachments(folder_, record->id, [&](IMimeMessage& message, HBODY handle, ULONG) {
    if (BindBody(message, handle)) ++count;
    return true;
  });
  return static_cast<SHORT>(static_cast<std::uint16_t>(count));
}

std::string MessageOps::GetAttachmentName(LONG iMsgIndex, LONG iAttachmentIndex) const {
  auto record = Record(iMsgIndex);
  if (!record || iAttachmentIndex < 0) return {};
  std::string result;
  WalkAttachments(folder_, record->id, [&](IMimeMessage& message, HBODY handle, ULONG position) {
    if (position != static_cast<ULONG>(iAttachmentIndex)) return true;
    if (auto body = BindBody(message, handle)) result = DisplayName(*body).value_or(std::string());
    return false;
  });
  return result;
}

VARIANT_BOOL MessageOps::Save2eml(LONG iIndex, const std::string& strEMLFileName) const {
  auto record = Record(iIndex);
  if (!record || !folder_) return VARIANT_FALSE;
  // Open the message before touching the file, so that a message that cannot
  // be read never truncates a file that is already there.
  com::ComPtr<IStream> stream;
  if (FAILED(folder_->OpenMessage(record->id, IID_IStream, stream.ReleaseAndGetVoidAddress())) ||
      !stream) {
    return VARIANT_FALSE;
  }
  ExportFile file;
  if (FAILED(file.Open(strEMLFileName))) return VARIANT_FALSE;
  auto buffer = std::make_unique<char[]>(kSaveChunk);
  for (;;) {
    ULONG read = 0;
    // A file that is not the whole message would pass for it: it goes.
    if (FAILED(stream->Read(buffer.get(), kSaveChunk, &read))) {
      file.Discard();
      return VARIANT_FALSE;
    }
    if (read == 0) break;
    if (FAILED(file.Write(buffer.get(), std::min(read, kSaveChunk)))) {
      file.Discard();
      return VARIANT_FALSE;
    }
  }
  if (FAILED(file.Close())) {
    file.Discard();
    return VARIANT_FALSE;
  }
  return VARIANT_TRUE;
}

VARIANT_BOOL MessageOps::ViewMessage(LONG iIndex, LastTempFile& last) const {
  auto record = Record(iIndex);
  if (!record) return VARIANT_FALSE;
  com::ComPtr<IStream> stream;
  const bool opened =
      folder_ &&
      SUCCEEDED(folder_->OpenMessage(record->id, IID_IStream, stream.ReleaseAndGetVoidAddress())) &&
      stream;
  const int n = std::rand() % 1000;
  const auto temp = shell_.TempDirectory();
  if (!temp || !opened) return VARIANT_FALSE;

  std::string path = *temp + "/" + std::to_string(n) + ".eml";
  last.Replace(path);
  ExportFile file;
  if (HRESULT hr = file.Open(path); FAILED(hr)) throw FileError(path, hr);
  char buffer[kViewChunk];
  for (;;) {
    ULONG read = 0;
    if (FAILED(stream->Read(buffer, kViewChunk, &read))) {
      file.Close();  // the file stays, as far as it was written
      return VARIANT_FALSE;
    }
    if (read == 0) break;
    if (HRESULT hr = file.Write(buffer, std::min(read, kViewChunk)); FAILED(hr)) {
      throw FileError(path, hr);
    }
  }
  if (HRESULT hr = file.Close(); FAILED(hr)) throw FileError(path, hr);
  stream.Reset();
  shell_.OpenDocument(path);
  return VARIANT_TRUE;
}

}  // namespace msgops
