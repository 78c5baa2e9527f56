// SPDX-License-Identifier: LGPL-2.1-or-later
// Mailsift's About box (dialog 100).
#pragma once

#include <QDialog>
#include <QPushButton>

namespace mailsift {

class CAboutDlg : public QDialog {
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace mailsift
