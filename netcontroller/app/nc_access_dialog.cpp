#include "netcontroller/app/nc_access_dialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/widgets/enter_clicks.h"
#include "foundation/widgets/modal_result.h"
#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/password_edit.h"
#include "foundation/widgets/utf8_cut.h"
#include "netcontroller/server/nc_server_settings.h"

namespace ecr::nc {
namespace {

QPushButton* Button(const QString& text, const char* name, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  // Enter in an edit does what that edit says; it never presses a button of its own. Enter
  // on a focused button presses that button.
  button->setAutoDefault(false);
  ClickOnEnter(*button);
  return button;
}

}  // namespace

std::string CutPassword(const QString& text) { return CutToUtf8Bytes(text, kNcPasswordCapacity); }

TfmAccess::TfmAccess(ApplySetPassword applySetPassword, QWidget* parent)
    : QDialog(parent), applySetPassword_(std::move(applySetPassword)) {
  setObjectName(QStringLiteral("fmAccess"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* serverPanel = new QGroupBox(this);
  // What a user types is what the record keeps: no more bytes than its field has.
  eNewPW = NewPasswordEdit(QStringLiteral("eNewPW"), serverPanel, kServerPasswordEditMax, kNcPasswordCapacity);
  eVerify = NewPasswordEdit(QStringLiteral("eVerify"), serverPanel, kServerPasswordEditMax, kNcPasswordCapacity);
  BitBtnOK = Button(tr("OK"), "BitBtnOK", serverPanel);
  BitBtnCancel = Button(tr("Cancel"), "BitBtnCancel", serverPanel);
  auto* serverForm = new QFormLayout;
  serverForm->addRow(tr("Server Password:"), eNewPW);
  serverForm->addRow(tr("Verification:"), eVerify);
  auto* serverButtons = new QHBoxLayout;
  serverButtons->addStretch(1);
  serverButtons->addWidget(BitBtnOK);
  serverButtons->addWidget(BitBtnCancel);
  auto* serverColumn = new QVBoxLayout(serverPanel);
  serverColumn->addLayout(serverForm);
  serverColumn->addLayout(serverButtons);

  auto* setPanel = new QGroupBox(this);
  cbSetNo = new QComboBox(setPanel);
  cbSetNo->setObjectName(QStringLiteral("cbSetNo"));
  for (int set = 1; set <= kNcSetCount; ++set) cbSetNo->addItem(QString::number(set));
  cbSetNo->setCurrentIndex(0);
  eSetPW = NewPasswordEdit(QStringLiteral("eSetPW"), setPanel, kSetPasswordEditMax, kNcPasswordCapacity);
  BitBtnSetPWOK = Button(tr("OK"), "BitBtnSetPWOK", setPanel);
  BitBtnPWCancel = Button(tr("Cancel"), "BitBtnPWCancel", setPanel);
  auto* setForm = new QFormLayout;
  setForm->addRow(tr("Set No:"), cbSetNo);
  setForm->addRow(tr("Set Password:"), eSetPW);
  auto* setButtons = new QHBoxLayout;
  setButtons->addStretch(1);
  setButtons->addWidget(BitBtnSetPWOK);
  setButtons->addWidget(BitBtnPWCancel);
  auto* setColumn = new QVBoxLayout(setPanel);
  setColumn->addLayout(setForm);
  setColumn->addLayout(setButtons);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(serverPanel);
  layout->addWidget(setPanel);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(eNewPW, &QLineEdit::returnPressed, this, [this] { eVerify->setFocus(); });
  connect(eVerify, &QLineEdit::returnPressed, this, [this] { BitBtnOK->setFocus(); });
  connect(eSetPW, &QLineEdit::returnPressed, this, &TfmAccess::ApplySetPasswordClick);
  connect(BitBtnOK, &QPushButton::clicked, this, &TfmAccess::Confirm);
  connect(BitBtnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(BitBtnSetPWOK, &QPushButton::clicked, this, &TfmAccess::ApplySetPasswordClick);
  connect(BitBtnPWCancel, &QPushButton::clicked, eSetPW, &QLineEdit::clear);
  connect(cbSetNo, &QComboBox::currentIndexChanged, eSetPW, &QLineEdit::clear);
}

int TfmAccess::Execute() {
  setWindowTitle(ApplicationTitle());
  return exec() == QDialog::Accepted ? mrOk : mrCancel;
}

void TfmAccess::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  eNewPW->clear();
  eVerify->clear();
  eNewPW->setFocus();
}

void TfmAccess::Confirm() {
  if (eNewPW->text() != eVerify->text()) {
    ShowMsgBox(this, tr("Bad verification!"), kMsgError, QMessageBox::Ok);
    eNewPW->setFocus();
    return;
  }
  accept();
}

void TfmAccess::ApplySetPasswordClick() {
  const int setNo = cbSetNo->currentIndex() + 1;
  if (setNo < 1 || setNo > kNcSetCount || !applySetPassword_) return;
  applySetPassword_(setNo, CutPassword(eSetPW->text()));
}

}  // namespace ecr::nc
