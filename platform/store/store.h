// SPDX-License-Identifier: LGPL-2.1-or-later
// The mail store interfaces: a namespace of folders (IStoreNamespace) and the
// folders with their messages (IStoreFolder), with the records they fill.
#pragma once

#include "platform/com/stream.h"
#include "platform/com/unknown.h"

struct IMimeMessage;  // platform/mime/mime.h

using STOREFOLDERID = DWORD;
using MESSAGEID = DWORD;
using HENUMSTORE = void*;
using HBATCHLOCK = void*;

constexpr STOREFOLDERID FOLDERID_ROOT = 0;
constexpr STOREFOLDERID FOLDERID_INVALID = 0xFFFFFFFF;
constexpr MESSAGEID MESSAGEID_FIRST = 0xFFFFFFFF;
constexpr DWORD CCHMAX_FOLDER_NAME = 256;

// The size fields are version stamps: callers set these values whatever
// sizeof is on this platform, and any other value is refused (E_INVALIDARG).
constexpr DWORD FOLDERPROPS_SIZE = 280;
constexpr DWORD MESSAGEPROPS_SIZE = 68;

struct FOLDERPROPS {
  DWORD cbSize;
  STOREFOLDERID dwFolderId;
  LONG cSubFolders;
  DWORD sfType;  // special-folder type: FOLDER_*
  DWORD cUnread;
  DWORD cMessage;
  char szName[CCHMAX_FOLDER_NAME];  // UTF-8, NUL-terminated (cut at a character boundary)
};

constexpr DWORD FOLDER_NOTSPECIAL = 0;
constexpr DWORD FOLDER_INBOX = 1;
// A top folder that stands for an account or a store: its folders are below it.
constexpr DWORD FOLDER_ACCOUNT = 2;

// Message flags word (dwFlags), mapped from the Maildir ":2," info.
constexpr DWORD MSG_FLAG_READ = 0x0001;        // S
constexpr DWORD MSG_FLAG_REPLIED = 0x0002;     // R
constexpr DWORD MSG_FLAG_FLAGGED = 0x0004;     // F
constexpr DWORD MSG_FLAG_DRAFT = 0x0008;       // D
constexpr DWORD MSG_FLAG_TRASHED = 0x0010;     // T
constexpr DWORD MSG_FLAG_PASSED = 0x0020;      // P
constexpr DWORD MSG_FLAG_ATTACHMENT = 0x0040;  // has an attachment (from the summary)
// Only part of the message is on this computer: Thunderbird keeps the headers
// of a message whose body it did not download (its flag 0x400, "partial").
constexpr DWORD MSG_FLAG_PARTIAL = 0x0080;

// GetMessageProps flags.
constexpr DWORD MSGPROPS_FAST = 0x1;  // summary fields only, no text

struct MESSAGEPROPS {
  DWORD cbSize;
  DWORD dwReserved;
  MESSAGEID dwMessageId;
  DWORD dwLanguage;
  DWORD dwState;
  DWORD cbMessage;
  DWORD priority;
  FILETIME ftReceived;
  FILETIME ftSent;
  LPSTR pszSubject;        // full subject, UTF-8; null when absent
  LPSTR pszDisplayTo;      // To recipients as displayed, joined with "; "; null when absent
  LPSTR pszDisplayFrom;    // sender as displayed; null when absent
  LPSTR pszNormalSubject;  // subject without reply and forward prefixes; null when absent
  DWORD dwFlags;           // MSG_FLAG_*
  IStream* pStmOffsetTable;
  LPSTR pszMessageId;  // the Message-ID header; null when absent
};

// A list of message ids: callers set cbSize to sizeof, cMsgs and prgdwMsgId.
struct MESSAGEIDLIST {
  DWORD cbSize;
  DWORD cMsgs;
  MESSAGEID* prgdwMsgId;
};

// CopyMoveMessages flags.
constexpr DWORD CMF_MOVE = 0x1;

struct IProgressNotify;  // never called: callers pass null

struct IStoreFolder;

struct IStoreNamespace : IUnknown {
  static constexpr IID iid = com::Guid("{E70C92AA-4BFD-11D1-8A95-00C04FB951F3}");
  using Base = IUnknown;
  virtual HRESULT GetDirectory(LPSTR pszPath, DWORD cchMaxPath) = 0;
  virtual HRESULT Initialize(HWND hwndOwner, DWORD dwReserved) = 0;
  virtual HRESULT OpenSpecialFolder(LONG sfType, DWORD dwReserved, IStoreFolder** ppFolder) = 0;
  virtual HRESULT OpenFolder(STOREFOLDERID dwFolderId, DWORD dwReserved,
                             IStoreFolder** ppFolder) = 0;
  virtual HRESULT CreateFolder(STOREFOLDERID dwParentId, LPCSTR pszName, DWORD dwReserved,
                               STOREFOLDERID* pdwFolderId) = 0;
  virtual HRESULT RenameFolder(STOREFOLDERID dwFolderId, DWORD dwReserved, LPCSTR pszNewName) = 0;
  virtual HRESULT MoveFolder(STOREFOLDERID dwFolderId, STOREFOLDERID dwParentId,
                             DWORD dwReserved) = 0;
  virtual HRESULT DeleteFolder(STOREFOLDERID dwFolderId, DWORD dwReserved) = 0;
  virtual HRESULT GetFolderProps(STOREFOLDERID dwFolderId, DWORD dwReserved,
                                 FOLDERPROPS* pProps) = 0;
  virtual HRESULT CopyMoveMessages(IStoreFolder* pSource, IStoreFolder* pDest,
                                   MESSAGEIDLIST* pMsgIdList, DWORD dwFlags, DWORD dwFlagsRemove,
                                   IProgressNotify* pProgress) = 0;
  virtual HRESULT RegisterNotification(DWORD dwReserved, HWND hwnd) = 0;
  virtual HRESULT UnregisterNotification(DWORD dwReserved, HWND hwnd) = 0;
  virtual HRESULT CompactAll(DWORD dwReserved) = 0;
  virtual HRESULT GetFirstSubFolder(STOREFOLDERID dwFolderId, FOLDERPROPS* pProps,
                                    HENUMSTORE* phEnum) = 0;
  virtual HRESULT GetNextSubFolder(HENUMSTORE hEnum, FOLDERPROPS* pProps) = 0;
  virtual HRESULT GetSubFolderClose(HENUMSTORE hEnum) = 0;
};

struct IStoreFolder : IUnknown {
  static constexpr IID iid = com::Guid("{E70C92AC-4BFD-11D1-8A95-00C04FB951F3}");
  using Base = IUnknown;
  virtual HRESULT GetFolderProps(DWORD dwReserved, FOLDERPROPS* pProps) = 0;
  virtual HRESULT DeleteMessages(MESSAGEIDLIST* pMsgIdList, DWORD dwReserved,
                                 IProgressNotify* pProgress) = 0;
  virtual HRESULT SetLanguage(DWORD dwLanguage, DWORD dwReserved, MESSAGEIDLIST* pMsgIdList) = 0;
  virtual HRESULT MarkMessagesAsRead(BOOL fRead, DWORD dwReserved, MESSAGEIDLIST* pMsgIdList) = 0;
  virtual HRESULT SetFlags(MESSAGEIDLIST* pMsgIdList, DWORD dwState, DWORD dwStatemask,
                           DWORD* prgdwNewFlags) = 0;
  virtual HRESULT OpenMessage(MESSAGEID dwMessageId, REFIID riid, void** ppvObject) = 0;
  virtual HRESULT SaveMessage(REFIID riid, void* pvObject, DWORD dwMsgFlags,
                              MESSAGEID* pdwMessageId) = 0;
  virtual HRESULT BatchLock(DWORD dwReserved, HBATCHLOCK* phBatchLock) = 0;
  virtual HRESULT BatchFlush(DWORD dwReserved, HBATCHLOCK hBatchLock) = 0;
  virtual HRESULT BatchUnlock(DWORD dwReserved, HBATCHLOCK hBatchLock) = 0;
  virtual HRESULT CreateStream(HBATCHLOCK hBatchLock, DWORD dwReserved, IStream** ppStream,
                               MESSAGEID* pdwMessageId) = 0;
  virtual HRESULT CommitStream(HBATCHLOCK hBatchLock, DWORD dwFlags, DWORD dwMsgFlags,
                               IStream* pStream, MESSAGEID dwMessageId, IMimeMessage* pMessage) = 0;
  virtual HRESULT RegisterNotification(DWORD dwReserved, HWND hwnd) = 0;
  virtual HRESULT UnregisterNotification(DWORD dwReserved, HWND hwnd) = 0;
  virtual HRESULT GetMessageProps(MESSAGEID dwMessageId, DWORD dwFlags, MESSAGEPROPS* pProps) = 0;
  virtual HRESULT FreeMessageProps(MESSAGEPROPS* pProps) = 0;
  virtual HRESULT GetFirstMessage(DWORD dwFlags, DWORD dwMsgFlags, MESSAGEID dwMsgIdFirst,
                                  MESSAGEPROPS* pProps, HENUMSTORE* phEnum) = 0;
  virtual HRESULT GetNextMessage(HENUMSTORE hEnum, DWORD dwFlags, MESSAGEPROPS* pProps) = 0;
  virtual HRESULT GetMessageClose(HENUMSTORE hEnum) = 0;
};

// What a folder's own mail program lists in it, beside what the store reads
// from its files: Thunderbird keeps offline copies of only some IMAP
// messages, and its summary (.msf) counts them all. Answered by every folder.
struct IStoreFolderListed : IUnknown {
  static constexpr IID iid = com::Guid("{2E85C400-D8CE-4908-8541-377801A631A6}");
  using Base = IUnknown;
  // S_OK and the number of messages the mail program lists in the folder;
  // S_FALSE and 0 when nothing tells (no summary, one that cannot be read,
  // a store of another kind).
  virtual HRESULT GetListedCount(DWORD* pcListed) = 0;
};

constexpr CLSID CLSID_StoreNamespace = com::Guid("{E70C92A9-4BFD-11D1-8A95-00C04FB951F3}");
constexpr IID IID_IStoreNamespace = IStoreNamespace::iid;
constexpr IID IID_IStoreFolder = IStoreFolder::iid;
constexpr IID IID_IStoreFolderListed = IStoreFolderListed::iid;
