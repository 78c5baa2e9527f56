// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/mime/message_files.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/com/memory.h"
#include "platform/mime/mime_internal.h"
#include "platform/mime/parts.h"
#include "platform/mime/tnef.h"

namespace mime::detail {
namespace {

std::string Join(const std::string& outer, const std::string& inner) {
  return outer.empty() ? inner : outer + " / " + inner;
}

bool IsTnef(GMimeObject* part) {
  if (!GMIME_IS_PART(part)) return false;
  GMimeContentType* ct = g_mime_object_get_content_type(part);
  if (ct && (g_mime_content_type_is_type(ct, "application", "ms-tnef") ||
             g_mime_content_type_is_type(ct, "application", "vnd.ms-tnef")))
    return true;
  const char* name = g_mime_part_get_filename(GMIME_PART(part));
  return name && strcasecmp(name, "winmail.dat") == 0;
}

// The decoded bytes of a leaf, or false when it is larger than `limit` or
// cannot be read.
bool DecodeToMemory(GMimeObject* part, std::size_t limit, std::string* out) {
  out->clear();
  int err = DecodePart(GMIME_PART(part), [&](const char* data, std::size_t size) {
    if (size > limit - out->size()) return EFBIG;
    out->append(data, size);
    return 0;
  });
  return err == 0;
}

// What an attached message is called in a container path: its subject.
std::string MessageTitle(GMimeObject* part) {
  GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(part));
  const char* subject = inner ? g_mime_message_get_subject(inner) : nullptr;
  std::string title = CutUtf8(subject ? subject : "", kMaxNameBytes);
  return title.empty() ? "attached message" : title;
}

// "type/subtype" in lower case, as GMime read it.
std::string PartType(GMimeObject* part) {
  GMimeContentType* ct = g_mime_object_get_content_type(part);
  const char* type = ct ? g_mime_content_type_get_media_type(ct) : nullptr;
  const char* subtype = ct ? g_mime_content_type_get_media_subtype(ct) : nullptr;
  if (!type || !subtype) return {};
  std::string text = std::string(type) + "/" + subtype;
  for (char& c : text) c = g_ascii_tolower(c);
  return text;
}

std::string TnefFileName(const tnef::Attachment& a) {
  std::string name = SanitizeFileName(a.Name());
  if (!name.empty()) return name;
  const std::size_t slash = a.mimeType.find('/');
  if (slash != std::string::npos)
    return GeneratedName(a.mimeType.substr(0, slash), a.mimeType.substr(slash + 1));
  return GeneratedName("application", "octet-stream");
}

int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

}  // namespace

void FileList::Build(DWORD flags) {
  flags_ = flags;
  files_.clear();
  buffers_.clear();
  if (root_) AddMessage(root_, 0, "");
}

void FileList::AddMessage(GMimeObject* root, DWORD depth, const std::string& container) {
  for (GMimeObject* part : AttachmentLeaves(root)) {
    if (files_.size() >= kMaxFiles) return;
    std::string note;
    if ((flags_ & MIMEFILES_UNPACK_TNEF) && IsTnef(part)) {
      if (AddTnef(part, depth, container, &note)) continue;
    }
    File file;
    file.part = part;
    file.type = PartType(part);
    file.name = PartDisplayName(part);
    file.container = container;
    file.depth = depth;
    file.flags = depth > 0 ? MIMEFILE_IN_MESSAGE : 0;
    if (!note.empty()) {
      file.flags |= MIMEFILE_TNEF_KEPT;
      file.note = note;
    }
    files_.push_back(std::move(file));
    if ((flags_ & MIMEFILES_NESTED) && GMIME_IS_MESSAGE_PART(part) && depth < kMaxNestedDepth) {
      GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(part));
      GMimeObject* innerRoot = inner ? g_mime_message_get_mime_part(inner) : nullptr;
      if (innerRoot) AddMessage(innerRoot, depth + 1, Join(container, MessageTitle(part)));
    }
  }
}

bool FileList::AddTnef(GMimeObject* part, DWORD depth, const std::string& container,
                       std::string* note) {
  auto bytes = std::make_unique<std::string>();
  if (!DecodeToMemory(part, kMaxTnefBytes, bytes.get())) {
    *note = "too large to unpack here";
    return false;
  }
  const tnef::Result read = tnef::Read(*bytes);
  if (read.problem != tnef::Problem::kNone) {
    *note = read.reason;
    return false;
  }
  const std::string tnefName = PartDisplayName(part);
  std::vector<File> found;
  // Messages inside the stream, each with the depth and container path its
  // files get; bounded by the reader's own nesting limit.
  struct Level {
    const tnef::Message* message;
    DWORD depth;
    std::string container;
  };
  std::vector<Level> todo{{&read.message, depth, Join(container, tnefName)}};
  while (!todo.empty()) {
    Level level = std::move(todo.back());
    todo.pop_back();
    for (const tnef::Attachment& a : level.message->attachments) {
      if (a.embedded) {
        if ((flags_ & MIMEFILES_NESTED) && level.depth < kMaxNestedDepth) {
          std::string title = CutUtf8(!a.embedded->subject.empty() ? a.embedded->subject
                                      : !a.Name().empty()          ? a.Name()
                                                                   : "attached message",
                                      kMaxNameBytes);
          todo.push_back({a.embedded.get(), level.depth + 1, Join(level.container, title)});
        }
        continue;
      }
      if (a.data.empty()) continue;
      File file;
      file.data = a.data;
      file.type = a.mimeType;
      for (char& c : file.type) c = g_ascii_tolower(c);
      file.name = TnefFileName(a);
      file.container = level.container;
      file.depth = level.depth;
      file.flags = MIMEFILE_FROM_TNEF | (level.depth > 0 ? MIMEFILE_IN_MESSAGE : 0);
      file.modified = a.modified.value_or(0);
      found.push_back(std::move(file));
    }
  }
  if (found.empty()) {
    *note = "holds only attached messages (unpacked with attachments inside attached messages)";
    return false;
  }
  for (File& file : found) {
    if (files_.size() >= kMaxFiles) break;
    files_.push_back(std::move(file));
  }
  buffers_.push_back(std::move(bytes));
  return true;
}

HRESULT FileList::Info(std::size_t i, MIMEFILEINFO* info) const {
  if (!info || info->cbSize != sizeof(MIMEFILEINFO) || i >= files_.size()) return E_INVALIDARG;
  const File& file = files_[i];
  auto dup = [](const std::string& text) -> LPSTR {
    return text.empty() ? nullptr : com::CoTaskStrDup(text.c_str(), text.size());
  };
  *info = MIMEFILEINFO{};
  info->cbSize = sizeof(MIMEFILEINFO);
  info->dwDepth = file.depth;
  info->dwFlags = file.flags;
  info->ftModified.dwLowDateTime = static_cast<DWORD>(file.modified);
  info->ftModified.dwHighDateTime = static_cast<DWORD>(file.modified >> 32);
  info->pszType = dup(file.type);
  info->pszName = dup(file.name);
  info->pszContainer = dup(file.container);
  info->pszNote = dup(file.note);
  if (!info->pszName || (!file.container.empty() && !info->pszContainer) ||
      (!file.note.empty() && !info->pszNote) || (!file.type.empty() && !info->pszType)) {
    CoTaskMemFree(info->pszType);
    CoTaskMemFree(info->pszName);
    CoTaskMemFree(info->pszContainer);
    CoTaskMemFree(info->pszNote);
    *info = MIMEFILEINFO{};
    info->cbSize = sizeof(MIMEFILEINFO);
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT FileList::Save(std::size_t i, const char* path) const {
  if (i >= files_.size()) return E_INVALIDARG;
  const File& file = files_[i];
  if (file.part) return SavePart(file.part, crlf_, path);
  return SaveToPath(path, [&](int fd) { return WriteAll(fd, file.data); });
}

}  // namespace mime::detail
