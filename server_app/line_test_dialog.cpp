#include "server_app/line_test_dialog.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <string>

#include "foundation/widgets/msg_box.h"
#include "line/simple_com_object.h"
#include "server_app/accept_short_block.h"
#include "server_app/line_test_engine.h"

namespace ecr {
namespace {

QLabel* CounterPanel(const char* name, const QColor& colour, QWidget* parent) {
  auto* panel = new QLabel("0", parent);
  panel->setObjectName(name);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  panel->setMinimumWidth(90);
  QFont font = panel->font();
  font.setBold(true);
  panel->setFont(font);
  QPalette palette = panel->palette();
  palette.setColor(QPalette::WindowText, colour);
  panel->setPalette(palette);
  return panel;
}

}  // namespace

TfmTestLine::TfmTestLine(QWidget* parent)
    : QDialog(parent), LineClass(CommunicationObjectClassOf<TSimpleComObject>()) {
  setObjectName("fmTestLine");
  setWindowTitle(QCoreApplication::translate("TfmTestLine", "Test line"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* config = new QGroupBox(QCoreApplication::translate("TfmTestLine", " Config "), this);
  eECR = new QLineEdit("1", config);
  eECR->setObjectName("eECR");
  eECR->setMaximumWidth(60);
  lblInfo = new QLabel(config);
  lblInfo->setObjectName("lblInfo");
  auto* configForm = new QFormLayout(config);
  configForm->addRow(QCoreApplication::translate("TfmTestLine", "ECR logical number:"), eECR);
  configForm->addRow(lblInfo);

  auto* results = new QGroupBox(QCoreApplication::translate("TfmTestLine", " Results "), this);
  pnlSndBlocks = CounterPanel("pnlSndBlocks", Qt::black, results);
  pnlRcvBlocks = CounterPanel("pnlRcvBlocks", Qt::black, results);
  pnlCRC_Errors = CounterPanel("pnlCRC_Errors", Qt::red, results);
  pnlByteTimeOut_Errors = CounterPanel("pnlByteTimeOut_Errors", Qt::red, results);
  pnlTimeOut_Errors = CounterPanel("pnlTimeOut_Errors", QColor(128, 0, 128), results);
  auto* resultForm = new QFormLayout(results);
  resultForm->addRow(QCoreApplication::translate("TfmTestLine", "Sended blocks:"), pnlSndBlocks);
  resultForm->addRow(QCoreApplication::translate("TfmTestLine", "Received blocks:"), pnlRcvBlocks);
  resultForm->addRow(QCoreApplication::translate("TfmTestLine", "CRC errors:"), pnlCRC_Errors);
  resultForm->addRow(QCoreApplication::translate("TfmTestLine", "Byte timeout errors:"), pnlByteTimeOut_Errors);
  resultForm->addRow(QCoreApplication::translate("TfmTestLine", "Timeout errors:"), pnlTimeOut_Errors);

  btnStartTest = new QPushButton(QCoreApplication::translate("TfmTestLine", "&Start test"), this);
  btnStartTest->setObjectName("btnStartTest");
  btnStopTest = new QPushButton(QCoreApplication::translate("TfmTestLine", "&Stop test"), this);
  btnStopTest->setObjectName("btnStopTest");
  btnStopTest->setEnabled(false);
  btnClose = new QPushButton(QCoreApplication::translate("TfmTestLine", "&Close"), this);
  btnClose->setObjectName("btnClose");
  for (QPushButton* button : {btnStartTest, btnStopTest, btnClose}) button->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnStartTest);
  buttons->addWidget(btnStopTest);
  buttons->addStretch(1);
  buttons->addWidget(btnClose);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(config);
  layout->addWidget(results);
  layout->addLayout(buttons);
  // A fixed border: the dialog keeps the size of its layout.
  layout->setSizeConstraint(QLayout::SetFixedSize);

  Timer.setInterval(kRefreshMs);
  connect(&Timer, &QTimer::timeout, this, &TfmTestLine::ShowCounters);
  connect(btnStartTest, &QPushButton::clicked, this, &TfmTestLine::btnStartTestClick);
  connect(btnStopTest, &QPushButton::clicked, this, &TfmTestLine::StopTest);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

TfmTestLine::~TfmTestLine() { StopTest(); }

void TfmTestLine::done(int result) {
  StopTest();
  QDialog::done(result);
}

void TfmTestLine::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  ResetTestCounters();
  lblInfo->setText(QCoreApplication::translate("TfmTestLine", "port: %1  speed: %2").arg(QString::fromStdString(PortName)).arg(Speed));
}

void TfmTestLine::btnStartTestClick() {
  bool ok = false;
  int ecrNo = eECR->text().toInt(&ok);
  if (!ok) ecrNo = -1;
  if (ecrNo < 1 || ecrNo > 99) {
    eECR->setFocus();
    ShowMsgBox(this, QCoreApplication::translate("TfmTestLine", "Please, enter valid value for \"ECR\" !"), kMsgError);
    return;
  }
  StartTest();
}

void TfmTestLine::StartTest() {
  // A test already running keeps its line: a second start would open the port twice.
  if (engine_) return;
  com_ = LineClass();
  com_->PortName = PortName;
  com_->SetBaudRate(static_cast<std::uint32_t>(Speed));
  // A register's own message is refused and stays unacknowledged for the real server.
  com_->OnTakeBlock = AcceptShortBlock;
  engine_ = std::make_unique<TTestEngine>();
  engine_->Com = com_.get();
  engine_->EcrNo = eECR->text().toInt();
  engine_->Resume();
  EnableTestButtons(false);
}

void TfmTestLine::StopTest() {
  if (!engine_) return;
  EnableTestButtons(true);
  engine_->Terminate();
  engine_->WaitFor();
  ShowCounters();
  engine_.reset();
  com_.reset();
}

void TfmTestLine::ResetTestCounters() {
  for (QLabel* panel : {pnlSndBlocks, pnlRcvBlocks, pnlCRC_Errors, pnlByteTimeOut_Errors, pnlTimeOut_Errors})
    panel->setText("0");
}

void TfmTestLine::EnableTestButtons(bool value) {
  btnStartTest->setEnabled(value);
  btnStopTest->setEnabled(!value);
  if (value) {
    Timer.stop();
  } else {
    Timer.start();
  }
}

void TfmTestLine::ShowCounters() {
  if (!engine_) return;
  pnlSndBlocks->setText(QString::number(engine_->SentBlocks()));
  pnlRcvBlocks->setText(QString::number(engine_->ReceivedBlocks()));
  pnlCRC_Errors->setText(QString::number(engine_->CrcErrors()));
  pnlByteTimeOut_Errors->setText(QString::number(engine_->ByteTimeoutErrors()));
  pnlTimeOut_Errors->setText(QString::number(engine_->TimeoutErrors()));
}

}  // namespace ecr
