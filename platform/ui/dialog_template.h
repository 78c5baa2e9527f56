// SPDX-License-Identifier: LGPL-2.1-or-later
// Dialogs as data: a template names the dialog's font and size and, for each
// child, its id, kind, caption, style and rectangle in dialog units. One
// function builds Qt widgets from any template, placing each child by the
// dialog-unit conversion of the template's font and naming it by its id, so
// that programs and tests find children by id.
#pragma once

#include <QDialog>
#include <QString>
#include <map>
#include <vector>

#include "platform/ui/dialogs.h"

namespace ui {

enum class ItemKind {
  kPushButton,
  kDefaultPushButton,
  kStatic,
  kGroupBox,
  kDropDownList,  // a combo box the user picks from and cannot type into
  kRadioButton,   // automatic: checking one unchecks the others of its group
  kIcon,          // the dialog's icon, 32 x 32 pixels at the given position
  kControl,       // a place for a hosted control; an empty widget
  kCheckBox,      // automatic: a click toggles it
  kEdit,          // a one-line text field
};

// Style bits of a child.
enum ItemStyle : unsigned {
  kNoStyle = 0,
  kTabStop = 1u << 0,
  kGroup = 1u << 1,  // starts a group (radio buttons up to the next kGroup form one)
};

// The id of children that nobody looks up.
constexpr int kNoId = -1;

struct DialogItem {
  int id;
  ItemKind kind;
  QString caption;
  unsigned style;
  int x, y, width, height;  // dialog units
};

struct DialogTemplate {
  QString caption;
  QString fontFamily;
  int pointSize;
  int width, height;  // dialog units
  std::vector<DialogItem> items;
};

// The object name of a child with this id ("id1000").
QString ItemName(int id);

// Sets the dialog's caption, font and fixed size and creates the children in
// template order (which is also their tab order). Returns the children by id
// (children with kNoId are left out). The dialog's units are those of the
// template's font. As on the platform the templates come from, group boxes,
// static texts and icons let the mouse through, and group boxes lie beneath
// every other child, so that no template order hides a control from a click.
std::map<int, QWidget*> BuildDialog(const DialogTemplate& tmpl, QDialog* dialog);
// The same in `font` instead of the template's: the sizes stay the
// template's dialog units, converted with that font's.
std::map<int, QWidget*> BuildDialog(const DialogTemplate& tmpl, QDialog* dialog, const QFont& font);

// The dialog units a template's font gives.
DialogUnits TemplateUnits(const DialogTemplate& tmpl);

}  // namespace ui
