// SPDX-License-Identifier: LGPL-2.1-or-later
// Feeds arbitrary bytes to what Mailsift's export options read from outside:
// the record file of earlier exports (a file anyone may have put in the
// target), the HTML whose cid: references decide which images are embedded,
// and a message's text as its record key reads it. None may crash; a record
// that reads back must write and read back the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "extractor/export_filters.h"
#include "extractor/export_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  mailsift::ExportRecord record;
  std::string problem;
  if (record.Parse(input, &problem)) {
    for (const mailsift::ExportRecord::File& f : record.Files())
      if (f.sha256.size() != 64 || f.path.find('\n') != std::string::npos) std::abort();
  } else if (problem.empty()) {
    std::abort();
  }
  for (const std::string& id : mailsift::CidReferences(input))
    if (id.empty()) std::abort();
  const std::string key = mailsift::MessageKey(input.substr(0, 64), input);
  if (key.size() < 33 || key[32] != '\t' || key.find('\n') != std::string::npos) std::abort();
  mailsift::ExportRecord keyed;
  keyed.AddMessage(key);
  if (!keyed.Parse("mailsift-exported 1\nm\t" + key + "\n", &problem)) std::abort();
  return 0;
}
