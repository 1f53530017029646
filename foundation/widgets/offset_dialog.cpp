#include "foundation/widgets/offset_dialog.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/widgets/modal_result.h"
#include "foundation/widgets/msg_box.h"

namespace ecr {

std::int32_t OffsetEntryValue(const QString& entry) {
  bool ok = false;
  const int number = entry.trimmed().toInt(&ok, 10);
  return ok ? static_cast<std::int32_t>(number) : 0;
}

TfmOffset::TfmOffset(QWidget* parent) : QDialog(parent) {
  auto* prompt = new QLabel(QCoreApplication::translate("TfmOffset", "Offset:"), this);
  eOffset = new QLineEdit(this);
  eOffset->setObjectName(QStringLiteral("eOffset"));
  prompt->setBuddy(eOffset);
  BitBtnOK = new QPushButton(QCoreApplication::translate("TfmOffset", "OK"), this);
  BitBtnOK->setObjectName(QStringLiteral("BitBtnOK"));
  BitBtnOK->setDefault(true);
  BitBtncancel = new QPushButton(QCoreApplication::translate("TfmOffset", "Cancel"), this);
  BitBtncancel->setObjectName(QStringLiteral("BitBtncancel"));

  auto* entry = new QHBoxLayout;
  entry->addWidget(prompt);
  entry->addWidget(eOffset);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BitBtnOK);
  buttons->addWidget(BitBtncancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(entry);
  layout->addLayout(buttons);

  connect(BitBtnOK, &QPushButton::clicked, this, &TfmOffset::Confirm);
  connect(BitBtncancel, &QPushButton::clicked, this, &TfmOffset::reject);
}

int TfmOffset::EditOffset(std::int32_t& value) {
  eOffset->setText(QString::number(value));
  setWindowTitle(ApplicationTitle());
  value_ = &value;
  const int result = exec();
  value_ = nullptr;
  return result;
}

void TfmOffset::reject() { done(mrCancel); }

void TfmOffset::Confirm() {
  const std::int32_t number = OffsetEntryValue(eOffset->text());
  if (number >= 1 && value_ != nullptr) {
    *value_ = number;
    done(mrOk);
    return;
  }
  ShowMsgBox(this, QCoreApplication::translate("TfmOffset", "Bad number!"), kMsgPlain, QMessageBox::Ok);
  eOffset->setFocus();
}

}  // namespace ecr
