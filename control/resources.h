// SPDX-License-Identifier: LGPL-2.1-or-later
// What the module carries besides code: its version information and its
// toolbox bitmap (16 x 16, 16 colours, a BMP file), exported for tools and
// containers (module.cpp).
#pragma once

#include <cstddef>

namespace mq {

struct Resource {
  const unsigned char* data;
  std::size_t size;
};

// Bitmap resource 1.
Resource ToolboxBitmap();

inline constexpr const char* kCompanyName = "the Mailquarry developers";
inline constexpr const char* kLegalCopyright = "Copyright (C) 2026 the Mailquarry developers";
// The maker's line of the About box (the box is narrow).
inline constexpr const char* kAboutNotice = "(C) 2026 the Mailquarry developers";

// Key/value pairs, ending in a null key: FileVersion, ProductVersion,
// FileDescription, ProductName, OriginalFilename, InternalName, CompanyName,
// LegalCopyright.
const char* const* VersionInfo();

}  // namespace mq
