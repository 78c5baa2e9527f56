// SPDX-License-Identifier: LGPL-2.1-or-later
// The operations of the folder collection that change the store: folders
// (create, rename, move, delete, compact) and messages (copy, move, create).
// None of them touches the folder list or the message list; a client sees
// their effect after the next reload (Refresh, a Folder write).
#include <string_view>

#include "control/folders.h"

namespace mq {
namespace {

VARIANT_BOOL Answer(bool ok) {
  return ok ? VARIANT_TRUE : VARIANT_FALSE;
}

// A folder name crosses the store as a NUL-terminated text: a name with a
// NUL inside would reach the store cut short, so it is refused whole.
bool Passable(std::string_view text) {
  return text.find('\0') == std::string_view::npos;
}

// The text of a new message: the three header lines as they are written
// here, a blank line and the body, nothing added.
std::string ComposeMessage(const std::string& from, const std::string& to,
                           const std::string& subject, const std::string& body) {
  std::string text;
  text.reserve(from.size() + to.size() + subject.size() + body.size() + 26);
  text.append("From: ").append(from).append("\r\n");
  text.append("To:").append(to).append("\r\n");
  text.append("Subject:").append(subject).append("\r\n\r\n");
  text.append(body);
  return text;
}

}  // namespace

VARIANT_BOOL CFolders::DeleteFolder(LONG iFolderID) {
  StoreContext* ctx = Context();
  if (!ctx || !ctx->store) return VARIANT_FALSE;
  return Answer(ctx->store->DeleteFolder(static_cast<STOREFOLDERID>(iFolderID), 0) >= 0);
}

VARIANT_BOOL CFolders::MoveFolder(LONG iFolderID, LONG iParentFolderID) {
  StoreContext* ctx = Context();
  if (!ctx || !ctx->store) return VARIANT_FALSE;
  return Answer(ctx->store->MoveFolder(static_cast<STOREFOLDERID>(iFolderID),
                                       static_cast<STOREFOLDERID>(iParentFolderID), 0) >= 0);
}

VARIANT_BOOL CFolders::RenameFolder(const std::string& strNewName, LONG iFolderID) {
  StoreContext* ctx = Context();
  if (!ctx || !ctx->store || !Passable(strNewName)) return VARIANT_FALSE;
  return Answer(
      ctx->store->RenameFolder(static_cast<STOREFOLDERID>(iFolderID), 0, strNewName.c_str()) >= 0);
}

VARIANT_BOOL CFolders::CompactAll(LONG iFlag) {
  StoreContext* ctx = Context();
  if (!ctx || !ctx->store) return VARIANT_FALSE;
  return Answer(ctx->store->CompactAll(static_cast<DWORD>(iFlag)) >= 0);
}

VARIANT_BOOL CFolders::CreateFolder(const std::string& strFolderName, LONG iParentFolderID) {
  StoreContext* ctx = Context();
  if (!ctx || !ctx->store || !Passable(strFolderName)) return VARIANT_FALSE;
  STOREFOLDERID created = 0;
  return Answer(ctx->store->CreateFolder(static_cast<STOREFOLDERID>(iParentFolderID),
                                         strFolderName.c_str(), 0, &created) == S_OK);
}

VARIANT_BOOL CFolders::CopyMessage(LONG iMessageID, LONG iDestFolderID) {
  return CopyOrMove(iMessageID, iDestFolderID, 0);
}

VARIANT_BOOL CFolders::MoveMessage(LONG iMessageID, LONG iDestFolderID) {
  return CopyOrMove(iMessageID, iDestFolderID, CMF_MOVE);
}

// The message keeps its flags: everything it does not have is removed. When
// its flags cannot be read nothing is removed, rather than everything.
VARIANT_BOOL CFolders::CopyOrMove(LONG iMessageID, LONG iDestFolderID, DWORD flags) {
  StoreContext* ctx = Context();
  if (!ctx || !ctx->store || !ctx->currentFolder) return VARIANT_FALSE;
  MESSAGEID id = static_cast<MESSAGEID>(iMessageID);

  DWORD flagsToRemove = 0;
  MESSAGEPROPS props{};
  props.cbSize = MESSAGEPROPS_SIZE;
  if (SUCCEEDED(ctx->currentFolder->GetMessageProps(id, MSGPROPS_FAST, &props))) {
    flagsToRemove = ~props.dwFlags;
    ctx->currentFolder->FreeMessageProps(&props);
  }

  ctx->destinationFolder.Reset();
  com::ComPtr<IStoreFolder> destination;
  if (FAILED(ctx->store->OpenFolder(static_cast<STOREFOLDERID>(iDestFolderID), 0,
                                    destination.ReleaseAndGetAddressOf())) ||
      !destination)
    return VARIANT_FALSE;
  ctx->destinationFolder = destination;

  MESSAGEIDLIST list{sizeof(MESSAGEIDLIST), 1, &id};
  return Answer(ctx->store->CopyMoveMessages(ctx->currentFolder.Get(), destination.Get(), &list,
                                             flags, flagsToRemove, nullptr) == S_OK);
}

VARIANT_BOOL CFolders::CreateMessage(LONG iFolderIndex, const std::string& strFromEmail,
                                     const std::string& strToEmail, const std::string& strSubject,
                                     const std::string& strMessage) {
  StoreContext* ctx = Context();
  if (!ctx || !ctx->store) return VARIANT_FALSE;
  const CFolder* folder = List().At(iFolderIndex);
  if (!folder) return VARIANT_FALSE;
  OpenCurrentFolder(folder->Data().id);
  com::ComPtr<IStoreFolder> target = ctx->currentFolder;
  if (!target) return VARIANT_FALSE;

  const std::string text = ComposeMessage(strFromEmail, strToEmail, strSubject, strMessage);
  if (text.size() > 0xFFFFFFFFu) return VARIANT_FALSE;
  com::ComPtr<IStream> stream;
  MESSAGEID id = 0;
  if (FAILED(target->CreateStream(nullptr, 0, stream.ReleaseAndGetAddressOf(), &id)) || !stream)
    return VARIANT_FALSE;
  const ULONG length = static_cast<ULONG>(text.size());
  ULONG written = 0;
  if (FAILED(stream->Write(text.data(), length, &written)) || written != length)
    return VARIANT_FALSE;
  return Answer(SUCCEEDED(target->CommitStream(nullptr, 0, 0, stream.Get(), id, nullptr)));
}

void CFolders::BindOperations(com::Bindings<CFolders>& bindings) {
  bindings.Method<&CFolders::DeleteFolder>(4)
      .Method<&CFolders::MoveFolder>(5)
      .Method<&CFolders::RenameFolder>(6)
      .Method<&CFolders::CompactAll>(7)
      .Method<&CFolders::CopyMessage>(8)
      .Method<&CFolders::CreateFolder>(9)
      .Method<&CFolders::MoveMessage>(11)
      .Method<&CFolders::CreateMessage>(12);
}

}  // namespace mq
