// SPDX-License-Identifier: LGPL-2.1-or-later
// A reader of TNEF streams (the "winmail.dat" part that rich-text mail from
// Outlook carries): the attachment records inside, nothing else. It reads
// bytes already in memory and does no I/O; every length and count it takes
// from the stream is checked against what is left and against the limits
// below, so a hostile stream costs at most its own size in time and memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mime::tnef {

struct Message;

struct Attachment {
  std::string title;     // the short (often 8.3) name, UTF-8; may be empty
  std::string longName;  // the long file name when the stream has one, UTF-8
  std::string mimeType;  // the type the sender's program gave it, when it did
  // The attachment's bytes: a view into the stream that was read.
  std::string_view data;
  // 100-ns ticks since 1601-01-01 (a FILETIME), when the stream tells.
  std::optional<std::uint64_t> modified;
  // An attachment that is itself a message (an item dragged into the mail).
  std::shared_ptr<Message> embedded;

  // The long name, else the title; may still be empty.
  const std::string& Name() const { return longName.empty() ? title : longName; }
};

struct Message {
  std::string messageClass;  // "IPM.Note", "IPM.Microsoft Schedule.MtgReq", ...
  std::string subject;
  std::vector<Attachment> attachments;
};

// Why a stream gives no files.
enum class Problem {
  kNone,
  kNotTnef,        // no TNEF signature
  kTruncated,      // ends inside an attribute or property
  kDamaged,        // a length, count or value that cannot be right
  kTooLarge,       // more attachments, properties or nesting than the limits allow
  kNoAttachments,  // a readable stream with nothing to unpack (text only, a calendar item)
};

struct Result {
  Message message;
  Problem problem = Problem::kNone;
  // For a person: why the stream was left as it is ("a calendar item with no
  // attached files"); empty when the stream gave files.
  std::string reason;
};

struct Limits {
  std::size_t maxAttachments = 4096;    // in one stream, embedded messages included
  std::size_t maxProperties = 1 << 16;  // in one property list
  int maxDepth = 8;                     // messages inside messages
};

// Reads `stream`. The views in the result point into `stream`, which must
// outlive them. A stream that is damaged after some complete attachments still
// gives none: a half-read stream may be misread, and the caller then keeps
// the stream whole.
Result Read(std::string_view stream, const Limits& limits = {});

}  // namespace mime::tnef
