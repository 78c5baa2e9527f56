// SPDX-License-Identifier: LGPL-2.1-or-later
// Feeds arbitrary bytes to the TNEF reader. Whatever the input: no crash, no
// read outside it, every attachment's data a view inside the input, every
// name valid UTF-8, and a reason exactly when the stream gives no files.
#include <glib.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/mime/tnef.h"

namespace {

void Check(const mime::tnef::Message& message, std::string_view input, int depth) {
  if (depth > 8) abort();
  const char* begin = input.data();
  const char* end = input.data() + input.size();
  for (const auto& a : message.attachments) {
    if (!a.data.empty() && (a.data.data() < begin || a.data.data() + a.data.size() > end)) abort();
    for (const std::string* text : {&a.title, &a.longName, &a.mimeType}) {
      if (!g_utf8_validate(text->data(), static_cast<gssize>(text->size()), nullptr)) abort();
    }
    if (a.embedded) Check(*a.embedded, input, depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const mime::tnef::Result result = mime::tnef::Read(input);
  if (result.reason.empty() != (result.problem == mime::tnef::Problem::kNone)) abort();
  if (result.problem != mime::tnef::Problem::kNone && !result.message.attachments.empty()) abort();
  Check(result.message, input, 0);
  return 0;
}
