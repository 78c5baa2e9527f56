// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/export_filters.h"

#include <QString>
#include <algorithm>
#include <cctype>

namespace mailsift {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// Case-insensitive in every script: "MÄRZ" finds "März".
bool Holds(const std::string& text, const std::string& wanted) {
  return QString::fromStdString(text).toCaseFolded().contains(
      QString::fromStdString(wanted).toCaseFolded());
}

std::string Extension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return {};
  return Lower(name.substr(dot + 1));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsImage(const PartFacts& part) {
  if (part.type.starts_with("image/")) return true;
  static const std::set<std::string> kImageExtensions = {"png", "jpg",  "jpeg", "gif",
                                                         "bmp", "webp", "tif",  "tiff"};
  return part.type == "application/octet-stream" && kImageExtensions.count(Extension(part.name));
}

}  // namespace

bool PassesMessageFilters(const ExportOptions& o, const MessageFacts& m) {
  if (o.since && m.sent < *o.since) return false;
  if (o.until && m.sent >= *o.until) return false;
  if (!o.from.empty() && !Holds(m.sender, o.from)) return false;
  if (!o.subject.empty() && !Holds(m.subject, o.subject)) return false;
  if (o.withAttachments && !m.hasAttachments) return false;
  return true;
}

std::set<std::string> CidReferences(std::string_view html) {
  std::set<std::string> ids;
  const std::string lower = Lower(html);
  for (std::size_t at = lower.find("cid:"); at != std::string::npos;
       at = lower.find("cid:", at + 4)) {
    std::string id;
    for (std::size_t i = at + 4; i < lower.size(); ++i) {
      const char c = lower[i];
      if (c == '"' || c == '\'' || c == ')' || c == '>' || c == '<' || c == ';' ||
          std::isspace(static_cast<unsigned char>(c)))
        break;
      if (c == '%' && i + 2 < lower.size() && HexDigit(lower[i + 1]) >= 0 &&
          HexDigit(lower[i + 2]) >= 0) {
        id += static_cast<char>(HexDigit(lower[i + 1]) * 16 + HexDigit(lower[i + 2]));
        i += 2;
      } else {
        id += c;
      }
    }
    if (!id.empty()) ids.insert(id);
  }
  return ids;
}

bool IsEmbeddedImage(const PartFacts& part, const std::set<std::string>& references) {
  if (part.disposition == "attachment" || !IsImage(part)) return false;
  const std::string id = Lower(part.contentId);
  if (!id.empty() && references.count(id)) return true;
  if (part.parentType != "multipart/related") return false;
  return part.disposition == "inline" || (!id.empty() && references.empty());
}

bool TypeMatches(const TypeFilter& filter, const PartFacts& part) {
  const std::string extension = Extension(part.name);
  if (!extension.empty()) return filter.extensions.count(extension) > 0;
  if (filter.mediaTypes.count(part.type)) return true;
  const std::size_t slash = part.type.find('/');
  return slash != std::string::npos && filter.mediaTypes.count(part.type.substr(0, slash) + "/*");
}

std::string LeftOutBeforeSaving(const ExportOptions& o, const PartFacts& part,
                                const std::set<std::string>& references) {
  if (o.skipEmbedded && IsEmbeddedImage(part, references)) return "embedded";
  if (!o.types.Empty() && !TypeMatches(o.types, part)) return "type";
  return {};
}

std::string LeftOutBySize(const ExportOptions& o, std::uint64_t size) {
  if ((o.minSize && size < *o.minSize) || (o.maxSize && size > *o.maxSize)) return "size";
  return {};
}

}  // namespace mailsift
