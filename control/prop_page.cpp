// SPDX-License-Identifier: LGPL-2.1-or-later
#include "control/prop_page.h"

#include "control/about_box.h"

namespace mq {

QWidget* CMailquarryPropPage::CreatePage(QWidget* parent) {
  if (!ui::GuiAvailable()) return nullptr;
  return MakePropertyPage(parent);
}

}  // namespace mq
