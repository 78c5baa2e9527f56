// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/contacts/property_names.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>

#include "platform/wab/property_tags.h"

namespace mq {
namespace {

struct NamedId {
  ULONG id;
  const char* name;
};

// Written from the published tag list, so each name is written once; the list
// is in identifier order, which the lookup relies on.
#define MQ_NAMED_ID(name, id, type) NamedId{id, #name},
constexpr NamedId kNames[] = {WAB_PROPERTY_TAGS(MQ_NAMED_ID)};
#undef MQ_NAMED_ID

static_assert(std::is_sorted(std::begin(kNames), std::end(kNames),
                             [](const NamedId& a, const NamedId& b) { return a.id < b.id; }),
              "the property tag list must be in identifier order");

}  // namespace

const char* PropertyTagName(ULONG tag) {
  const ULONG id = PROP_ID(tag);
  const auto* found =
      std::lower_bound(std::begin(kNames), std::end(kNames), id,
                       [](const NamedId& entry, ULONG wanted) { return entry.id < wanted; });
  if (found != std::end(kNames) && found->id == id) return found->name;
  static char unknown[sizeof("Unknown property tag 0x") + 8];
  std::snprintf(unknown, sizeof unknown, "Unknown property tag 0x%x", static_cast<unsigned>(id));
  return unknown;
}

}  // namespace mq
