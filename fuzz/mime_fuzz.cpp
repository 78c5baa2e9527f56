// SPDX-License-Identifier: LGPL-2.1-or-later
// Feeds arbitrary bytes to the MIME layer as a message file and drives it the
// way an attachment export does: list, classify, name and save every part.
// Display names must always be plain file names, whatever the input. The same
// bytes go through the store's summary of a header block, parsed afresh and
// from a reader's address cache, which must agree. Shortcuts must answer as
// the long way: the header-block shortcut of the MIME layer as its full
// parse, the early-stopping header scans as scans of the whole text.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "control/messages_ops/raw_text.h"
#include "platform/com/memory.h"
#include "platform/mime/mime.h"
#include "platform/store/engine/summary.h"

namespace {

// A private directory for the input and the saved parts, removed at exit. Its
// name lives in a plain array: the exit handler runs after static strings are
// destroyed.
char g_dir[64];
char g_input[96];

const std::string& WorkDir() {
  static const std::string dir = [] {
    std::snprintf(g_dir, sizeof g_dir, "/tmp/mime_fuzz_XXXXXX");
    if (!mkdtemp(g_dir)) abort();
    std::snprintf(g_input, sizeof g_input, "%s/input.eml", g_dir);
    std::atexit([] {
      unlink(g_input);
      rmdir(g_dir);
    });
    return std::string(g_dir);
  }();
  return dir;
}

void CheckSummary(const uint8_t* data, size_t size) {
  static store::AddressCache cache;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  store::Summary fresh = store::ParseHeaderBlock(bytes);
  store::Summary remembered = store::ParseHeaderBlock(bytes, &cache);
  if (fresh.displayFrom != remembered.displayFrom || fresh.displayTo != remembered.displayTo)
    abort();
}

// Reads `bytes` in chunks as a message stream would deliver them: the first
// input byte picks a short-read length, so chunk boundaries move around.
std::optional<std::string> ChunkedText(std::string_view bytes, ULONG shortRead,
                                       const std::function<bool(std::string_view)>& settled) {
  std::size_t at = 0;
  return msgops::ReadTextInChunks(
      [&](char* buffer, ULONG count, ULONG* read) {
        std::size_t n = std::min<std::size_t>({count, shortRead, bytes.size() - at});
        std::memcpy(buffer, bytes.data() + at, n);
        at += n;
        *read = static_cast<ULONG>(n);
        return S_OK;
      },
      settled);
}

void CheckScans(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const ULONG shortRead = size ? 1 + data[0] * 64 : msgops::kRawTextChunk;
  const std::string whole = ChunkedText(bytes, shortRead, nullptr).value();
  const std::string early = ChunkedText(bytes, shortRead, msgops::ReturnAddressSettled()).value();
  if (msgops::ScanReturnAddress(early) != msgops::ScanReturnAddress(whole)) abort();
  const std::string delivered = ChunkedText(bytes, shortRead, msgops::DeliveredToSettled()).value();
  if (msgops::ScanDeliveredTo(delivered) != msgops::ScanDeliveredTo(whole)) abort();
}

// Everything the attachment members learn of a message, with saved contents.
std::string Answers(IMimeMessage* message, const std::string& dir) {
  std::string all;
  ULONG count = 0;
  HBODY* parts = nullptr;
  if (message->GetAttachments(&count, &parts) != S_OK) return "failed";
  for (ULONG i = 0; i < count; ++i) {
    all += message->IsBodyType(parts[i], IBT_ATTACHMENT) == S_OK ? "A " : "- ";
    all += message->IsBodyType(parts[i], IBT_EMPTY) == S_OK ? "E " : "- ";
    IMimeBody* body = nullptr;
    if (FAILED(message->BindToObject(parts[i], IID_IMimeBody, reinterpret_cast<void**>(&body))))
      continue;
    LPSTR name = nullptr;
    if (SUCCEEDED(body->GetDisplayName(&name))) {
      all += name;
      CoTaskMemFree(name);
    }
    // The facts the export options read: each answer a plain text or none.
    for (const char* prop :
         {"Content-Type", "Content-Disposition", "Content-ID", "par:Content-Type"}) {
      LPSTR value = nullptr;
      const HRESULT hr = body->GetPropText(prop, &value);
      if (FAILED(hr) || (hr == S_OK) != (value != nullptr)) abort();
      all += value ? std::string("|") + value : std::string("|-");
      CoTaskMemFree(value);
    }
    const std::string path = dir + "/answer.bin";
    all += body->SaveToFile(IET_BINARY, path.c_str()) == S_OK ? "=" : "!";
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      char buf[4096];
      for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) all.append(buf, n);
      std::fclose(f);
    }
    unlink(path.c_str());
    body->Release();
    all += "\n";
  }
  CoTaskMemFree(parts);
  return all;
}

void CheckPlainFileName(const char* name) {
  std::size_t len = std::strlen(name);
  if (len == 0 || len > 255) abort();
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) abort();
  for (std::size_t i = 0; i < len; ++i) {
    auto c = static_cast<unsigned char>(name[i]);
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckSummary(data, size);
  CheckScans(data, size);
  const std::string& dir = WorkDir();
  const std::string input = dir + "/input.eml";
  FILE* f = std::fopen(input.c_str(), "wb");
  if (!f) abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);

  IMimeMessage* message = nullptr;
  if (FAILED(mime::OpenMessageFile(input.c_str(), &message))) abort();  // every file parses
  IMimeMessage* parsed = nullptr;
  if (FAILED(mime::detail::ParseMessageFile(input.c_str(), &parsed))) abort();
  if (Answers(message, dir) != Answers(parsed, dir)) abort();
  parsed->Release();
  // The message's HTML and plain text, bounded whatever the message holds.
  for (DWORD kind : {TXT_PLAIN, TXT_HTML}) {
    LPSTR text = nullptr;
    const HRESULT hr = message->GetTextBody(kind, &text);
    if (FAILED(hr) || (hr == S_OK) != (text != nullptr)) abort();
    // Read text is bounded; Latin-1 read as Windows-1252 grows at most threefold in UTF-8.
    if (text && std::strlen(text) > 3 * IMimeMessage::kMaxTextBody) abort();
    CoTaskMemFree(text);
  }
  // The files inside winmail.dat parts and attached messages: plain names,
  // saved, and as many as the list bounds.
  IMimeMessageFiles* files = nullptr;
  if (FAILED(message->QueryInterface(IID_IMimeMessageFiles, reinterpret_cast<void**>(&files))))
    abort();
  ULONG listed = 0;
  if (files->ListFiles(MIMEFILES_NESTED | MIMEFILES_UNPACK_TNEF, &listed) != S_OK) abort();
  for (ULONG i = 0; i < listed; ++i) {
    MIMEFILEINFO info{};
    info.cbSize = sizeof info;
    if (files->GetFileInfo(i, &info) != S_OK || !info.pszName) abort();
    if (info.dwDepth > mime::kMaxNestedDepth) abort();
    CheckPlainFileName(info.pszName);
    const std::string path = dir + "/listed.bin";
    files->SaveFile(i, path.c_str());
    unlink(path.c_str());
    files->FreeFileInfo(&info);
  }
  files->Release();
  ULONG count = 0;
  HBODY* parts = nullptr;
  if (message->GetAttachments(&count, &parts) == S_OK) {
    for (ULONG i = 0; i < count; ++i) {
      message->IsBodyType(parts[i], IBT_ATTACHMENT);
      message->IsBodyType(parts[i], IBT_EMPTY);
      IMimeBody* body = nullptr;
      if (FAILED(message->BindToObject(parts[i], IID_IMimeBody, reinterpret_cast<void**>(&body)))) {
        continue;
      }
      LPSTR name = nullptr;
      if (SUCCEEDED(body->GetDisplayName(&name))) {
        CheckPlainFileName(name);
        std::string path = dir + "/" + name;
        body->SaveToFile(IET_BINARY, path.c_str());
        unlink(path.c_str());
        CoTaskMemFree(name);
      }
      body->Release();
    }
  }
  CoTaskMemFree(parts);
  message->Release();
  return 0;
}
