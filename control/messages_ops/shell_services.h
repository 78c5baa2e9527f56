// SPDX-License-Identifier: LGPL-2.1-or-later
// What the message exports need from the desktop: the user's private
// temporary directory, the home directory (where attachments go when no
// directory is named), and "open" for a document.
#pragma once

#include <optional>
#include <string>

namespace msgops {

class ShellServices {
 public:
  virtual ~ShellServices() = default;
  // The user's private temporary directory, without a trailing '/'; nothing
  // when there is none that is safe to use.
  virtual std::optional<std::string> TempDirectory() = 0;
  // The user's home directory, without a trailing '/'; nothing when unknown.
  virtual std::optional<std::string> HomeDirectory() = 0;
  // Hands `path` to the application registered for it and returns at once.
  virtual void OpenDocument(const std::string& path) = 0;
};

// The real desktop, through platform/shell.
ShellServices& SystemShell();

}  // namespace msgops
