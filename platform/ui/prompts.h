// SPDX-License-Identifier: LGPL-2.1-or-later
// The questions a dialog program asks its user (a message, a directory, a file
// name to save under), behind one small interface so that tests can answer
// them without driving real file dialogs.
#pragma once

#include <QString>
#include <deque>
#include <vector>

class QWidget;

namespace ui {

class UserPrompts {
 public:
  enum class Icon { kInformation, kWarning, kError };
  virtual ~UserPrompts() = default;
  // A modal message with an "OK" button.
  virtual void ShowMessage(QWidget* parent, const QString& caption, const QString& text,
                           Icon icon) = 0;
  // The chosen directory, or an empty string when the user cancels. The
  // browser opens at `startDir`, or at home when that is no directory, with
  // nothing typed in.
  virtual QString BrowseForDirectory(QWidget* parent, const QString& title,
                                     const QString& startDir) = 0;
  // The chosen file, or an empty string when the user cancels. The dialog
  // opens at `startDir` (home when that is no directory) with
  // `suggestedName` typed in. `filter` is in Qt's form: "Text files
  // (*.txt);;All files (*)". The dialog asks before replacing an existing file.
  virtual QString SaveFileName(QWidget* parent, const QString& title, const QString& startDir,
                               const QString& suggestedName, const QString& filter) = 0;
};

// The real dialogs; without a GUI they show nothing and answer "cancelled".
class QtUserPrompts : public UserPrompts {
 public:
  void ShowMessage(QWidget* parent, const QString& caption, const QString& text,
                   Icon icon) override;
  QString BrowseForDirectory(QWidget* parent, const QString& title,
                             const QString& startDir) override;
  QString SaveFileName(QWidget* parent, const QString& title, const QString& startDir,
                       const QString& suggestedName, const QString& filter) override;
};

// Answers from queues filled beforehand (an empty queue answers "cancelled")
// and records every question.
class ScriptedUserPrompts : public UserPrompts {
 public:
  struct Message {
    QString caption;
    QString text;
    Icon icon;
  };

  std::deque<QString> directories;
  std::deque<QString> saveNames;
  std::vector<Message> messages;
  std::vector<QString> questions;   // titles of directory and file prompts, in order
  std::vector<QString> startDirs;   // where each directory prompt was to open
  std::vector<QString> saveStarts;  // where each file prompt was to open

  void ShowMessage(QWidget* parent, const QString& caption, const QString& text,
                   Icon icon) override;
  QString BrowseForDirectory(QWidget* parent, const QString& title,
                             const QString& startDir) override;
  QString SaveFileName(QWidget* parent, const QString& title, const QString& startDir,
                       const QString& suggestedName, const QString& filter) override;
};

}  // namespace ui
