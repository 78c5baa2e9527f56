// SPDX-License-Identifier: LGPL-2.1-or-later
// Property exchange: one routine of a control both loads and saves its
// persisted properties, by name, with a default for each.
#pragma once

#include <string>
#include <string_view>

#include "platform/ui/control_interfaces.h"

namespace ui {

// Major version in the high word, minor in the low word.
constexpr DWORD MakeVersion(WORD major, WORD minor) {
  return (DWORD(major) << 16) | minor;
}

class PropExchange {
 public:
  // Loading reads from `bag`; saving writes into it.
  PropExchange(PropertyBag& bag, bool loading) : bag_(bag), loading_(loading) {}

  bool IsLoading() const { return loading_; }

  // The version stamp. Loading sets `version` to the stamp found (or
  // `defaultVersion` when the bag has none); saving always writes
  // `defaultVersion`, so data loaded under an older stamp is saved under the
  // current one. False when a stored stamp is malformed (then `version` is
  // `defaultVersion`).
  bool ExchangeVersion(DWORD& version, DWORD defaultVersion);

  // Each exchanges one named property. Loading takes the default when the
  // property is absent or malformed and answers false only for malformed
  // values; saving always writes and answers true.
  bool Exchange(std::string_view name, bool& value, bool defaultValue);
  bool Exchange(std::string_view name, SHORT& value, SHORT defaultValue);
  bool Exchange(std::string_view name, LONG& value, LONG defaultValue);
  bool Exchange(std::string_view name, std::string& value, std::string_view defaultValue);

 private:
  const std::string* Find(std::string_view name) const;
  template <class Int>
  bool ExchangeInteger(std::string_view name, Int& value, Int defaultValue);

  PropertyBag& bag_;
  bool loading_;
};

}  // namespace ui
