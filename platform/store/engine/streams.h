// SPDX-License-Identifier: LGPL-2.1-or-later
// The streams of message files: reading one as stored, and writing a new one.
#pragma once

#include <memory>
#include <string>

#include "platform/com/stream.h"
#include "platform/mime/mime.h"
#include "platform/store/store.h"

namespace store {

class Store;

// A read-only stream over the file at `fd` (which it takes over and closes).
HRESULT CreateFileStream(int fd, IStream** out);

// Whether `riid` asks for a message: as stored (a stream) or parsed.
bool IsMessageInterface(REFIID riid);
// Opens the message file at `path`, which holds one message and nothing else,
// as a stream of its bytes or (IID_IMimeMessage) parsed by the MIME layer.
HRESULT OpenWholeMessageFile(const std::string& path, REFIID riid, void** ppv);

// Opens the message in `slice` of the file open at `fd` (which it takes
// over, as the MIME layer's slice readers do) as a stream of its bytes or
// parsed; E_NOINTERFACE (and `fd` closed) for another interface.
HRESULT OpenMessageSlice(int fd, const mime::FileSlice& slice, REFIID riid, void** ppv);

// The stream of a new message of `folder` whose file (open at `fd`, at
// `path`) and id the folder's format reserved. Released without
// CommitNewMessageStream, it leaves nothing behind.
HRESULT CreateNewMessageStream(std::shared_ptr<Store> store, STOREFOLDERID folder, MESSAGEID id,
                               int fd, const std::string& path, IStream** out);
// Puts the message written into `stream` in place; E_INVALIDARG when it is
// no such stream.
HRESULT CommitNewMessageStream(IStream* stream, STOREFOLDERID folder, MESSAGEID id, DWORD msgFlags);

}  // namespace store
