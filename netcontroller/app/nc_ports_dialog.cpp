#include "netcontroller/app/nc_ports_dialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <limits>

#include "foundation/widgets/modal_result.h"
#include "foundation/widgets/msg_box.h"

namespace ecr::nc {

std::optional<std::int32_t> PortEntryNumber(const QString& text) {
  const QString trimmed = text.trimmed();
  qsizetype at = 0;
  bool negative = false;
  if (at < trimmed.size() && (trimmed[at] == u'+' || trimmed[at] == u'-')) negative = trimmed[at++] == u'-';
  if (at == trimmed.size()) return std::nullopt;
  std::int64_t value = 0;
  for (; at < trimmed.size(); ++at) {
    const char16_t c = trimmed[at].unicode();
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
    if (value > static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max() || value < std::numeric_limits<std::int32_t>::min())
    return std::nullopt;
  return static_cast<std::int32_t>(value);
}

TfmPorts::TfmPorts(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("fmPorts"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* comGroup = new QGroupBox(tr("COM Settings"), this);
  cbSpeed = new QComboBox(comGroup);
  cbSpeed->setObjectName(QStringLiteral("cbSpeed"));
  cbSpeed->addItem(QString::number(kSpeed4800));
  cbSpeed->addItem(QString::number(kSpeed9600));
  auto* comForm = new QFormLayout(comGroup);
  auto* speedLabel = new QLabel(tr("&Speed:"), comGroup);
  speedLabel->setBuddy(cbSpeed);
  comForm->addRow(speedLabel, cbSpeed);

  auto* socketGroup = new QGroupBox(tr("Socket Settings"), this);
  eIPPort = new QLineEdit(socketGroup);
  eIPPort->setObjectName(QStringLiteral("eIPPort"));
  auto* socketForm = new QFormLayout(socketGroup);
  auto* portLabel = new QLabel(tr("&IP Port:"), socketGroup);
  portLabel->setBuddy(eIPPort);
  socketForm->addRow(portLabel, eIPPort);

  BitBtnOK = new QPushButton(tr("&OK"), this);
  BitBtnOK->setObjectName(QStringLiteral("BitBtnOK"));
  BitBtnOK->setDefault(true);
  BitBtnCancel = new QPushButton(tr("&Cancel"), this);
  BitBtnCancel->setObjectName(QStringLiteral("BitBtnCancel"));
  BitBtnCancel->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(BitBtnOK);
  buttons->addWidget(BitBtnCancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(comGroup);
  layout->addWidget(socketGroup);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(BitBtnOK, &QPushButton::clicked, this, &TfmPorts::Confirm);
  connect(BitBtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

int TfmPorts::Execute(std::uint16_t& Speed, std::uint16_t& Port) {
  setWindowTitle(ApplicationTitle());
  if (Speed == kSpeed9600) {
    cbSpeed->setCurrentIndex(1);
  } else {
    cbSpeed->setCurrentIndex(0);
    Speed = kSpeed4800;
  }
  eIPPort->setText(QString::number(Port));
  speed_ = &Speed;
  port_ = &Port;
  const int result = exec() == QDialog::Accepted ? mrOk : mrCancel;
  speed_ = nullptr;
  port_ = nullptr;
  return result;
}

void TfmPorts::Confirm() {
  if (speed_ != nullptr) *speed_ = cbSpeed->currentIndex() == 1 ? kSpeed9600 : kSpeed4800;
  if (port_ != nullptr) {
    if (const std::optional<std::int32_t> number = PortEntryNumber(eIPPort->text()))
      *port_ = static_cast<std::uint16_t>(static_cast<std::uint32_t>(*number) & 0xFFFFu);
  }
  accept();
}

}  // namespace ecr::nc
