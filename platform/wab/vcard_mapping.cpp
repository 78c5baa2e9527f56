// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/vcard_mapping.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/com/time.h"
#include "platform/wab/card_charsets.h"
#include "platform/wab/card_splitter.h"
#include "platform/wab/property_tags.h"
#include "platform/wab/wab.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <libebook-contacts/libebook-contacts.h>
#pragma GCC diagnostic pop

namespace wab {
namespace {

// One row of the table. Consecutive rows with the same property and types
// form a group: one vCard attribute feeds all of them, each row taking one
// component of a structured value (N, ORG, ADR) or, with component -1, the
// whole text. A card attribute goes to the first group (in table order) whose
// property it has and whose types it carries all of, so the more specific
// types come first. Tags appear once unless another row names them as a
// second spelling; only rows with `write` set are used to write a card.
struct Row {
  ULONG tag;
  const char* property;
  const char* types;  // comma-separated TYPE values the attribute must carry
  int component;
  bool write;
  const char* label;                 // in the details dialog; null: not shown
  ULONG secondTag = 0;               // where a second attribute of the group goes
  const char* writeTypes = nullptr;  // TYPE values written; null: `types`
};

// Where an untyped URL goes: the personal home page (the card's own page, as
// Evolution and most exporters treat it). The office is Evolution's
// X-EVOLUTION-OFFICE. An untyped ADR is the "other" address.
// clang-format off
constexpr Row kTable[] = {
  {PR_DISPLAY_NAME,               "FN",       "",          -1, true,  "Display name"},
  {PR_SURNAME,                    "N",        "",           0, true,  "Last name"},
  {PR_GIVEN_NAME,                 "N",        "",           1, true,  "First name"},
  {PR_MIDDLE_NAME,                "N",        "",           2, true,  "Middle name"},
  {PR_DISPLAY_NAME_PREFIX,        "N",        "",           3, true,  "Title"},
  {PR_GENERATION,                 "N",        "",           4, true,  "Suffix"},
  {PR_NICKNAME,                   "NICKNAME", "",          -1, true,  "Nickname"},
  {PR_EMAIL_ADDRESS,              "EMAIL",    "",          -1, true,  "E-mail address", 0, "INTERNET"},
  {PR_BUSINESS_FAX_NUMBER,        "TEL",      "WORK,FAX",  -1, true,  "Business fax"},
  {PR_HOME_FAX_NUMBER,            "TEL",      "HOME,FAX",  -1, true,  "Home fax"},
  {PR_PRIMARY_FAX_NUMBER,         "TEL",      "FAX",       -1, true,  "Other fax"},
  {PR_CELLULAR_TELEPHONE_NUMBER,  "TEL",      "CELL",      -1, true,  "Mobile"},
  {PR_PAGER_TELEPHONE_NUMBER,     "TEL",      "PAGER",     -1, true,  "Pager"},
  {PR_CAR_TELEPHONE_NUMBER,       "TEL",      "CAR",       -1, true,  "Car phone"},
  {PR_ISDN_NUMBER,                "TEL",      "ISDN",      -1, true,  "ISDN"},
  {PR_COMPANY_MAIN_PHONE_NUMBER,  "TEL",      "X-EVOLUTION-COMPANY",   -1, true, "Company phone"},
  {PR_ASSISTANT_TELEPHONE_NUMBER, "TEL",      "X-EVOLUTION-ASSISTANT", -1, true, "Assistant's phone"},
  {PR_CALLBACK_TELEPHONE_NUMBER,  "TEL",      "X-EVOLUTION-CALLBACK",  -1, true, "Callback phone"},
  {PR_RADIO_TELEPHONE_NUMBER,     "TEL",      "X-EVOLUTION-RADIO",     -1, true, "Radio phone"},
  {PR_TELEX_NUMBER,               "TEL",      "X-EVOLUTION-TELEX",     -1, true, "Telex"},
  {PR_TTYTDD_PHONE_NUMBER,        "TEL",      "X-EVOLUTION-TTYTDD",    -1, true, "TTY/TDD phone"},
  {PR_BUSINESS_TELEPHONE_NUMBER,  "TEL",      "WORK",      -1, true,  "Business phone", PR_BUSINESS2_TELEPHONE_NUMBER, "WORK,VOICE"},
  {PR_HOME_TELEPHONE_NUMBER,      "TEL",      "HOME",      -1, true,  "Home phone", PR_HOME2_TELEPHONE_NUMBER, "HOME,VOICE"},
  {PR_OTHER_TELEPHONE_NUMBER,     "TEL",      "",          -1, true,  "Other phone", 0, "VOICE"},
  {PR_BUSINESS_HOME_PAGE,         "URL",      "WORK",      -1, true,  "Business web page"},
  {PR_PERSONAL_HOME_PAGE,         "URL",      "HOME",      -1, true,  "Personal web page"},
  {PR_PERSONAL_HOME_PAGE,         "URL",      "",          -1, false, nullptr},
  {PR_TITLE,                      "TITLE",    "",          -1, true,  "Job title"},
  {PR_PROFESSION,                 "ROLE",     "",          -1, true,  "Profession"},
  {PR_COMPANY_NAME,               "ORG",      "",           0, true,  "Company"},
  {PR_DEPARTMENT_NAME,            "ORG",      "",           1, true,  "Department"},
  {PR_OFFICE_LOCATION,            "X-EVOLUTION-OFFICE",    "", -1, true, "Office"},
  {PR_MANAGER_NAME,               "X-EVOLUTION-MANAGER",   "", -1, true, "Manager"},
  {PR_ASSISTANT,                  "X-EVOLUTION-ASSISTANT", "", -1, true, "Assistant"},
  {PR_SPOUSE_NAME,                "X-EVOLUTION-SPOUSE",    "", -1, true, "Spouse"},
  {PR_HOME_ADDRESS_POST_OFFICE_BOX,    "ADR", "HOME", 0, true, "Home PO box"},
  {PR_HOME_ADDRESS_STREET,             "ADR", "HOME", 2, true, "Home street"},
  {PR_HOME_ADDRESS_CITY,               "ADR", "HOME", 3, true, "Home city"},
  {PR_HOME_ADDRESS_STATE_OR_PROVINCE,  "ADR", "HOME", 4, true, "Home state"},
  {PR_HOME_ADDRESS_POSTAL_CODE,        "ADR", "HOME", 5, true, "Home postal code"},
  {PR_HOME_ADDRESS_COUNTRY,            "ADR", "HOME", 6, true, "Home country"},
  {PR_POST_OFFICE_BOX,                 "ADR", "WORK", 0, true, "Business PO box"},
  {PR_STREET_ADDRESS,                  "ADR", "WORK", 2, true, "Business street"},
  {PR_LOCALITY,                        "ADR", "WORK", 3, true, "Business city"},
  {PR_STATE_OR_PROVINCE,               "ADR", "WORK", 4, true, "Business state"},
  {PR_POSTAL_CODE,                     "ADR", "WORK", 5, true, "Business postal code"},
  {PR_COUNTRY,                         "ADR", "WORK", 6, true, "Business country"},
  {PR_OTHER_ADDRESS_POST_OFFICE_BOX,   "ADR", "",     0, true, "Other PO box"},
  {PR_OTHER_ADDRESS_STREET,            "ADR", "",     2, true, "Other street"},
  {PR_OTHER_ADDRESS_CITY,              "ADR", "",     3, true, "Other city"},
  {PR_OTHER_ADDRESS_STATE_OR_PROVINCE, "ADR", "",     4, true, "Other state"},
  {PR_OTHER_ADDRESS_POSTAL_CODE,       "ADR", "",     5, true, "Other postal code"},
  {PR_OTHER_ADDRESS_COUNTRY,           "ADR", "",     6, true, "Other country"},
  {PR_BIRTHDAY,                   "BDAY",     "",          -1, true,  "Birthday"},
  {PR_WEDDING_ANNIVERSARY,        "ANNIVERSARY", "",       -1, true,  "Anniversary"},
  {PR_COMMENT,                    "NOTE",     "",          -1, true,  "Notes"},
};
// clang-format on
constexpr std::size_t kRows = sizeof(kTable) / sizeof(kTable[0]);

// Where the rows of a vCard property start in the table (kRows when it has
// none), so an attribute is compared with each property name once. The rows
// of one property stand together and share the one spelling of its name.
std::size_t FirstRowOf(const char* name) {
  static const std::vector<std::pair<const char*, std::size_t>> index = [] {
    std::vector<std::pair<const char*, std::size_t>> out;
    for (std::size_t i = 0; i < kRows; ++i) {
      bool known = false;
      for (const auto& entry : out) known = known || !std::strcmp(entry.first, kTable[i].property);
      if (!known) out.emplace_back(kTable[i].property, i);
    }
    return out;
  }();
  char initial = g_ascii_toupper(name[0]);
  for (const auto& [property, row] : index) {
    if (property[0] == initial && !g_ascii_strcasecmp(name, property)) return row;
  }
  return kRows;
}

bool SameGroup(const Row& a, const Row& b) {
  return std::strcmp(a.property, b.property) == 0 && std::strcmp(a.types, b.types) == 0;
}

// Calls fn(type) for each comma-separated type of `list`.
template <class Fn>
bool AllTypes(const char* list, Fn fn) {
  std::string_view rest(list);
  while (!rest.empty()) {
    std::size_t comma = rest.find(',');
    if (!fn(std::string(rest.substr(0, comma)))) return false;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return true;
}

bool HasTypes(EVCardAttribute* attr, const char* types) {
  return AllTypes(types, [&](const std::string& t) {
    return e_vcard_attribute_has_type(attr, t.c_str()) != FALSE;
  });
}

bool IsPreferred(EVCardAttribute* attr) {
  return e_vcard_attribute_has_type(attr, "PREF") || e_vcard_attribute_get_param(attr, "PREF");
}

// Text as UTF-8. The library passes on the bytes of a quoted-printable value
// whose charset it does not know (none declared, or a misspelt one) as they
// are; such text is read as undeclared text.
std::string ValidUtf8(const char* text) {
  return Utf8OrWindows1252(text);
}

// The values of an attribute: its components, each as the library decoded it.
std::vector<std::string> Components(EVCardAttribute* attr) {
  std::vector<std::string> out;
  for (GList* v = e_vcard_attribute_get_values(attr); v; v = v->next) {
    out.push_back(v->data ? ValidUtf8(static_cast<const char*>(v->data)) : std::string());
  }
  return out;
}

std::string Trimmed(std::string text) {
  std::size_t end = text.find_last_not_of(" \t\r\n");
  text.erase(end == std::string::npos ? 0 : end + 1);
  std::size_t start = text.find_first_not_of(" \t\r\n");
  text.erase(0, start == std::string::npos ? text.size() : start);
  return text;
}

std::string JoinAll(const std::vector<std::string>& parts) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += ';';
    out += parts[i];
  }
  return out;
}

// "1980-05-17", "19800517", with or without a time after it; a date without a
// year ("--0517") cannot be a FILETIME.
bool ParseDate(const std::string& text, LONGLONG* ticks) {
  std::string digits;
  for (char c : text) {
    if (c == 'T' || c == 't') break;
    if (c >= '0' && c <= '9')
      digits += c;
    else if (c != '-')
      return false;
  }
  if (digits.size() != 8 || text.rfind("--", 0) == 0) return false;
  int year = std::stoi(digits.substr(0, 4));
  int month = std::stoi(digits.substr(4, 2));
  int day = std::stoi(digits.substr(6, 2));
  return DateToFileTime(year, month, day, ticks);
}

struct GObjectDeleter {
  void operator()(void* p) const { g_object_unref(p); }
};
using VCardPtr = std::unique_ptr<EVCard, GObjectDeleter>;

}  // namespace

bool DateToFileTime(int year, int month, int day, LONGLONG* ticks) {
  SYSTEMTIME date{};
  date.wYear = static_cast<WORD>(year);
  date.wMonth = static_cast<WORD>(month);
  date.wDay = static_cast<WORD>(day);
  FILETIME ft;
  if (year < 1601 || year > 9999 || !SystemTimeToFileTime(&date, &ft)) return false;
  *ticks =
      static_cast<LONGLONG>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return true;
}

std::string DateText(LONGLONG ticks) {
  FILETIME ft{static_cast<DWORD>(ticks & 0xFFFFFFFF),
              static_cast<DWORD>(static_cast<ULONGLONG>(ticks) >> 32)};
  SYSTEMTIME date{};
  if (ticks < 0 || !FileTimeToSystemTime(&ft, &date)) return {};
  char out[32];
  std::snprintf(out, sizeof out, "%04u-%02u-%02u", date.wYear, date.wMonth, date.wDay);
  return out;
}

void Contact::SetProperties(const std::vector<OwnedProperty>& owned) {
  auto buffer = std::make_shared<std::string>();
  PropertyList::Pack(owned, buffer.get());
  // The view is taken once the buffer is whole: it never moves after.
  properties = PropertyList::OfPacked(buffer->data(), static_cast<std::uint32_t>(owned.size()));
  texts = std::move(buffer);
}

std::optional<std::string_view> Contact::Find(ULONG tag) const {
  for (const MappedProperty& p : properties) {
    if (p.tag == tag) return p.text;
  }
  return std::nullopt;
}

std::string Contact::DisplayName() const {
  return std::string(Find(PR_DISPLAY_NAME).value_or(std::string_view()));
}

bool ReadContact(std::string_view cardText, Contact* out, bool textIsUnicode) {
  *out = Contact{};
  std::string text = PrepareForLibrary(cardText, textIsUnicode);
  VCardPtr card(e_vcard_new_from_string(text.c_str()));
  if (!card) return false;

  // Per row: the value found and whether it came from a preferred attribute.
  struct Slot {
    bool set = false;
    bool preferred = false;
    std::string text;
    LONGLONG time = 0;
  };
  std::vector<Slot> slots(kRows);
  std::vector<std::pair<ULONG, std::string>> seconds;
  bool group = false;
  bool any = false;

  for (GList* a = e_vcard_get_attributes(card.get()); a; a = a->next) {
    auto* attr = static_cast<EVCardAttribute*>(a->data);
    const char* name = e_vcard_attribute_get_name(attr);
    if (!name) continue;
    any = true;
    if (!g_ascii_strcasecmp(name, "UID")) {
      if (out->uid.empty()) out->uid = Trimmed(JoinAll(Components(attr)));
      continue;
    }
    if (!g_ascii_strcasecmp(name, "KIND") ||
        !g_ascii_strcasecmp(name, "X-ADDRESSBOOKSERVER-KIND")) {
      group = group || !g_ascii_strcasecmp(Trimmed(JoinAll(Components(attr))).c_str(), "group");
      continue;
    }
    // The first group of the table this attribute belongs to.
    std::size_t first = kRows;
    std::size_t start = FirstRowOf(name);
    for (std::size_t i = start;
         i < kRows && !std::strcmp(kTable[i].property, kTable[start].property); ++i) {
      if (HasTypes(attr, kTable[i].types)) {
        first = i;
        break;
      }
    }
    if (first == kRows) continue;
    std::vector<std::string> parts = Components(attr);
    bool preferred = IsPreferred(attr);
    for (std::size_t i = first; i < kRows && SameGroup(kTable[i], kTable[first]); ++i) {
      const Row& row = kTable[i];
      std::string value;
      if (row.component < 0) {
        value = JoinAll(parts);
      } else if (static_cast<std::size_t>(row.component) < parts.size()) {
        value = parts[row.component];
        // The extended address (component 1) belongs to the street.
        if (!std::strcmp(row.property, "ADR") && row.component == 2 && parts.size() > 1 &&
            !Trimmed(parts[1]).empty())
          value = Trimmed(parts[1]) + "\n" + value;
      }
      value = Trimmed(std::move(value));
      if (!std::strcmp(row.property, "TEL") && !g_ascii_strncasecmp(value.c_str(), "tel:", 4))
        value.erase(0, 4);
      if (value.empty()) continue;
      Slot& slot = slots[i];
      LONGLONG time = 0;
      if (PROP_TYPE(row.tag) == PT_SYSTIME && !ParseDate(value, &time)) continue;
      if (slot.set && !(preferred && !slot.preferred)) {
        if (row.secondTag) seconds.emplace_back(row.secondTag, value);
        continue;
      }
      slot = {true, preferred, value, time};
    }
  }
  if (!any) return false;

  out->objectType = group ? MAPI_DISTLIST : MAPI_MAILUSER;
  std::vector<OwnedProperty> found;
  auto find = [&](ULONG tag) -> const std::string* {
    for (const OwnedProperty& p : found)
      if (p.tag == tag) return &p.text;
    return nullptr;
  };
  auto add = [&](ULONG tag, std::string text, LONGLONG time) {
    if (find(tag)) return;  // an earlier row of the table already gave it
    found.push_back({tag, std::move(text), time});
  };
  for (std::size_t i = 0; i < kRows; ++i) {
    if (slots[i].set) add(kTable[i].tag, slots[i].text, slots[i].time);
  }
  for (auto& [tag, text] : seconds) add(tag, text, 0);
  if (find(PR_EMAIL_ADDRESS)) add(PR_ADDRTYPE, "SMTP", 0);
  // A card without FN still gets a name to be listed by.
  if (!find(PR_DISPLAY_NAME)) {
    std::string name;
    const std::string* given = find(PR_GIVEN_NAME);
    const std::string* surname = find(PR_SURNAME);
    if (given) name = *given;
    if (surname) name += (name.empty() ? "" : " ") + *surname;
    if (name.empty() && find(PR_COMPANY_NAME)) name = *find(PR_COMPANY_NAME);
    if (name.empty() && find(PR_EMAIL_ADDRESS)) name = *find(PR_EMAIL_ADDRESS);
    add(PR_DISPLAY_NAME, name, 0);
  }
  std::sort(found.begin(), found.end(),
            [](const OwnedProperty& a, const OwnedProperty& b) { return a.tag < b.tag; });
  out->SetProperties(found);
  return true;
}

bool IsWritableTag(ULONG tag) {
  for (const Row& row : kTable) {
    if (row.write && PROP_ID(row.tag) == PROP_ID(tag)) return true;
  }
  return false;
}

const char* FieldLabel(ULONG tag) {
  for (const Row& row : kTable) {
    if (row.label && PROP_ID(row.tag) == PROP_ID(tag)) return row.label;
  }
  return nullptr;
}

std::string WriteNewCard(const PropertyList& properties, ULONG objectType, const std::string& uid) {
  auto valueOf = [&](ULONG tag) -> std::optional<MappedProperty> {
    for (const MappedProperty& p : properties) {
      if (PROP_ID(p.tag) == PROP_ID(tag)) return p;
    }
    return std::nullopt;
  };
  VCardPtr card(e_vcard_new());
  // Appended in reverse so that prepending keeps table order.
  std::vector<EVCardAttribute*> attributes;
  auto addTypes = [](EVCardAttribute* attr, const char* types) {
    AllTypes(types, [&](const std::string& t) {
      if (!t.empty())
        e_vcard_attribute_add_param_with_value(attr, e_vcard_attribute_param_new("TYPE"),
                                               t.c_str());
      return true;
    });
  };
  EVCardAttribute* uidAttr = e_vcard_attribute_new(nullptr, "UID");
  e_vcard_attribute_add_value(uidAttr, ValidUtf8(uid.c_str()).c_str());
  attributes.push_back(uidAttr);
  if (objectType == MAPI_DISTLIST) {
    EVCardAttribute* kind = e_vcard_attribute_new(nullptr, "X-ADDRESSBOOKSERVER-KIND");
    e_vcard_attribute_add_value(kind, "group");
    attributes.push_back(kind);
  }
  for (std::size_t first = 0; first < kRows;) {
    std::size_t end = first;
    while (end < kRows && SameGroup(kTable[end], kTable[first])) ++end;
    const Row& head = kTable[first];
    if (head.write) {
      std::vector<std::string> parts;
      bool any = false;
      for (std::size_t i = first; i < end; ++i) {
        const std::optional<MappedProperty> p = valueOf(kTable[i].tag);
        std::string value;
        if (p && PROP_TYPE(kTable[i].tag) == PT_SYSTIME)
          value = p->time ? DateText(p->time) : "";
        else if (p)
          value = p->text;
        // The library reads past the end of text that is not UTF-8 when it
        // folds lines; such text never reaches it.
        if (value.empty() || !g_utf8_validate(value.c_str(), -1, nullptr)) continue;
        any = true;
        std::size_t at = kTable[i].component < 0 ? 0 : kTable[i].component;
        if (parts.size() <= at) parts.resize(at + 1);
        parts[at] = value;
      }
      if (any) {
        if (!std::strcmp(head.property, "N") || !std::strcmp(head.property, "ADR"))
          parts.resize(!std::strcmp(head.property, "N") ? 5 : 7);
        EVCardAttribute* attr = e_vcard_attribute_new(nullptr, head.property);
        addTypes(attr, head.writeTypes ? head.writeTypes : head.types);
        for (const std::string& part : parts) e_vcard_attribute_add_value(attr, part.c_str());
        attributes.push_back(attr);
      }
    }
    first = end;
  }
  for (EVCardAttribute* attr : attributes) e_vcard_append_attribute(card.get(), attr);
  char* text = e_vcard_to_string(card.get(), EVC_FORMAT_VCARD_30);
  std::string out = text ? text : "";
  g_free(text);
  if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) out += "\r\n";
  return out;
}

}  // namespace wab
