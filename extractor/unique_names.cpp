// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/unique_names.h"

namespace mailsift {
namespace {

// The extension starts at the last dot that is not the name's first character.
std::string::size_type ExtensionStart(const std::string& name) {
  auto dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name.size() : dot;
}

}  // namespace

std::string UniqueNames::Propose(const std::string& fileName) {
  const auto split = ExtensionStart(fileName);
  return Propose(fileName.substr(0, split), fileName.substr(split));
}

std::string UniqueNames::Propose(const std::string& stem, const std::string& extension) {
  std::string wanted = stem + extension;
  if (!taken_.count(wanted)) return wanted;
  unsigned& number = next_.try_emplace(wanted, 2).first->second;
  for (;; ++number) {
    std::string candidate = stem + " (" + std::to_string(number) + ")" + extension;
    if (!taken_.count(candidate)) return candidate;
  }
}

}  // namespace mailsift
