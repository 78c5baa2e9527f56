// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/program_icon.h"

// The resources of a static library are registered by hand.
static void InitResources() {
  Q_INIT_RESOURCE(mailsift);
}

namespace mailsift {

QIcon ProgramIcon() {
  InitResources();
  QIcon icon;
  icon.addFile(QStringLiteral(":/mailsift/mailsift-32.png"), QSize(32, 32));
  icon.addFile(QStringLiteral(":/mailsift/mailsift-16.png"), QSize(16, 16));
  return icon;
}

}  // namespace mailsift
