// SPDX-License-Identifier: LGPL-2.1-or-later
// The platform's modal dialogs for controls and dialog programs. They are
// shown only when a GUI exists; without one the calls return at once.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QFont;

namespace ui {

// A QApplication exists and MQ_HEADLESS is not set to a non-empty value
// other than "0".
bool GuiAvailable();

// Dialog units of a dialog font: horizontal units are a quarter of the
// font's average character width, vertical units an eighth of its height.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  DialogUnits(int avgCharWidth, int charHeight) : cx_(avgCharWidth), cy_(charHeight) {}
  int X(int units) const { return (units * cx_ + 2) / 4; }
  int Y(int units) const { return (units * cy_ + 4) / 8; }
  QRect ToPixels(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
  }
  int AvgCharWidth() const { return cx_; }
  int CharHeight() const { return cy_; }

 private:
  int cx_;
  int cy_;
};

// The About box of a control or program: the icon at the top left, the lines
// of text beside it one below the other, a default "OK" button at the top
// right that closes it. Size in dialog units.
struct AboutBoxContent {
  QString caption;
  QStringList lines;
  QIcon icon;
  // Makes the icon when the box is built, for callers that may run without a
  // GUI (Qt refuses to make pixmaps before a QGuiApplication exists); takes
  // precedence over `icon`.
  std::function<QIcon()> makeIcon = {};
  int widthDlu = 260;
  int heightDlu = 55;
};

// Builds the dialog without showing it (for screenshots and tests).
std::unique_ptr<QDialog> MakeAboutBox(const AboutBoxContent& content, QWidget* parent = nullptr);
// The About box as an image, for screenshots.
QImage RenderAboutBox(const AboutBoxContent& content);
// Shows it modally; does nothing without a GUI. The dialog's object name is
// "aboutBox", its labels "line0", "line1", ..., its icon label "icon".
void ShowAboutBox(const AboutBoxContent& content, QWidget* parent = nullptr);

// A property page: a child dialog of the given size in dialog units, captioned
// `caption` (shown as its tab title), holding one static text.
class PropertyPageWidget : public QWidget {
 public:
  PropertyPageWidget(const QString& caption, const QString& text, int widthDlu, int heightDlu,
                     QWidget* parent = nullptr);
  QString Caption() const { return windowTitle(); }
};

// Shows `pages` (already created as children of no one) in a modal dialog
// with a tab each and "OK" / "Cancel"; takes ownership of them. Does nothing
// without a GUI (the pages are deleted).
void ShowPropertySheet(const QString& caption, std::vector<QWidget*> pages,
                       QWidget* parent = nullptr);

// Renders any widget (a dialog included) to an image without showing it on a
// screen; works on the offscreen platform.
QImage RenderWidget(QWidget* widget);

namespace testing {
// Waits (in the event loop that a modal exec runs) for the next modal dialog,
// hands it to `inspect`, then closes it with reject() unless `inspect`
// already did. Call before the code that shows the dialog. Works across
// modules, since it only uses QApplication::activeModalWidget().
void HandleNextModal(std::function<void(QDialog*)> inspect);
}  // namespace testing

}  // namespace ui
