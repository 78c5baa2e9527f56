// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/thunderbird_card.h"

#include <cstring>
#include <map>
#include <memory>

#include "platform/wab/card_charsets.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <libebook-contacts/libebook-contacts.h>
#pragma GCC diagnostic pop

namespace wab {
namespace {

struct VCardFree {
  void operator()(EVCard* card) const { g_object_unref(card); }
};
using VCardPtr = std::unique_ptr<EVCard, VCardFree>;

// A property that becomes one vCard attribute from one or more Thunderbird
// properties: each fills one component of the value ("" leaves it empty).
// The table follows Thunderbird's own conversion of its old properties.
struct Mapping {
  const char* property;
  const char* types;  // comma-separated TYPE values
  std::vector<const char*> components;
};

const std::vector<Mapping>& Mappings() {
  static const std::vector<Mapping> table = {
      {"FN", "", {"DisplayName"}},
      {"N", "", {"LastName", "FirstName", "", "", ""}},
      {"NICKNAME", "", {"NickName"}},
      {"EMAIL", "INTERNET,PREF", {"PrimaryEmail"}},
      {"EMAIL", "INTERNET", {"SecondEmail"}},
      {"TEL", "WORK,VOICE", {"WorkPhone"}},
      {"TEL", "HOME,VOICE", {"HomePhone"}},
      {"TEL", "FAX", {"FaxNumber"}},
      {"TEL", "PAGER", {"PagerNumber"}},
      {"TEL", "CELL", {"CellularNumber"}},
      {"ADR",
       "HOME",
       {"", "HomeAddress2", "HomeAddress", "HomeCity", "HomeState", "HomeZipCode", "HomeCountry"}},
      {"ADR",
       "WORK",
       {"", "WorkAddress2", "WorkAddress", "WorkCity", "WorkState", "WorkZipCode", "WorkCountry"}},
      {"TITLE", "", {"JobTitle"}},
      {"ORG", "", {"Company", "Department"}},
      {"URL", "WORK", {"WebPage1"}},
      {"URL", "HOME", {"WebPage2"}},
      {"NOTE", "", {"Notes"}},
  };
  return table;
}

void AddTypes(EVCardAttribute* attr, const char* types) {
  std::string all = types;
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t comma = all.find(',', start);
    if (comma == std::string::npos) comma = all.size();
    std::string type = all.substr(start, comma - start);
    if (!type.empty())
      e_vcard_attribute_add_param_with_value(attr, e_vcard_attribute_param_new("TYPE"),
                                             type.c_str());
    start = comma + 1;
  }
}

// Valid UTF-8 without NULs (the library reads text only up to one).
std::string CleanText(const std::string& value) {
  std::string text = Utf8OrWindows1252(value);
  std::erase(text, '\0');
  return text;
}

std::string ToText(EVCard* card) {
  char* text = e_vcard_to_string(card, EVC_FORMAT_VCARD_30);
  std::string out = text ? text : "";
  g_free(text);
  if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) out += "\r\n";
  return out;
}

void AddValue(EVCard* card, const char* name, const std::string& value) {
  if (value.empty()) return;
  EVCardAttribute* attr = e_vcard_attribute_new(nullptr, name);
  e_vcard_attribute_add_value(attr, value.c_str());
  e_vcard_append_attribute(card, attr);
}

// BDAY from BirthYear, BirthMonth and BirthDay, when they make a date.
std::string Birthday(const std::map<std::string, std::string>& values) {
  auto number = [&](const char* name, int low, int high) {
    auto it = values.find(name);
    if (it == values.end() || it->second.empty() || it->second.size() > 4) return -1;
    int n = 0;
    for (char c : it->second) {
      if (c < '0' || c > '9') return -1;
      n = n * 10 + (c - '0');
    }
    return n >= low && n <= high ? n : -1;
  };
  int year = number("BirthYear", 1, 9999), month = number("BirthMonth", 1, 12),
      day = number("BirthDay", 1, 31);
  if (year < 0 || month < 0 || day < 0) return {};
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  return text;
}

}  // namespace

std::string CardFromProperties(const CardProperties& properties, const std::string& uid) {
  std::map<std::string, std::string> values;
  for (const auto& [name, value] : properties) values[name] = CleanText(value);
  VCardPtr card(e_vcard_new());
  AddValue(card.get(), "UID", CleanText(uid));
  for (const Mapping& m : Mappings()) {
    std::vector<std::string> parts;
    bool any = false;
    for (const char* component : m.components) {
      auto it = *component ? values.find(component) : values.end();
      parts.push_back(it == values.end() ? std::string() : it->second);
      any = any || !parts.back().empty();
    }
    if (!any) continue;
    EVCardAttribute* attr = e_vcard_attribute_new(nullptr, m.property);
    AddTypes(attr, m.types);
    for (const std::string& part : parts) e_vcard_attribute_add_value(attr, part.c_str());
    e_vcard_append_attribute(card.get(), attr);
  }
  AddValue(card.get(), "BDAY", Birthday(values));
  return ToText(card.get());
}

std::string GroupCard(const std::string& uid, const std::string& name, const std::string& nickName,
                      const std::string& description) {
  VCardPtr card(e_vcard_new());
  AddValue(card.get(), "UID", CleanText(uid));
  AddValue(card.get(), "KIND", "group");
  AddValue(card.get(), "FN", CleanText(name));
  AddValue(card.get(), "NICKNAME", CleanText(nickName));
  AddValue(card.get(), "NOTE", CleanText(description));
  return ToText(card.get());
}

}  // namespace wab
