// SPDX-License-Identifier: LGPL-2.1-or-later
// The demo address book written beside the demo store: vCard files in the
// shapes that contact programs write them.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace demo {

// File name and exact bytes of each file of the demo address book: single-card
// files (vCard 3.0 and 4.0), one file holding several cards, one group, and
// one vCard 2.1 card in quoted-printable Latin-1 with a soft line break.
std::vector<std::pair<std::string, std::string>> DemoContactFiles();

}  // namespace demo
