// SPDX-License-Identifier: LGPL-2.1-or-later
// The list behind IMimeMessageFiles: a parsed message's files, with those
// packed in winmail.dat parts and in attached messages when asked for.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mime/mime.h"

// After the platform's headers: GLib defines TRUE and FALSE as macros.
#include <gmime/gmime.h>

namespace mime::detail {

class FileList {
 public:
  // `root` is the message's top part (may be null), alive while the list is.
  FileList(GMimeObject* root, bool crlf) : root_(root), crlf_(crlf) {}

  void Build(DWORD flags);
  std::size_t size() const { return files_.size(); }
  HRESULT Info(std::size_t i, MIMEFILEINFO* info) const;
  HRESULT Save(std::size_t i, const char* path) const;
  // The MIME part behind file `i`, or null for a file packed in a winmail.dat.
  GMimeObject* Part(std::size_t i) const { return i < files_.size() ? files_[i].part : nullptr; }

  // A list longer than this is cut: a message of a few kilobytes can pack a
  // great many empty files.
  static constexpr std::size_t kMaxFiles = 10000;
  // A winmail.dat is unpacked in memory up to this decoded size.
  static constexpr std::size_t kMaxTnefBytes = std::size_t{256} << 20;

 private:
  struct File {
    GMimeObject* part = nullptr;  // a MIME part; else `data` is the content
    std::string_view data;        // inside one of `buffers_`
    std::string type, name, container, note;
    DWORD depth = 0, flags = 0;
    std::uint64_t modified = 0;
  };

  void AddMessage(GMimeObject* root, DWORD depth, const std::string& container);
  bool AddTnef(GMimeObject* part, DWORD depth, const std::string& container, std::string* note);

  GMimeObject* root_;
  bool crlf_;
  DWORD flags_ = 0;
  std::vector<File> files_;
  // Decoded winmail.dat streams that files point into.
  std::vector<std::unique_ptr<std::string>> buffers_;
};

}  // namespace mime::detail
