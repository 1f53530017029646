#include "server_app/ports_dialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <vector>

#include "foundation/widgets/modal_result.h"
#include "foundation/widgets/msg_box.h"
#include "platform/serial_port_names.h"

namespace ecr {
namespace {

constexpr std::array<std::uint16_t, 8> kSpeeds = {1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400};

}  // namespace

TcpPortText ParseTcpPort(const std::string& text, std::uint16_t& port) {
  std::size_t at = 0;
  while (at < text.size() && text[at] == ' ') ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  const std::size_t digits = at;
  unsigned long long value = 0;
  bool huge = false;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + static_cast<unsigned>(text[at] - '0');
    if (value > 0xFFFFFFFFull) huge = true, value = 0xFFFFFFFFull;
  }
  if (at == digits || at != text.size()) return TcpPortText::NotANumber;
  if (huge || (negative && value != 0) || value > 65535) return TcpPortText::OutOfRange;
  port = static_cast<std::uint16_t>(value);
  return TcpPortText::Valid;
}

TfmPorts::TfmPorts(Registry registry, QWidget* parent) : QDialog(parent), registry_(std::move(registry)) {
  setObjectName("fmPorts");
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* comGroup = new QGroupBox(QCoreApplication::translate("TfmPorts", " COM Settings "), this);
  cbSpeed = new QComboBox(comGroup);
  cbSpeed->setObjectName("cbSpeed");
  cbComPort = new QComboBox(comGroup);
  cbComPort->setObjectName("cbComPort");
  auto* comForm = new QFormLayout(comGroup);
  comForm->addRow(QCoreApplication::translate("TfmPorts", "&Speed:"), cbSpeed);
  comForm->addRow(QCoreApplication::translate("TfmPorts", "ComPort:"), cbComPort);

  auto* socketGroup = new QGroupBox(QCoreApplication::translate("TfmPorts", " Socket Settings "), this);
  eIPPort = new QLineEdit(socketGroup);
  eIPPort->setObjectName("eIPPort");
  auto* socketForm = new QFormLayout(socketGroup);
  socketForm->addRow(QCoreApplication::translate("TfmPorts", "&IP Port:"), eIPPort);

  BitBtnOK = new QPushButton(QCoreApplication::translate("TfmPorts", "&OK"), this);
  BitBtnOK->setObjectName("BitBtnOK");
  BitBtnOK->setDefault(true);
  BitBtnCancel = new QPushButton(QCoreApplication::translate("TfmPorts", "&Cancel"), this);
  BitBtnCancel->setObjectName("BitBtnCancel");
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

int TfmPorts::EditPorts(std::uint16_t& speed, std::uint16_t& tcpPort, std::string& portName) {
  setWindowTitle(ApplicationTitle());
  cbSpeed->clear();
  for (std::uint16_t listed : kSpeeds) cbSpeed->addItem(QString::number(listed), listed);
  const bool listedSpeed = std::find(kSpeeds.begin(), kSpeeds.end(), speed) != kSpeeds.end();
  cbSpeed->setCurrentIndex(cbSpeed->findData(listedSpeed ? speed : kDefaultSpeed));

  eIPPort->setText(QString::number(tcpPort));

  std::vector<std::string> ports;
  for (const SerialCommValue& value : ReadSerialComm(registry_)) {
    if (value.data.size() <= kPortNameMax) ports.push_back(value.data);
  }
  std::sort(ports.begin(), ports.end());
  cbComPort->clear();
  for (const std::string& port : ports) cbComPort->addItem(QString::fromStdString(port));
  cbComPort->setCurrentIndex(cbComPort->findText(QString::fromStdString(portName), Qt::MatchExactly));

  if (exec() != QDialog::Accepted) return mrCancel;
  speed = static_cast<std::uint16_t>(cbSpeed->currentData().toUInt());
  std::uint16_t port = tcpPort;
  if (ParseTcpPort(eIPPort->text().toStdString(), port) == TcpPortText::Valid) tcpPort = port;
  portName = cbComPort->currentIndex() < 0 ? std::string() : cbComPort->currentText().toStdString();
  return mrOk;
}

void TfmPorts::Confirm() {
  std::uint16_t port = 0;
  if (ParseTcpPort(eIPPort->text().toStdString(), port) == TcpPortText::OutOfRange) {
    ShowMsgBox(this, QCoreApplication::translate("TfmPorts", "Please, enter valid value for \"IP Port\" !"), kMsgError);
    eIPPort->setFocus();
    return;
  }
  accept();
}

}  // namespace ecr
