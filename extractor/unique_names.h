// SPDX-License-Identifier: LGPL-2.1-or-later
// The file names one export command writes into its directory. A name the
// command has not written yet is used as it is; a name it wrote before gets
// " (2)", " (3)", ... before its extension, so that nothing the command wrote
// is overwritten by a later file of the same name. Files that were in the
// directory before the command are not looked at: they are replaced, so that
// running an export again gives the same files.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>

namespace mailsift {

class UniqueNames {
 public:
  // The name to write `stem` + `extension` under; it is not yet taken.
  std::string Propose(const std::string& stem, const std::string& extension);
  // The same for a whole file name, whose extension starts at its last dot
  // (unless that dot begins the name).
  std::string Propose(const std::string& fileName);
  // Marks a name as written by this command.
  void Take(const std::string& name) { taken_.insert(name); }

 private:
  std::unordered_set<std::string> taken_;
  // The next number to try for a wanted name, so that many files of one name
  // cost one step each.
  std::unordered_map<std::string, unsigned> next_;
};

}  // namespace mailsift
