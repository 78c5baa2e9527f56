// SPDX-License-Identifier: LGPL-2.1-or-later
// The control's About box and its property page, as the module builds them.
#pragma once

#include "platform/ui/dialogs.h"

namespace mq {

ui::AboutBoxContent AboutBoxContent();

inline constexpr const char* kPropPageCaption = "General";
inline constexpr const char* kPropPageText =
    "TODO: Place controls to manipulate properties of Mailquarry Control on this dialog.";
// The page's widget, a child of `parent`.
QWidget* MakePropertyPage(QWidget* parent);

}  // namespace mq
