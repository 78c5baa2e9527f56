// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/ui/click_testing.h"

#include <QString>
#include <QTest>
#include <QWidget>
#include <QWindow>

namespace ui::testing {
namespace {

QString Describe(const QWidget* widget) {
  if (!widget) return QStringLiteral("the window itself");
  const QString name = widget->objectName();
  const QString kind = QString::fromLatin1(widget->metaObject()->className());
  return name.isEmpty() ? kind : QStringLiteral("%1 (%2)").arg(name, kind);
}

// A child the mouse may reach: shown, enabled, and neither it nor a parent
// below the window lets the mouse pass through.
bool TakesTheMouse(const QWidget* widget, const QWidget* window) {
  if (!widget->isVisibleTo(window) || !widget->isEnabled() || widget->rect().isEmpty())
    return false;
  for (const QWidget* w = widget; w && w != window; w = w->parentWidget())
    if (w->testAttribute(Qt::WA_TransparentForMouseEvents)) return false;
  return true;
}

// Calls send(window, point) with the top-level window of `child` and `pos`
// mapped into it.
template <class Send>
void AtWindow(QWidget* child, QPoint pos, Send send) {
  QWidget* top = child->window();
  send(top->windowHandle(), child->mapTo(top, pos));
}

}  // namespace

QPoint Centre(const QWidget* widget) {
  return widget->rect().center();
}

std::vector<std::string> CoveredChildren(QWidget* window) {
  std::vector<std::string> covered;
  const auto children = window->findChildren<QWidget*>();
  for (QWidget* child : children) {
    if (child->window() != window || !TakesTheMouse(child, window)) continue;
    const QPoint centre = child->mapTo(window, Centre(child));
    if (!window->rect().contains(centre)) {
      covered.push_back(Describe(child).toStdString() + " lies outside the window");
      continue;
    }
    QWidget* hit = window->childAt(centre);
    if (hit == child || (hit && child->isAncestorOf(hit))) continue;
    covered.push_back(Describe(child).toStdString() + " lies under " + Describe(hit).toStdString());
  }
  return covered;
}

void PressAt(QWidget* child, QPoint pos) {
  AtWindow(child, pos, [](QWindow* w, QPoint at) { QTest::mousePress(w, Qt::LeftButton, {}, at); });
}

void ReleaseAt(QWidget* child, QPoint pos) {
  AtWindow(child, pos,
           [](QWindow* w, QPoint at) { QTest::mouseRelease(w, Qt::LeftButton, {}, at); });
}

void ClickAt(QWidget* child, QPoint pos) {
  AtWindow(child, pos, [](QWindow* w, QPoint at) { QTest::mouseClick(w, Qt::LeftButton, {}, at); });
}

}  // namespace ui::testing
