// SPDX-License-Identifier: LGPL-2.1-or-later
// An in-memory IStoreNamespace / IStoreFolder for unit tests of the control:
// a folder tree, messages with summary fields, stored bytes and MIME parts,
// failure injection, and counts of the folders open and the calls made (an
// enumeration never closed is a leak LeakSanitizer reports). Members a test
// does not configure answer E_NOTIMPL.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/unknown.h"
#include "platform/store/store.h"

namespace mq::testing {

// An attachment as the MIME layer hands it out.
struct FakePart {
  std::string name;
  std::string content;
  bool attachment = true;
  bool bindFails = false;
};

struct FakeMessage {
  MESSAGEID id = 0;
  std::optional<std::string> subject;  // normalised; nullopt leaves every text field null
  DWORD flags = 0;
  std::string bytes;            // what the message's stream reads
  std::vector<FakePart> parts;  // what its parsed form lists
};

inline FakeMessage Message(MESSAGEID id, std::string subject, DWORD flags = 0) {
  FakeMessage message;
  message.id = id;
  message.subject = std::move(subject);
  message.flags = flags;
  return message;
}

struct FakeFolder {
  STOREFOLDERID id = 0;
  std::string name;
  STOREFOLDERID parent = 0;
  std::vector<FakeMessage> messages;
  // Fail the n-th message request (0 = GetFirstMessage) with E_FAIL.
  int failMessageRequest = -1;
  // Stream reads deliver at most `maxRead` bytes and the read numbered
  // `failRead` (from 0) fails; `reads` records the sizes the last stream was asked.
  ULONG maxRead = 1u << 30;
  int failRead = -1;
  std::vector<ULONG> reads;

  FakeMessage& Add(MESSAGEID id);  // a message without summary fields
};

struct FakeStoreState {
  std::map<STOREFOLDERID, FakeFolder> folders;  // root (0) is implicit
  std::vector<STOREFOLDERID> order;             // sibling order: insertion order
  // Fail the n-th subfolder request of the level below this parent.
  std::map<STOREFOLDERID, int> failSubFolderRequest;
  std::map<STOREFOLDERID, bool> noSubFolderHandle;
  // The namespace operations that change the store, as they were asked; each
  // answers `changeResult` and changes nothing.
  struct Change {
    std::string operation;  // "CreateFolder", "CopyMoveMessages", ...
    DWORD flagsRemove = 0;  // CopyMoveMessages
  };
  std::vector<Change> changes;
  HRESULT changeResult = S_OK;
  int openFolders = 0;  // IStoreFolder objects alive
  int storeCalls = 0;   // every namespace and folder call

  FakeFolder& AddFolder(STOREFOLDERID id, std::string name, STOREFOLDERID parent = 0);
};

// A namespace over `state`, which must outlive it and every folder it opens.
com::ComPtr<IStoreNamespace> MakeFakeStore(FakeStoreState& state);
// Folder `id` of `state` opened as the namespace opens it.
com::ComPtr<IStoreFolder> OpenFakeFolder(FakeStoreState& state, STOREFOLDERID id);

// 100-ns ticks since 1601 as a FILETIME.
FILETIME Ticks(ULONGLONG ticks);
// A UTC calendar time as a FILETIME (years 1601 to 30827).
FILETIME Utc(int year, int month, int day, int hour, int minute, int second, int ms = 0);

}  // namespace mq::testing
