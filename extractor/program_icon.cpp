#include "extractor/program_icon.h"

namespace mailsift {

QIcon ProgramIcon() {
  QIcon icon;
  icon.addFile(QStringLiteral(":/mailsift/mailsift-32.png"), QSize(32, 32));
  icon.addFile(QStringLiteral(":/mailsift/mailsift-16.png"), QSize(16, 16));
  return icon;
}

}  // namespace mailsift
