// SPDX-License-Identifier: LGPL-2.1-or-later
// Mends two real-world part shapes that GMime parses short: a part whose
// header block runs straight into its body without the empty line between.
#pragma once

#include <gmime/gmime.h>

namespace mime::detail {

// Where GMime gave up on a multipart (it stops at a run-on header block whose
// body is one line longer than its read buffer, and drops that part and every
// part after it), the parts after the last one it kept are read again from
// their sections of `stream`, each section on its own; a section GMime still
// cannot read becomes a part with the header lines it starts with and the
// rest as content. Called only for a message GMime reported cut short.
void RecoverDroppedParts(GMimeObject* root, GMimeStream* stream);

// A part GMime kept without content because its header block ran into its
// body gets as content the bytes after its last header line up to its
// multipart's next boundary.
void RecoverRunOnBodies(GMimeObject* root, GMimeStream* stream);

}  // namespace mime::detail
