// SPDX-License-Identifier: LGPL-2.1-or-later
// Display names come from mail headers, which anyone can write: they are
// reduced to something that can only ever name a file inside the directory the
// caller chose.
#include <glib.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "platform/mime/mime_internal.h"

namespace mime::detail {
namespace {

// Characters that have no place in a file name: C0 and C1 controls, and the
// invisible direction marks that make "evil\u202Efdp.exe" read as "evilexe.pdf".
bool IsUnwanted(gunichar c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  if (c == 0x200E || c == 0x200F) return true;
  if (c >= 0x202A && c <= 0x202E) return true;
  if (c >= 0x2066 && c <= 0x2069) return true;
  if (c == 0x2028 || c == 0x2029 || c == 0xFEFF) return true;
  return false;
}

}  // namespace

std::string CutUtf8(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

std::string SanitizeFileName(std::string_view raw) {
  // Repair first, so that every later step works on whole characters.
  std::string text;
  {
    gchar* valid = g_utf8_make_valid(raw.data(), static_cast<gssize>(raw.size()));
    text = valid ? valid : "";
    g_free(valid);
  }

  std::string clean;
  clean.reserve(text.size());
  for (const char* p = text.c_str(); *p; p = g_utf8_next_char(p)) {
    gunichar c = g_utf8_get_char(p);
    if (IsUnwanted(c)) continue;
    clean.append(p, g_utf8_next_char(p) - p);
  }

  std::size_t slash = clean.find_last_of("/\\");
  if (slash != std::string::npos) clean.erase(0, slash + 1);

  // Nothing but dots and blanks names nothing a user could recognise (and
  // covers "." and "..").
  if (std::all_of(clean.begin(), clean.end(), [](char c) { return c == '.' || c == ' '; })) {
    return {};
  }

  if (clean.size() > kMaxNameBytes) {
    // Keep a short extension, so the file still opens with the right program.
    std::size_t dot = clean.rfind('.');
    std::string ext;
    if (dot != std::string::npos && dot > 0 && clean.size() - dot <= 16) ext = clean.substr(dot);
    clean = CutUtf8(clean, kMaxNameBytes - ext.size()) + ext;
  }
  return clean;
}

std::string GeneratedName(std::string_view type, std::string_view subtype) {
  std::string t(type), s(subtype);
  for (auto* part : {&t, &s}) {
    std::transform(part->begin(), part->end(), part->begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  }
  static constexpr struct {
    const char* type;
    const char* ext;
  } kExtensions[] = {
      {"application/pdf", ".pdf"},
      {"application/zip", ".zip"},
      {"application/gzip", ".gz"},
      {"application/x-gzip", ".gz"},
      {"application/x-tar", ".tar"},
      {"application/x-7z-compressed", ".7z"},
      {"application/msword", ".doc"},
      {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", ".docx"},
      {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", ".xlsx"},
      {"application/vnd.openxmlformats-officedocument.presentationml.presentation", ".pptx"},
      {"application/vnd.ms-excel", ".xls"},
      {"application/vnd.ms-powerpoint", ".ppt"},
      {"application/vnd.oasis.opendocument.text", ".odt"},
      {"application/vnd.oasis.opendocument.spreadsheet", ".ods"},
      {"application/vnd.ms-tnef", ".dat"},
      {"application/ms-tnef", ".dat"},
      {"application/rtf", ".rtf"},
      {"application/json", ".json"},
      {"application/xml", ".xml"},
      {"application/pgp-signature", ".asc"},
      {"application/pgp-keys", ".asc"},
      {"application/pkcs7-signature", ".p7s"},
      {"application/x-pkcs7-signature", ".p7s"},
      {"application/pkcs7-mime", ".p7m"},
      {"application/ics", ".ics"},
      {"text/plain", ".txt"},
      {"text/html", ".html"},
      {"text/calendar", ".ics"},
      {"text/csv", ".csv"},
      {"text/xml", ".xml"},
      {"text/rtf", ".rtf"},
      {"text/vcard", ".vcf"},
      {"text/x-vcard", ".vcf"},
      {"text/enriched", ".txt"},
      {"message/delivery-status", ".txt"},
      {"message/disposition-notification", ".txt"},
      {"message/rfc822", ".eml"},
      {"image/jpeg", ".jpg"},
      {"image/pjpeg", ".jpg"},
      {"image/png", ".png"},
      {"image/gif", ".gif"},
      {"image/svg+xml", ".svg"},
      {"image/tiff", ".tif"},
      {"image/bmp", ".bmp"},
      {"audio/mpeg", ".mp3"},
      {"audio/ogg", ".ogg"},
      {"audio/wav", ".wav"},
      {"audio/x-wav", ".wav"},
      {"video/mp4", ".mp4"},
      {"video/mpeg", ".mpg"},
      {"video/quicktime", ".mov"},
  };
  const std::string full = t + "/" + s;
  for (const auto& e : kExtensions) {
    if (full == e.type) return std::string("attachment") + e.ext;
  }
  // Media subtypes such as image/webp or audio/flac are their usual extension.
  if ((t == "image" || t == "audio" || t == "video") && !s.empty() && s.size() <= 5 &&
      std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isalnum(c); })) {
    return "attachment." + s;
  }
  if (t == "text") return "attachment.txt";
  return "attachment.bin";
}

}  // namespace mime::detail
