// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/book.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/shell/files.h"
#include "platform/wab/card_charsets.h"
#include "platform/wab/wab.h"

namespace wab {
namespace {

// A card file larger than this is not an address book file (a stray archive
// or disk image); it is skipped rather than read into memory.
constexpr off_t kMaxFileSize = 64 << 20;

bool HasCardSuffix(const std::string& name) {
  auto ends = [&](const char* suffix) {
    std::size_t n = std::strlen(suffix);
    return name.size() > n && strcasecmp(name.c_str() + name.size() - n, suffix) == 0;
  };
  return ends(".vcf") || ends(".vcard");
}

// Reads a regular file whole; false when it cannot be read or is too large.
bool ReadWhole(const std::string& path, std::string* bytes, FileStamp* stamp) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxFileSize;
  if (ok) {
    bytes->resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (ok && done < bytes->size()) {
      ssize_t n = read(fd, bytes->data() + done, bytes->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // the file shrank meanwhile: keep what was there
      done += static_cast<std::size_t>(n);
    }
    bytes->resize(done);
    if (stamp) *stamp = StampOf(st);
  }
  close(fd);
  return ok;
}

// Splits and parses a file's bytes, giving each card its key.
void ParseFile(LoadedFile* file) {
  std::map<std::string, int> uidCount;
  bool unicode = EncodingOf(file->bytes) != FileEncoding::kBytes;
  for (const CardSpan& span : SplitCards(file->bytes)) {
    LoadedCard card;
    card.span = span;
    std::string_view bytes = std::string_view(file->bytes).substr(span.offset, span.length);
    bool read = unicode ? ReadContact(CardTextOf(file->bytes, span), &card.contact, true)
                        : ReadContact(bytes, &card.contact);
    if (!read) continue;
    if (!card.contact.uid.empty()) ++uidCount[card.contact.uid];
    file->cards.push_back(std::move(card));
  }
  for (LoadedCard& card : file->cards) {
    card.key.fileName = file->name;
    const std::string& uid = card.contact.uid;
    if (!uid.empty() && uidCount[uid] == 1) {
      card.key.keyKind = 'U';
      card.key.key = uid;
    } else {
      card.key.keyKind = 'F';
      card.key.key =
          Fingerprint(std::string_view(file->bytes).substr(card.span.offset, card.span.length));
    }
  }
}

// Writes `bytes` as the file `name` in `directory` whole or not at all:
// replacing the file when `replace`, else only when no file of that name
// exists. The file keeps `mode`.
HRESULT PlaceFile(const std::string& directory, const std::string& name, std::string_view bytes,
                  mode_t mode, bool replace) {
  const std::string target = directory + "/" + name;
  int err = replace ? files::ReplaceFile(target, bytes, mode)
                    : files::CreateFileWhole(target, bytes, mode);
  if (err == 0) return S_OK;
  return err == EACCES || err == EPERM ? MAPI_E_NO_ACCESS : MAPI_E_DISK_ERROR;
}

bool MakeDirectories(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash)))
    return false;
  return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

bool OnlyBlank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

}  // namespace

Book::Book(std::string location, bool readOnly)
    : location_(std::move(location)), readOnly_(readOnly) {
  while (location_.size() > 1 && location_.back() == '/') location_.pop_back();
  struct stat st;
  if (stat(location_.c_str(), &st) == 0)
    singleFile_ = !S_ISDIR(st.st_mode);
  else
    singleFile_ = HasCardSuffix(location_);
}

std::string Book::DirectoryOf() const {
  if (!singleFile_) return location_;
  std::size_t slash = location_.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : location_.substr(0, slash);
}

std::string Book::PathOf(const std::string& name) const {
  return singleFile_ ? location_ : location_ + "/" + name;
}

HRESULT Book::ListFiles(std::vector<std::string>* names) const {
  names->clear();
  if (singleFile_) {
    struct stat st;
    if (stat(location_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      std::size_t slash = location_.find_last_of('/');
      names->push_back(slash == std::string::npos ? location_ : location_.substr(slash + 1));
    }
    return S_OK;
  }
  DIR* dir = opendir(location_.c_str());
  if (!dir) return errno == ENOENT ? S_OK : MAPI_E_NO_ACCESS;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.empty() || name[0] == '.' || !HasCardSuffix(name)) continue;
    if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) continue;
    names->push_back(std::move(name));
  }
  closedir(dir);
  std::sort(names->begin(), names->end());
  return S_OK;
}

std::shared_ptr<const LoadedFile> Book::Load(const std::string& name) {
  std::string path = PathOf(name);
  {
    std::lock_guard<std::mutex> hold(mutex_);
    struct stat st;
    if (recent_ && recent_->name == name && stat(path.c_str(), &st) == 0 &&
        StampOf(st) == recentStamp_)
      return recent_;
  }
  auto file = std::make_shared<LoadedFile>();
  file->name = name;
  FileStamp stamp;
  if (!ReadWhole(path, &file->bytes, &stamp)) return nullptr;
  ParseFile(file.get());
  std::lock_guard<std::mutex> hold(mutex_);
  recent_ = file;
  recentStamp_ = stamp;
  return file;
}

HRESULT Book::Find(const CardKey& key, std::shared_ptr<const LoadedFile>* file,
                   const LoadedCard** card) {
  if (singleFile_) {
    std::vector<std::string> names;
    ListFiles(&names);
    if (names.empty() || names[0] != key.fileName) return MAPI_E_NOT_FOUND;
  }
  std::shared_ptr<const LoadedFile> loaded = Load(key.fileName);
  if (!loaded) return MAPI_E_NOT_FOUND;
  for (const LoadedCard& c : loaded->cards) {
    if (c.key == key) {
      *file = loaded;
      *card = &c;
      return S_OK;
    }
  }
  return MAPI_E_NOT_FOUND;
}

HRESULT Book::Create(const std::string& cardText, const std::string& uid, CardKey* key) {
  if (readOnly_) return MAPI_E_NO_ACCESS;
  std::string directory = DirectoryOf();
  if (!MakeDirectories(directory)) return MAPI_E_DISK_ERROR;
  files::Lock lock(directory);
  if (!lock.Held()) return MAPI_E_NO_ACCESS;
  if (!singleFile_) {
    // Names are made from the UID; one that is not a plain file name (it
    // came from elsewhere) is replaced by a fresh one.
    std::string base = uid;
    bool plain = !base.empty() && base.size() < 200 &&
                 base.find_first_not_of(
                     "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                     "0123456789-_") == std::string::npos;
    if (!plain) base = Fingerprint(uid);
    std::string name = base + ".vcf";
    HRESULT hr = PlaceFile(directory, name, cardText, 0600, false);
    if (FAILED(hr)) return hr;
    *key = {name, 'U', uid};
    return S_OK;
  }
  std::string bytes;
  mode_t mode = 0600;
  struct stat st;
  if (stat(location_.c_str(), &st) == 0) {
    if (!ReadWhole(location_, &bytes, nullptr)) return MAPI_E_NO_ACCESS;
    mode = st.st_mode & 07777;
  }
  // A UTF-16 file takes the card in its own byte order.
  FileEncoding encoding = EncodingOf(bytes);
  auto encoded = [&](std::string_view text) {
    return encoding == FileEncoding::kBytes ? std::string(text) : Utf8ToUtf16(text, encoding);
  };
  auto endsWith = [&](const std::string& tail) {
    return bytes.size() >= tail.size() &&
           !bytes.compare(bytes.size() - tail.size(), tail.size(), tail);
  };
  if (!bytes.empty() && !endsWith(encoded("\n")) && !endsWith(encoded("\r")))
    bytes += encoded("\r\n");
  bytes += encoded(cardText);
  std::size_t slash = location_.find_last_of('/');
  std::string name = slash == std::string::npos ? location_ : location_.substr(slash + 1);
  HRESULT hr = PlaceFile(directory, name, bytes, mode, true);
  if (FAILED(hr)) return hr;
  // The key as a reader will compute it (the UID may now be shared).
  auto file = std::make_shared<LoadedFile>();
  file->name = name;
  file->bytes = std::move(bytes);
  ParseFile(file.get());
  if (file->cards.empty()) return MAPI_E_CALL_FAILED;
  *key = file->cards.back().key;
  return S_OK;
}

HRESULT Book::Delete(const CardKey& key) {
  if (readOnly_) return MAPI_E_NO_ACCESS;
  std::string directory = DirectoryOf();
  files::Lock lock(directory);
  if (!lock.Held()) return MAPI_E_NOT_FOUND;
  std::vector<std::string> names;
  if (singleFile_) {
    ListFiles(&names);
    if (names.empty() || names[0] != key.fileName) return MAPI_E_NOT_FOUND;
  }
  std::string path = PathOf(key.fileName);
  LoadedFile file;
  file.name = key.fileName;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return MAPI_E_NOT_FOUND;
  if (!ReadWhole(path, &file.bytes, nullptr)) return MAPI_E_NOT_FOUND;
  ParseFile(&file);
  auto it = std::find_if(file.cards.begin(), file.cards.end(),
                         [&](const LoadedCard& c) { return c.key == key; });
  if (it == file.cards.end()) return MAPI_E_NOT_FOUND;

  std::string rest =
      file.bytes.substr(0, it->span.offset) + file.bytes.substr(it->span.offset + it->span.length);
  if (!singleFile_ && OnlyBlank(rest)) {
    if (unlink(path.c_str()) != 0) return MAPI_E_NO_ACCESS;
    files::SyncDirectory(directory);
  } else {
    HRESULT hr = PlaceFile(directory, key.fileName, rest, st.st_mode & 07777, true);
    if (FAILED(hr)) return hr;
  }
  std::lock_guard<std::mutex> hold(mutex_);
  recent_.reset();
  return S_OK;
}

std::string DefaultBookLocation() {
  const char* fromEnvironment = std::getenv("MAILQUARRY_ADDRESSBOOK");
  if (fromEnvironment && *fromEnvironment) return fromEnvironment;
  std::string data;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg == '/') {
    data = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return {};
    data = std::string(home) + "/.local/share";
  }
  return data + "/mailquarry/contacts";
}

std::string ResolveBookLocation(const char* fileName) {
  if (fileName && *fileName) return fileName;
  std::string location = DefaultBookLocation();
  const char* fromEnvironment = std::getenv("MAILQUARRY_ADDRESSBOOK");
  if (location.empty() || (fromEnvironment && *fromEnvironment)) return location;
  if (!MakeDirectories(location)) return {};
  return location;
}

bool FindsOtherBooks(const char* fileName) {
  const char* fromEnvironment = std::getenv("MAILQUARRY_ADDRESSBOOK");
  return !(fileName && *fileName) && !(fromEnvironment && *fromEnvironment);
}

}  // namespace wab
