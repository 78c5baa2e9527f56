// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/about_box.h"

#include <QPixmap>

#include "control/resources.h"

namespace mq {

ui::AboutBoxContent AboutBoxContent() {
  ui::AboutBoxContent content;
  content.caption = QStringLiteral("About Mailquarry Control");
  content.lines = {QStringLiteral("Mailquarry Control, Version 1.0"),
                   QString::fromUtf8(kAboutNotice)};
  // Pictures exist only where a GUI does.
  if (ui::GuiAvailable()) {
    const Resource bitmap = ToolboxBitmap();
    QPixmap pixmap;
    if (pixmap.loadFromData(bitmap.data, static_cast<uint>(bitmap.size), "BMP"))
      content.icon = QIcon(pixmap.scaled(32, 32));
  }
  content.widthDlu = 260;
  content.heightDlu = 55;
  return content;
}

QWidget* MakePropertyPage(QWidget* parent) {
  return new ui::PropertyPageWidget(QString::fromUtf8(kPropPageCaption),
                                    QString::fromUtf8(kPropPageText), 250, 62, parent);
}

}  // namespace mq
