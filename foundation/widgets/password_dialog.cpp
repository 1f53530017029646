#include "foundation/widgets/password_dialog.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/widgets/modal_result.h"
#include "foundation/widgets/msg_box.h"

namespace ecr {
namespace {

// Shows every character of the entry as "*", whatever the platform's style prefers.
class StarPasswordStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

}  // namespace

TfmPassword::TfmPassword(QWidget* parent) : QDialog(parent) {
  setWindowTitle(ApplicationTitle());
  auto* prompt = new QLabel(QCoreApplication::translate("TfmPassword", "Enter administrator password:"), this);
  ePassword = new QLineEdit(this);
  ePassword->setObjectName(QStringLiteral("ePassword"));
  ePassword->setEchoMode(QLineEdit::Password);
  auto* style = new StarPasswordStyle;
  style->setParent(this);
  ePassword->setStyle(style);
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

int TfmPassword::AskPassword(const QString& password) {
  if (password.isEmpty()) {
    setResult(mrOk);
    return mrOk;
  }
  password_ = password;
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
