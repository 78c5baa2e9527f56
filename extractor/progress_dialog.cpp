// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/progress_dialog.h"

#include <QApplication>

#include "platform/ui/dialogs.h"

namespace mailsift {
namespace {

// How often a shown dialog is brought up to date and input is handled.
constexpr int kUpdateMs = 50;

}  // namespace

ProgressDialog::ProgressDialog(QWidget* parent, const QString& title, int delayMs)
    : parent_(parent), title_(title), delayMs_(delayMs), gui_(ui::GuiAvailable()) {
  started_.start();
}

ProgressDialog::~ProgressDialog() = default;

bool ProgressDialog::Continue(long done, long total) {
  if (!dialog_) {
    if (!gui_ || started_.elapsed() < delayMs_) return true;
    dialog_ = std::make_unique<QProgressDialog>(parent_);
    dialog_->setObjectName(QStringLiteral("progress"));
    dialog_->setWindowTitle(title_);
    dialog_->setWindowModality(Qt::ApplicationModal);
    dialog_->setAutoReset(false);
    dialog_->setAutoClose(false);
    dialog_->setMinimumDuration(0);
    dialog_->setCancelButtonText(QStringLiteral("Cancel"));
    dialog_->setRange(0, 1000);
    dialog_->show();
  } else if (lastUpdate_.isValid() && lastUpdate_.elapsed() < kUpdateMs) {
    return !dialog_->wasCanceled();
  }
  lastUpdate_.start();
  dialog_->setLabelText(QStringLiteral("%1 of %2").arg(done).arg(total));
  dialog_->setValue(total > 0 ? static_cast<int>(done * 1000 / total) : 0);
  // The dialog is application-modal: only its Cancel reaches the program.
  QApplication::processEvents();
  return !dialog_->wasCanceled();
}

}  // namespace mailsift
