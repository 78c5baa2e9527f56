// SPDX-License-Identifier: LGPL-2.1-or-later
// The address book's two dialogs. Both are modal Qt dialogs shown only when a
// QApplication exists; without one they show nothing and answer at once.
// Tests answer them with ui::testing::HandleNextModal: the widgets carry
// object names ("contactDetails" with read-only fields "field_<tag hex>";
// "newContact" with line edits named after the texts below).
#pragma once

#include <optional>
#include <vector>

#include "platform/wab/vcard_mapping.h"

namespace wab {

// Shows the contact's fields read-only until the user closes the dialog.
void ShowDetailsDialog(const Contact& contact);

// Asks for the 14 texts of a new contact (display name, e-mail address,
// business, home phone, business, home fax, pager, mobile, personal and
// business web page, job title, department, office, company). The entered
// non-empty texts on OK; nothing on Cancel or without a GUI.
std::optional<std::vector<OwnedProperty>> AskNewContact();

}  // namespace wab
