// SPDX-License-Identifier: LGPL-2.1-or-later
// The progress of a long command: a modal "k of N" dialog with Cancel, shown
// only once the command has run for a while, so short commands flash nothing.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <memory>

#include "extractor/export_commands.h"

namespace mailsift {

class ProgressDialog : public Progress {
 public:
  ProgressDialog(QWidget* parent, const QString& title, int delayMs = 500);
  ~ProgressDialog() override;
  bool Continue(long done, long total) override;

 private:
  QWidget* parent_;
  QString title_;
  int delayMs_;
  bool gui_;
  QElapsedTimer started_;
  QElapsedTimer lastUpdate_;
  std::unique_ptr<QProgressDialog> dialog_;
};

}  // namespace mailsift
