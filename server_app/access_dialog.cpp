#include "server_app/access_dialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <functional>
#include <string>

#include "foundation/widgets/enter_clicks.h"
#include "foundation/widgets/modal_result.h"
#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/password_edit.h"
#include "foundation/widgets/utf8_cut.h"
#include "server/commands.h"
#include "server/server_settings.h"

namespace ecr {
namespace {

constexpr int kAdminPasswordEditMax = 16;
constexpr int kSetPasswordEditMax = 20;
constexpr int kSubscriberItem = 254;

// Enter in an edit moves on instead of closing the dialog.
void OnEnter(QLineEdit* edit, QObject* context, std::function<void()> action) {
  QObject::connect(edit, &QLineEdit::returnPressed, context, std::move(action));
}

}  // namespace

std::string CutPassword(const QString& text) { return CutToUtf8Bytes(text, kPasswordCapacity); }

TfmAccess::TfmAccess(ServerSettings& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
  setObjectName("fmAccess");
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* serverPanel = new QGroupBox(this);
  // What a user types is what the record keeps: no more bytes than its field has.
  eNewPW = NewPasswordEdit("eNewPW", serverPanel, kAdminPasswordEditMax, kPasswordCapacity);
  eVerify = NewPasswordEdit("eVerify", serverPanel, kAdminPasswordEditMax, kPasswordCapacity);
  BitBtnOK = new QPushButton(QCoreApplication::translate("TfmAccess", "OK"), serverPanel);
  BitBtnOK->setObjectName("BitBtnOK");
  BitBtnCancel = new QPushButton(QCoreApplication::translate("TfmAccess", "Cancel"), serverPanel);
  BitBtnCancel->setObjectName("BitBtnCancel");
  auto* serverForm = new QFormLayout;
  serverForm->addRow(QCoreApplication::translate("TfmAccess", "Server Password:"), eNewPW);
  serverForm->addRow(QCoreApplication::translate("TfmAccess", "Verification:"), eVerify);
  auto* serverButtons = new QHBoxLayout;
  serverButtons->addStretch(1);
  serverButtons->addWidget(BitBtnOK);
  serverButtons->addWidget(BitBtnCancel);
  auto* serverColumn = new QVBoxLayout(serverPanel);
  serverColumn->addLayout(serverForm);
  serverColumn->addLayout(serverButtons);

  auto* setPanel = new QGroupBox(this);
  cbSetNo = new QComboBox(setPanel);
  cbSetNo->setObjectName("cbSetNo");
  for (int set = 1; set <= kSetCount; ++set) cbSetNo->addItem(QString::number(set), set);
  cbSetNo->addItem(QString::number(kSubscriberItem), kSubscriberItem);
  cbSetNo->setCurrentIndex(0);
  eSetPW = NewPasswordEdit("eSetPW", setPanel, kSetPasswordEditMax, kPasswordCapacity);
  BitBtnSetPWOK = new QPushButton(QCoreApplication::translate("TfmAccess", "Apply SET password"), setPanel);
  BitBtnSetPWOK->setObjectName("BitBtnSetPWOK");
  auto* setForm = new QFormLayout(setPanel);
  setForm->addRow(QCoreApplication::translate("TfmAccess", "SET No:"), cbSetNo);
  setForm->addRow(QCoreApplication::translate("TfmAccess", "SET Password:"), eSetPW);
  setForm->addRow(QString(), BitBtnSetPWOK);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(serverPanel);
  layout->addWidget(setPanel);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // No button is the default: Enter in an edit does what the edit says, not OK; Enter on a
  // focused button presses that button.
  for (QPushButton* button : {BitBtnOK, BitBtnCancel, BitBtnSetPWOK}) {
    button->setAutoDefault(false);
    ClickOnEnter(*button);
  }
  OnEnter(eNewPW, this, [this] { eVerify->setFocus(); });
  OnEnter(eVerify, this, [this] { BitBtnOK->setFocus(); });
  OnEnter(eSetPW, this, [this] { ApplySetPassword(); });
  connect(BitBtnOK, &QPushButton::clicked, this, &TfmAccess::Confirm);
  connect(BitBtnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(BitBtnSetPWOK, &QPushButton::clicked, this, &TfmAccess::ApplySetPassword);
  connect(cbSetNo, &QComboBox::currentIndexChanged, this, [this] { eSetPW->clear(); });
}

int TfmAccess::EditAccess() {
  setWindowTitle(ApplicationTitle());
  return exec() == QDialog::Accepted ? mrOk : mrCancel;
}

QString TfmAccess::NewPassword() const { return eNewPW->text(); }

void TfmAccess::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  eNewPW->clear();
  eVerify->clear();
  eNewPW->setFocus();
}

void TfmAccess::Confirm() {
  if (eNewPW->text() != eVerify->text()) {
    ShowMsgBox(this, QCoreApplication::translate("TfmAccess", "Bad verification!"), kMsgError);
    eNewPW->setFocus();
    return;
  }
  accept();
}

void TfmAccess::ApplySetPassword() {
  const std::string password = CutPassword(eSetPW->text());
  const int item = cbSetNo->currentData().toInt();
  if (item == kSubscriberItem) {
    settings_.SubscriberPassword = password;
  } else if (item >= 1 && item <= kSetCount) {
    settings_.SetPassword(item) = password;
  }
}

}  // namespace ecr
