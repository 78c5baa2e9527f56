// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/export_options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "extractor/edit_distance.h"

namespace mailsift {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The kinds of files a user asks for by name, each with the extensions and
// the media types (for parts without an extension) it stands for.
struct Category {
  const char* name;  // plural; the singular is the name less its last letter
  std::vector<const char*> extensions;
  std::vector<const char*> mediaTypes;
};

const std::vector<Category>& Categories() {
  static const std::vector<Category> table = {
      {"documents",
       {"pdf", "doc", "docx", "docm", "odt", "rtf", "txt", "md", "pages", "wpd", "epub", "xps",
        "html", "htm"},
       {"application/pdf", "application/msword",
        "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
        "application/vnd.oasis.opendocument.text", "application/rtf", "text/rtf", "text/plain",
        "text/html", "application/epub+zip"}},
      {"spreadsheets",
       {"xls", "xlsx", "xlsm", "ods", "csv", "tsv", "numbers"},
       {"application/vnd.ms-excel",
        "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
        "application/vnd.oasis.opendocument.spreadsheet", "text/csv"}},
      {"presentations",
       {"ppt", "pptx", "pps", "ppsx", "odp", "key"},
       {"application/vnd.ms-powerpoint",
        "application/vnd.openxmlformats-officedocument.presentationml.presentation",
        "application/vnd.oasis.opendocument.presentation"}},
      {"images",
       {"png", "jpg", "jpeg", "gif", "bmp", "tif", "tiff", "webp", "heic", "heif", "svg", "ico"},
       {"image/*"}},
      {"archives",
       {"zip", "rar", "7z", "tar", "gz", "tgz", "bz2", "xz", "zst"},
       {"application/zip", "application/x-zip-compressed", "application/x-rar-compressed",
        "application/vnd.rar", "application/x-7z-compressed", "application/x-tar",
        "application/gzip", "application/x-gzip", "application/x-bzip2", "application/x-xz"}},
      {"audio", {"mp3", "m4a", "wav", "ogg", "oga", "opus", "flac", "aac", "amr"}, {"audio/*"}},
      {"video", {"mp4", "m4v", "mov", "avi", "mkv", "webm", "wmv", "3gp"}, {"video/*"}},
      {"calendar", {"ics", "ical", "vcs"}, {"text/calendar"}},
      {"contacts", {"vcf", "vcard"}, {"text/vcard", "text/x-vcard", "text/directory"}},
  };
  return table;
}

const Category* FindCategory(const std::string& word) {
  for (const Category& c : Categories()) {
    const std::string plural = c.name;
    if (word == plural || (plural.back() == 's' && word == plural.substr(0, plural.size() - 1)))
      return &c;
  }
  return nullptr;
}

// A word that is no category but close to one is a mistyped category, not an
// extension nobody uses ("documnets").
const Category* MistypedCategory(const std::string& word) {
  if (word.size() < 5) return nullptr;
  for (const Category& c : Categories())
    if (EditDistance(word, c.name) <= 2) return &c;
  return nullptr;
}

// Reads `digits` digits at `at` of `text` into `out`.
bool Digits(std::string_view text, std::size_t at, std::size_t digits, int* out) {
  if (at + digits > text.size()) return false;
  int value = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    value = value * 10 + (text[i] - '0');
  }
  *out = value;
  return true;
}

std::string Switch(bool ExportOptions::*member, ExportOptions& o) {
  o.*member = true;
  return {};
}

std::string Text(std::string ExportOptions::*member, const char* what, ExportOptions& o,
                 const std::string& value) {
  if (value.empty()) return std::string("needs ") + what;
  o.*member = value;
  return {};
}

std::string DateOption(std::optional<std::time_t> ExportOptions::*member,
                       std::string ExportOptions::*text, ExportOptions& o,
                       const std::string& value) {
  std::time_t t = 0;
  if (std::string error = ParseIsoDate(value, &t); !error.empty()) return error;
  o.*member = t;
  o.*text = value;
  return {};
}

std::string SizeOption(std::optional<std::uint64_t> ExportOptions::*member,
                       std::string ExportOptions::*text, ExportOptions& o,
                       const std::string& value) {
  std::uint64_t n = 0;
  if (std::string error = ParseByteSize(value, &n); !error.empty()) return error;
  o.*member = n;
  o.*text = value;
  return {};
}

}  // namespace

std::string ParseIsoDate(const std::string& given, std::time_t* out) {
  const std::string text = Trimmed(given);
  const std::string bad = "not a date (YYYY-MM-DD, time optional): '" + given + "'";
  std::tm tm{};
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!Digits(text, 0, 4, &year) || text.size() < 10 || text[4] != '-' ||
      !Digits(text, 5, 2, &month) || text[7] != '-' || !Digits(text, 8, 2, &day))
    return bad;
  std::size_t at = 10;
  std::optional<long> offset;  // seconds east of UTC, when a zone is given
  if (at < text.size() && (text[at] == 'T' || text[at] == ' ')) {
    if (!Digits(text, at + 1, 2, &hour) || at + 3 >= text.size() || text[at + 3] != ':' ||
        !Digits(text, at + 4, 2, &minute))
      return bad;
    at += 6;
    if (at < text.size() && text[at] == ':') {
      if (!Digits(text, at + 1, 2, &second)) return bad;
      at += 3;
    }
    if (at < text.size() && (text[at] == 'Z' || text[at] == 'z')) {
      offset = 0;
      ++at;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
      int zh = 0, zm = 0;
      const bool colon = at + 3 < text.size() && text[at + 3] == ':';
      if (!Digits(text, at + 1, 2, &zh) || !Digits(text, at + (colon ? 4 : 3), 2, &zm)) return bad;
      offset = (text[at] == '-' ? -1L : 1L) * (zh * 3600L + zm * 60L);
      at += colon ? 6 : 5;
    }
  }
  if (at != text.size()) return bad;
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
      (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 59)
    return bad;
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  *out = offset ? timegm(&tm) - *offset : mktime(&tm);
  return {};
}

std::string ParseByteSize(const std::string& given, std::uint64_t* out) {
  const std::string text = Lower(Trimmed(given));
  const std::string bad = "not a size (bytes, or with K, M or G): '" + given + "'";
  std::size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  if (digits == 0 || digits > 15) return bad;
  std::uint64_t value = std::strtoull(text.substr(0, digits).c_str(), nullptr, 10);
  std::string unit = text.substr(digits);
  if (!unit.empty() && unit.front() == ' ') unit.erase(0, 1);
  static const std::vector<std::pair<const char*, int>> kUnits = {
      {"", 0},    {"b", 0},    {"k", 10}, {"kb", 10}, {"kib", 10}, {"m", 20},
      {"mb", 20}, {"mib", 20}, {"g", 30}, {"gb", 30}, {"gib", 30},
  };
  for (const auto& [name, shift] : kUnits) {
    if (unit == name) {
      *out = value << shift;
      return {};
    }
  }
  return bad;
}

std::string ParseTypeList(const std::string& text, TypeFilter* out) {
  TypeFilter filter;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    std::string word = Lower(Trimmed(text.substr(start, comma - start)));
    start = comma + 1;
    if (word.empty()) continue;
    const bool dotted = word.front() == '.';
    if (dotted) word.erase(0, 1);
    if (word.empty() || word.size() > 16 || !std::all_of(word.begin(), word.end(), [](char c) {
          return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '+';
        }))
      return "not a file type: '" + word + "' (an extension such as pdf, or a category)";
    if (const Category* c = dotted ? nullptr : FindCategory(word)) {
      filter.extensions.insert(c->extensions.begin(), c->extensions.end());
      filter.mediaTypes.insert(c->mediaTypes.begin(), c->mediaTypes.end());
      continue;
    }
    if (const Category* c = dotted ? nullptr : MistypedCategory(word))
      return "unknown type category '" + word + "' (did you mean " + c->name +
             "? write .EXT for an extension)";
    filter.extensions.insert(word);
    // A part without an extension in its name matches by its media type.
    const std::string subtype = word == "jpg" ? "jpeg" : word == "tif" ? "tiff" : word;
    for (const char* kind : {"application/", "image/", "audio/", "video/", "text/"})
      filter.mediaTypes.insert(kind + subtype);
  }
  if (filter.Empty()) return "needs file types (pdf,docx or a category such as documents)";
  *out = std::move(filter);
  return {};
}

const std::vector<OptionSpec>& ExportOptionTable() {
  using O = ExportOptions;
  static const std::vector<OptionSpec> table = {
      {"--recursive", nullptr, kForMessages, "the folder and all its subfolders",
       [](O& o, const std::string&) {
         if (o.scope == FolderScope::kOne) o.scope = FolderScope::kSubtree;
         return std::string();
       }},
      {"--all", nullptr, kForMessages, "every folder of the store",
       [](O& o, const std::string&) {
         o.scope = FolderScope::kAll;
         return std::string();
       }},
      {"--flat", nullptr, kForAttachments | kForEml,
       "several folders into DIRECTORY itself, not a tree of directories",
       [](O& o, const std::string&) { return Switch(&O::flat, o); }},
      {"--include-junk", nullptr, kForMessages,
       "several folders: Junk, Spam, Trash and the like too",
       [](O& o, const std::string&) { return Switch(&O::includeJunk, o); }},
      {"--since", "DATE", kForMessages, "messages sent on or after DATE (2024-01-31)",
       [](O& o, const std::string& v) { return DateOption(&O::since, &O::sinceText, o, v); }},
      {"--until", "DATE", kForMessages, "messages sent before DATE",
       [](O& o, const std::string& v) { return DateOption(&O::until, &O::untilText, o, v); }},
      {"--from", "TEXT", kForMessages, "messages whose sender (address or name) holds TEXT",
       [](O& o, const std::string& v) { return Text(&O::from, "a text", o, v); }},
      {"--subject", "TEXT", kForMessages, "messages whose subject holds TEXT",
       [](O& o, const std::string& v) { return Text(&O::subject, "a text", o, v); }},
      {"--with-attachments", nullptr, kForMessages, "only messages that have attachments",
       [](O& o, const std::string&) { return Switch(&O::withAttachments, o); }},
      {"--type", "TYPES", kForAttachments,
       "attachments of these types: pdf,docx or documents, spreadsheets,\n"
       "presentations, images, archives, audio, video, calendar, contacts",
       [](O& o, const std::string& v) {
         std::string error = ParseTypeList(v, &o.types);
         if (error.empty()) o.typesText = v;
         return error;
       }},
      {"--min-size", "SIZE", kForAttachments, "attachments of at least SIZE (200K, 5M)",
       [](O& o, const std::string& v) { return SizeOption(&O::minSize, &O::minSizeText, o, v); }},
      {"--max-size", "SIZE", kForAttachments, "attachments of at most SIZE",
       [](O& o, const std::string& v) { return SizeOption(&O::maxSize, &O::maxSizeText, o, v); }},
      {"--skip-embedded", nullptr, kForAttachments,
       "leave out images shown inside the text (signature logos)",
       [](O& o, const std::string&) { return Switch(&O::skipEmbedded, o); }},
      {"--skip-duplicates", nullptr, kForAttachments,
       "leave out files byte-identical to one already written",
       [](O& o, const std::string&) { return Switch(&O::skipDuplicates, o); }},
      {"--unpack-winmail", nullptr, kForAttachments,
       "the files packed in winmail.dat (Outlook's rich text) instead of it",
       [](O& o, const std::string&) { return Switch(&O::unpackWinmail, o); }},
      {"--nested", nullptr, kForAttachments,
       "also the attachments of attached (forwarded) messages",
       [](O& o, const std::string&) { return Switch(&O::nested, o); }},
      {"--report", "FILE", kForAttachments | kForEml,
       "write a CSV report of every file: written, duplicate, left out",
       [](O& o, const std::string& v) { return Text(&O::report, "a file name", o, v); }},
      {"--set-times", nullptr, kForAttachments | kForEml,
       "date each file written with its message's sent date",
       [](O& o, const std::string&) { return Switch(&O::setTimes, o); }},
      {"--new-only", nullptr, kForMessages,
       "only messages not exported to this target before (kept in\n"
       ".mailsift-exported beside what is written)",
       [](O& o, const std::string&) { return Switch(&O::newOnly, o); }},
      {"--unique", nullptr, kForReturnAddresses, "each address once (compared in any case)",
       [](O& o, const std::string&) { return Switch(&O::unique, o); }},
  };
  return table;
}

const OptionSpec* FindExportOption(const std::string& flag) {
  for (const OptionSpec& spec : ExportOptionTable())
    if (flag == spec.flag) return &spec;
  return nullptr;
}

bool ExportOptions::AnyOn() const {
  return scope != FolderScope::kOne || flat || includeJunk || since || until || !from.empty() ||
         !subject.empty() || withAttachments || !types.Empty() || minSize || maxSize ||
         skipEmbedded || skipDuplicates || unpackWinmail || nested || !report.empty() || setTimes ||
         newOnly || unique;
}

std::string ExportOptions::Described() const {
  std::vector<std::string> words;
  auto flag = [&words](bool on, const char* name) {
    if (on) words.emplace_back(name);
  };
  auto valued = [&words](const std::string& value, const char* name) {
    if (!value.empty()) words.push_back(std::string(name) + " " + value);
  };
  flag(scope == FolderScope::kSubtree, "--recursive");
  flag(scope == FolderScope::kAll, "--all");
  flag(flat, "--flat");
  flag(includeJunk, "--include-junk");
  valued(sinceText, "--since");
  valued(untilText, "--until");
  valued(from, "--from");
  valued(subject, "--subject");
  flag(withAttachments, "--with-attachments");
  valued(typesText, "--type");
  valued(minSizeText, "--min-size");
  valued(maxSizeText, "--max-size");
  flag(skipEmbedded, "--skip-embedded");
  flag(skipDuplicates, "--skip-duplicates");
  flag(unpackWinmail, "--unpack-winmail");
  flag(nested, "--nested");
  valued(report, "--report");
  flag(setTimes, "--set-times");
  flag(newOnly, "--new-only");
  flag(unique, "--unique");
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
  return text;
}

std::string ExportOptionsHelp() {
  constexpr std::size_t kColumn = 20;
  std::string text;
  for (const OptionSpec& spec : ExportOptionTable()) {
    std::string head = std::string("  ") + spec.flag;
    if (spec.valueName) head += std::string(" ") + spec.valueName;
    head += head.size() + 1 < kColumn ? std::string(kColumn - head.size(), ' ')
                                      : "\n" + std::string(kColumn, ' ');
    std::string help = spec.help;
    for (std::size_t nl = help.find('\n'); nl != std::string::npos; nl = help.find('\n', nl + 1))
      help.insert(nl + 1, std::string(kColumn, ' '));
    text += head + help + "\n";
  }
  return text;
}

}  // namespace mailsift
