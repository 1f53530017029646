#include "foundation/widgets/password_dialog.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/widgets/modal_result.h"
#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/password_edit.h"

namespace ecr {

TfmPassword::TfmPassword(QWidget* parent) : QDialog(parent) {
  setWindowTitle(ApplicationTitle());
  auto* prompt = new QLabel(QCoreApplication::translate("TfmPassword", "Enter administrator password:"), this);
  ePassword = NewPasswordEdit(QStringLiteral("ePassword"), this);
  prompt->setBuddy(ePassword);
  BitBtnOK = new QPushButton(QCoreApplication::translate("TfmPassword", "OK"), this);
  BitBtnOK->setObjectName(QStringLiteral("BitBtnOK"));
  BitBtnOK->setDefault(true);
  BitBtnCancel = new QPushButton(QCoreApplication::translate("TfmPassword", "Cancel"), this);
  BitBtnCancel->setObjectName(QStringLiteral("BitBtnCancel"));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BitBtnOK);
  buttons->addWidget(BitBtnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(prompt);
  layout->addWidget(ePassword);
  layout->addLayout(buttons);

  connect(BitBtnOK, &QPushButton::clicked, this, &TfmPassword::Confirm);
  connect(BitBtnCancel, &QPushButton::clicked, this, &TfmPassword::reject);
}

int TfmPassword::AskPassword(const QString& password, std::optional<std::size_t> keptBytes) {
  if (password.isEmpty()) {
    setResult(mrOk);
    return mrOk;
  }
  password_ = password;
  if (keptBytes) LimitToUtf8Bytes(*ePassword, *keptBytes);
  return exec();
}

void TfmPassword::reject() { done(mrCancel); }

void TfmPassword::Confirm() {
  if (ePassword->text() == password_) {
    done(mrOk);
    return;
  }
  ShowMsgBox(this, QCoreApplication::translate("TfmPassword", "Incorrect Password"), kMsgError, QMessageBox::Ok);
  ClearEntry();
}

void TfmPassword::ClearEntry() {
  ePassword->clear();
  ePassword->setFocus();
}

void TfmPassword::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  ClearEntry();
}

void TfmPassword::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) ClearEntry();
}

}  // namespace ecr
