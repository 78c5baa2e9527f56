// SPDX-License-Identifier: LGPL-2.1-or-later
// The message and attachment filters of the export options, over facts the
// exports read from the store and the MIME layer.
#pragma once

#include <cstdint>
#include <ctime>
#include <set>
#include <string>
#include <string_view>

#include "extractor/export_options.h"

namespace mailsift {

struct MessageFacts {
  std::time_t sent = 0;  // the Date: header, else the delivery
  std::string sender;    // as displayed, and the From: header's text
  std::string subject;
  bool hasAttachments = false;
};

bool PassesMessageFilters(const ExportOptions& options, const MessageFacts& message);

struct PartFacts {
  std::string name;         // the display name
  std::string type;         // "image/png", lower case
  std::string disposition;  // "inline", "attachment" or empty
  std::string contentId;    // without angle brackets
  std::string parentType;   // "multipart/related", or empty
};

// The Content-IDs that `html` shows through "cid:" URLs, lower case and
// %-decoded.
std::set<std::string> CidReferences(std::string_view html);

// An image the message's HTML shows inside its text: referenced there by
// "cid:", or marked inline inside multipart/related, or (where the HTML
// references nothing) inside multipart/related with a Content-ID. A part
// marked "attachment" and anything that is not an image never are.
bool IsEmbeddedImage(const PartFacts& part, const std::set<std::string>& references);

// Whether a --type list takes the part: by its name's extension, and where
// the name has none, by its media type.
bool TypeMatches(const TypeFilter& filter, const PartFacts& part);

// Why the part is left out before its bytes are read ("embedded", "type"),
// or empty.
std::string LeftOutBeforeSaving(const ExportOptions& options, const PartFacts& part,
                                const std::set<std::string>& references);
// Why a part of `size` bytes is left out ("size"), or empty.
std::string LeftOutBySize(const ExportOptions& options, std::uint64_t size);

}  // namespace mailsift
