// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/store/claws/folderlist.h"

#include <glib.h>

#include <cstring>

namespace store::claws {

namespace {

struct Reading {
  std::vector<Mailbox> boxes;
  int depth = 0;
  bool inMailbox = false;  // inside a <folder> right below <folderlist>
};

const char* Attribute(const gchar** names, const gchar** values, const char* wanted) {
  for (; *names; ++names, ++values)
    if (std::strcmp(*names, wanted) == 0) return *values;
  return nullptr;
}

void Start(GMarkupParseContext*, const gchar* element, const gchar** names, const gchar** values,
           gpointer data, GError**) {
  auto* r = static_cast<Reading*>(data);
  ++r->depth;
  auto text = [&](const char* key) {
    const char* v = Attribute(names, values, key);
    return std::string(v ? v : "");
  };
  if (r->depth == 2 && std::strcmp(element, "folder") == 0) {
    r->inMailbox = false;
    if (r->boxes.size() >= kMaxMailboxes) return;
    r->boxes.push_back({text("type"), text("name"), text("path"), "", text("account_id")});
    r->inMailbox = true;
  } else if (r->depth == 3 && r->inMailbox && std::strcmp(element, "folderitem") == 0) {
    Mailbox& box = r->boxes.back();
    if (box.inbox.empty() && text("type") == "inbox") box.inbox = text("path");
  }
}

void End(GMarkupParseContext*, const gchar*, gpointer data, GError**) {
  auto* r = static_cast<Reading*>(data);
  if (r->depth == 2) r->inMailbox = false;
  --r->depth;
}

}  // namespace

std::vector<Mailbox> ParseFolderList(std::string_view xml) {
  Reading reading;
  GMarkupParser parser{};
  parser.start_element = Start;
  parser.end_element = End;
  // GMarkup keeps no stack of its own callers' state and reads the whole
  // text without recursion; a deep nesting only counts up `depth`.
  GMarkupParseContext* context =
      g_markup_parse_context_new(&parser, G_MARKUP_PREFIX_ERROR_POSITION, &reading, nullptr);
  g_markup_parse_context_parse(context, xml.data(), static_cast<gssize>(xml.size()), nullptr) &&
      g_markup_parse_context_end_parse(context, nullptr);
  g_markup_parse_context_free(context);
  std::vector<Mailbox> boxes;
  for (auto& box : reading.boxes) {
    // GMarkup hands over only valid UTF-8; an empty name shows nothing.
    if (box.name.empty() || box.type.empty()) continue;
    if (box.type != "mh") box.path.clear();
    boxes.push_back(std::move(box));
  }
  return boxes;
}

}  // namespace store::claws
