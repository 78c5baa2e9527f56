// SPDX-License-Identifier: LGPL-2.1-or-later
// Clicks as a person makes them, for tests of dialogs. A person's click lands
// wherever the window's hit-testing puts it: on the topmost child under the
// pointer that takes the mouse. Sending an event straight to a widget skips
// that decision and passes even where no real click could reach the widget,
// so these helpers send every event to the top-level window instead.
#pragma once

#include <QPoint>
#include <string>
#include <vector>

class QWidget;

namespace ui::testing {

// Every enabled, visible child of `window` (at any depth) that takes the
// mouse, but whose centre a click would not reach: the widget found there
// through the window is neither the child nor a part of it. Each entry names
// the child and what lies on top of it; an empty list means every child can
// be clicked.
std::vector<std::string> CoveredChildren(QWidget* window);

// The centre of a widget, in its own coordinates.
QPoint Centre(const QWidget* widget);

// Mouse events sent to the top-level window of `child` at `pos` (in the
// child's coordinates), as the window system delivers a real click. The window
// must be shown.
void PressAt(QWidget* child, QPoint pos);
void ReleaseAt(QWidget* child, QPoint pos);
void ClickAt(QWidget* child, QPoint pos);
inline void Click(QWidget* child) {
  ClickAt(child, Centre(child));
}

}  // namespace ui::testing
