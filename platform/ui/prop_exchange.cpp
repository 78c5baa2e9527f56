// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/ui/prop_exchange.h"

#include <charconv>
#include <cstdio>

namespace ui {

const std::string* PropExchange::Find(std::string_view name) const {
  auto it = bag_.find(std::string(name));
  return it == bag_.end() ? nullptr : &it->second;
}

template <class Int>
bool PropExchange::ExchangeInteger(std::string_view name, Int& value, Int defaultValue) {
  if (!loading_) {
    bag_[std::string(name)] = std::to_string(value);
    return true;
  }
  value = defaultValue;
  const std::string* text = Find(name);
  if (!text) return true;
  Int parsed{};
  auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), parsed);
  if (ec != std::errc() || end != text->data() + text->size()) return false;
  value = parsed;
  return true;
}

bool PropExchange::ExchangeVersion(DWORD& version, DWORD defaultVersion) {
  if (!loading_) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u", unsigned(defaultVersion >> 16),
                  unsigned(defaultVersion & 0xFFFF));
    bag_[kVersionProperty] = buf;
    version = defaultVersion;
    return true;
  }
  version = defaultVersion;
  const std::string* text = Find(kVersionProperty);
  if (!text) return true;
  unsigned major = 0, minor = 0;
  const char* p = text->data();
  const char* end = p + text->size();
  auto r1 = std::from_chars(p, end, major);
  if (r1.ec != std::errc() || r1.ptr == end || *r1.ptr != '.' || major > 0xFFFF) return false;
  auto r2 = std::from_chars(r1.ptr + 1, end, minor);
  if (r2.ec != std::errc() || r2.ptr != end || minor > 0xFFFF) return false;
  version = MakeVersion(static_cast<WORD>(major), static_cast<WORD>(minor));
  return true;
}

bool PropExchange::Exchange(std::string_view name, bool& value, bool defaultValue) {
  if (!loading_) {
    bag_[std::string(name)] = value ? "1" : "0";
    return true;
  }
  value = defaultValue;
  const std::string* text = Find(name);
  if (!text) return true;
  if (*text == "1" || *text == "-1" || *text == "true") {
    value = true;
  } else if (*text == "0" || *text == "false") {
    value = false;
  } else {
    return false;
  }
  return true;
}

bool PropExchange::Exchange(std::string_view name, SHORT& value, SHORT defaultValue) {
  return ExchangeInteger(name, value, defaultValue);
}

bool PropExchange::Exchange(std::string_view name, LONG& value, LONG defaultValue) {
  return ExchangeInteger(name, value, defaultValue);
}

bool PropExchange::Exchange(std::string_view name, std::string& value,
                            std::string_view defaultValue) {
  if (!loading_) {
    bag_[std::string(name)] = value;
    return true;
  }
  const std::string* text = Find(name);
  value = text ? *text : std::string(defaultValue);
  return true;
}

}  // namespace ui
