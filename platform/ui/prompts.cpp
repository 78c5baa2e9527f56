// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/ui/prompts.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "platform/ui/dialogs.h"

namespace ui {

void QtUserPrompts::ShowMessage(QWidget* parent, const QString& caption, const QString& text,
                                Icon icon) {
  if (!GuiAvailable()) return;
  QMessageBox box(icon == Icon::kError     ? QMessageBox::Critical
                  : icon == Icon::kWarning ? QMessageBox::Warning
                                           : QMessageBox::Information,
                  caption, text, QMessageBox::Ok, parent);
  box.setObjectName(QStringLiteral("messageBox"));
  box.exec();
}

QString QtUserPrompts::BrowseForDirectory(QWidget* parent, const QString& title,
                                          const QString& startDir) {
  if (!GuiAvailable()) return {};
  // Given a directory that does not exist, the browser would open on its
  // parent with its name typed in, and Enter would answer "Directory not
  // found": it opens at home instead.
  const QString start = QFileInfo(startDir).isDir() ? startDir : QDir::homePath();
  return QFileDialog::getExistingDirectory(parent, title, start, QFileDialog::ShowDirsOnly);
}

QString QtUserPrompts::SaveFileName(QWidget* parent, const QString& title, const QString& startDir,
                                    const QString& suggestedName, const QString& filter) {
  if (!GuiAvailable()) return {};
  // Never the current directory: a relative name would be taken from there.
  const QString start = QFileInfo(startDir).isDir() ? startDir : QDir::homePath();
  return QFileDialog::getSaveFileName(parent, title, start + QLatin1Char('/') + suggestedName,
                                      filter);
}

void ScriptedUserPrompts::ShowMessage(QWidget*, const QString& caption, const QString& text,
                                      Icon icon) {
  messages.push_back({caption, text, icon});
}

QString ScriptedUserPrompts::BrowseForDirectory(QWidget*, const QString& title,
                                                const QString& startDir) {
  questions.push_back(title);
  startDirs.push_back(startDir);
  if (directories.empty()) return {};
  QString answer = directories.front();
  directories.pop_front();
  return answer;
}

QString ScriptedUserPrompts::SaveFileName(QWidget*, const QString& title, const QString& startDir,
                                          const QString&, const QString&) {
  questions.push_back(title);
  saveStarts.push_back(startDir);
  if (saveNames.empty()) return {};
  QString answer = saveNames.front();
  saveNames.pop_front();
  return answer;
}

}  // namespace ui
