// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/wab/dialogs.h"

#include "platform/wab/property_tags.h"

#if MQ_WAB_HAVE_GUI
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <cstdio>

#include "platform/ui/dialogs.h"
#endif

namespace wab {
namespace {

// The texts the new-contact dialog asks for, in the order shown.
struct NewContactField {
  const char* objectName;
  const char* label;
  ULONG tag;
};
constexpr NewContactField kNewContactFields[] = {
    {"displayName", "Display name", PR_DISPLAY_NAME},
    {"emailAddress", "E-mail address", PR_EMAIL_ADDRESS},
    {"businessPhone", "Business phone", PR_BUSINESS_TELEPHONE_NUMBER},
    {"homePhone", "Home phone", PR_HOME_TELEPHONE_NUMBER},
    {"businessFax", "Business fax", PR_BUSINESS_FAX_NUMBER},
    {"homeFax", "Home fax", PR_HOME_FAX_NUMBER},
    {"pager", "Pager", PR_PAGER_TELEPHONE_NUMBER},
    {"mobile", "Mobile", PR_CELLULAR_TELEPHONE_NUMBER},
    {"personalWebPage", "Personal web page", PR_PERSONAL_HOME_PAGE},
    {"businessWebPage", "Business web page", PR_BUSINESS_HOME_PAGE},
    {"jobTitle", "Job title", PR_TITLE},
    {"department", "Department", PR_DEPARTMENT_NAME},
    {"office", "Office", PR_OFFICE_LOCATION},
    {"company", "Company", PR_COMPANY_NAME},
};
static_assert(sizeof(kNewContactFields) / sizeof(kNewContactFields[0]) == 14);

}  // namespace

#if MQ_WAB_HAVE_GUI

void ShowDetailsDialog(const Contact& contact) {
  if (!ui::GuiAvailable()) return;
  QDialog dialog;
  dialog.setObjectName("contactDetails");
  dialog.setWindowTitle(QString::fromUtf8(contact.DisplayName()) + " Properties");
  auto* form = new QFormLayout;
  for (const MappedProperty& p : contact.properties) {
    const char* label = FieldLabel(p.tag);
    if (!label) continue;
    QString value;
    if (PROP_TYPE(p.tag) == PT_SYSTIME) {
      value = QString::fromStdString(DateText(p.time));
    } else {
      value = QString::fromUtf8(p.text.data(), static_cast<qsizetype>(p.text.size()));
    }
    char name[32];
    std::snprintf(name, sizeof name, "field_%04x", static_cast<unsigned>(PROP_ID(p.tag)));
    QWidget* field;
    if (value.contains('\n')) {
      auto* edit = new QPlainTextEdit(value);
      edit->setReadOnly(true);
      field = edit;
    } else {
      auto* edit = new QLineEdit(value);
      edit->setReadOnly(true);
      edit->setCursorPosition(0);
      field = edit;
    }
    field->setObjectName(name);
    form->addRow(QString::fromUtf8(label), field);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(form);
  layout->addWidget(buttons);
  dialog.setModal(true);
  dialog.exec();
}

std::optional<std::vector<OwnedProperty>> AskNewContact() {
  if (!ui::GuiAvailable()) return std::nullopt;
  QDialog dialog;
  dialog.setObjectName("newContact");
  dialog.setWindowTitle("New Contact");
  auto* form = new QFormLayout;
  std::vector<QLineEdit*> edits;
  for (const NewContactField& f : kNewContactFields) {
    auto* edit = new QLineEdit;
    edit->setObjectName(f.objectName);
    form->addRow(QString::fromUtf8(f.label), edit);
    edits.push_back(edit);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(form);
  layout->addWidget(buttons);
  dialog.setModal(true);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  std::vector<OwnedProperty> entered;
  for (std::size_t i = 0; i < edits.size(); ++i) {
    std::string text = edits[i]->text().trimmed().toStdString();
    if (!text.empty()) entered.push_back({kNewContactFields[i].tag, std::move(text)});
  }
  return entered;
}

#else  // built without the GUI: nothing is ever shown

void ShowDetailsDialog(const Contact&) {}
std::optional<std::vector<OwnedProperty>> AskNewContact() {
  return std::nullopt;
}

#endif

}  // namespace wab
