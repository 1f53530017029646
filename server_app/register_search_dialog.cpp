#include "server_app/register_search_dialog.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <array>
#include <stdexcept>

#include "foundation/widgets/msg_box.h"
#include "line/simple_com_object.h"
#include "server_app/register_search_engine.h"

namespace ecr {
namespace {

constexpr std::array<const char*, 8> kSpeedTexts = {"1200", "2400", "4800", "9600", "14400", "19200", "28800", "38400"};

// A text read as a number; not a number gives fallback.
int NumberOr(const QString& text, int fallback) {
  bool ok = false;
  const int value = text.toInt(&ok);
  return ok ? value : fallback;
}

// An input check that failed: the text for the error box.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace

TfmEcrSearch::TfmEcrSearch(QWidget* parent)
    : QDialog(parent), LineClass(CommunicationObjectClassOf<TSimpleComObject>()) {
  setObjectName("fmEcrSearch");
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* discovered = new QLabel(QCoreApplication::translate("TfmEcrSearch", "Discovered ECRs:"), this);
  lvECRs = new QTreeWidget(this);
  lvECRs->setObjectName("lvECRs");
  lvECRs->setRootIsDecorated(false);
  lvECRs->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvECRs->setColumnCount(5);
  lvECRs->setHeaderLabels({QString(), QCoreApplication::translate("TfmEcrSearch", "ECR"), QCoreApplication::translate("TfmEcrSearch", "Speed"), QCoreApplication::translate("TfmEcrSearch", "Mode"), QCoreApplication::translate("TfmEcrSearch", "Ser.Num.")});
  lvECRs->header()->setSectionsClickable(false);
  lvECRs->header()->setDefaultAlignment(Qt::AlignCenter);
  lvECRs->header()->setMinimumSectionSize(0);
  const std::array<int, 5> widths = {0, 40, 70, 70, 80};
  for (int column = 0; column < 5; ++column) lvECRs->setColumnWidth(column, widths[static_cast<std::size_t>(column)]);
  lvECRs->setMinimumWidth(290);

  auto* actions = new QLabel(QCoreApplication::translate("TfmEcrSearch", "Actions:"), this);
  mActions = new QPlainTextEdit(this);
  mActions->setObjectName("mActions");
  mActions->setReadOnly(true);
  mActions->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mActions->setLineWrapMode(QPlainTextEdit::NoWrap);

  lblSpeeds = new QLabel(QCoreApplication::translate("TfmEcrSearch", "Speeds:"), this);
  lblSpeeds->setObjectName("lblSpeeds");
  cbSpeeds = new QListWidget(this);
  cbSpeeds->setObjectName("cbSpeeds");
  for (const char* speed : kSpeedTexts) {
    auto* item = new QListWidgetItem(QString::fromLatin1(speed), cbSpeeds);
    item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
    // FormCreate: 4800 and 9600 marked.
    const QString text = item->text();
    item->setCheckState(text == "4800" || text == "9600" ? Qt::Checked : Qt::Unchecked);
  }
  cbSpeeds->setMaximumWidth(110);

  lblFrom = new QLabel(QCoreApplication::translate("TfmEcrSearch", "From ECR:"), this);
  lblFrom->setObjectName("lblFrom");
  eFrom = new QLineEdit("1", this);
  eFrom->setObjectName("eFrom");
  lblTo = new QLabel(QCoreApplication::translate("TfmEcrSearch", "To ECR:"), this);
  lblTo->setObjectName("lblTo");
  eTo = new QLineEdit("8", this);
  eTo->setObjectName("eTo");
  eFrom->setMaximumWidth(60);
  eTo->setMaximumWidth(60);

  btnStartTest = new QPushButton(QCoreApplication::translate("TfmEcrSearch", "Start search"), this);
  btnStartTest->setObjectName("btnStartTest");
  btnStopTest = new QPushButton(QCoreApplication::translate("TfmEcrSearch", "Stop search"), this);
  btnStopTest->setObjectName("btnStopTest");
  btnStopTest->setEnabled(false);
  btnClose = new QPushButton(QCoreApplication::translate("TfmEcrSearch", "&Close"), this);
  btnClose->setObjectName("btnClose");
  for (QPushButton* button : {btnStartTest, btnStopTest, btnClose}) button->setAutoDefault(false);

  auto* left = new QVBoxLayout;
  left->addWidget(discovered);
  left->addWidget(lvECRs, 1);
  left->addWidget(actions);
  left->addWidget(mActions, 1);
  auto* right = new QVBoxLayout;
  right->addWidget(lblSpeeds);
  right->addWidget(cbSpeeds);
  auto* range = new QGridLayout;
  range->addWidget(lblFrom, 0, 0);
  range->addWidget(eFrom, 1, 0);
  range->addWidget(lblTo, 0, 1);
  range->addWidget(eTo, 1, 1);
  right->addLayout(range);
  right->addStretch(1);
  right->addWidget(btnStartTest);
  right->addWidget(btnStopTest);
  right->addWidget(btnClose);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(right);
  resize(520, 420);

  Timer.setInterval(kRefreshMs);
  connect(&Timer, &QTimer::timeout, this, &TfmEcrSearch::RefreshEcrList);
  connect(btnStartTest, &QPushButton::clicked, this, &TfmEcrSearch::btnStartTestClick);
  connect(btnStopTest, &QPushButton::clicked, this, &TfmEcrSearch::StopSearch);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

TfmEcrSearch::~TfmEcrSearch() { StopSearch(); }

void TfmEcrSearch::done(int result) {
  StopSearch();
  QDialog::done(result);
}

void TfmEcrSearch::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  setWindowTitle(QCoreApplication::translate("TfmEcrSearch", "Search for ECRs on %1").arg(QString::fromStdString(PortName)));
}

void TfmEcrSearch::btnStartTestClick() {
  try {
    const int from = NumberOr(eFrom->text(), -1);
    if (from < 1 || from > 99) {
      eFrom->setFocus();
      throw InputError(QCoreApplication::translate("TfmEcrSearch", "Please, enter valid value for \"From ECR\" !").toStdString());
    }
    const int to = NumberOr(eTo->text(), -1);
    if (to < 1 || to > 99) {
      eTo->setFocus();
      throw InputError(QCoreApplication::translate("TfmEcrSearch", "Please, enter valid value for \"To ECR\" !").toStdString());
    }
    if (to < from) throw InputError(QCoreApplication::translate("TfmEcrSearch", "From ECR > To Ecr !").toStdString());
    bool marked = false;
    for (int row = 0; row < cbSpeeds->count(); ++row) marked = marked || cbSpeeds->item(row)->checkState() == Qt::Checked;
    if (!marked) throw InputError(QCoreApplication::translate("TfmEcrSearch", "There is not marked speeds for test !").toStdString());
    try {
      StartSearch();
    } catch (...) {
      StopSearch();
      throw;
    }
  } catch (const std::exception& e) {
    ShowMsgBox(this, QString::fromStdString(e.what()), kMsgError);
  }
}

void TfmEcrSearch::StartSearch() {
  engine_ = std::make_unique<TSearchEngine>();
  engine_->SetLineClass(LineClass);
  engine_->SetNotifyWnd([this] { QMetaObject::invokeMethod(this, &TfmEcrSearch::TakeSearchLog, Qt::QueuedConnection); });
  engine_->SetSearchPort(PortName);
  engine_->SetTimeToLive(kTimeToLive);
  engine_->SetTexts({
      QCoreApplication::translate("TfmEcrSearch", "Testing for ECR %1 at speed %2 ... ").toStdString(),
      QCoreApplication::translate("TfmEcrSearch", "None").toStdString(),
      QCoreApplication::translate("TfmEcrSearch", "Exception !").toStdString(),
      QCoreApplication::translate("TfmEcrSearch", "InLine").toStdString(),
      QCoreApplication::translate("TfmEcrSearch", "OnLine").toStdString(),
  });
  engine_->SetFirstEcr(NumberOr(eFrom->text(), 1));
  engine_->SetLastEcr(NumberOr(eTo->text(), 8));
  for (int row = 0; row < cbSpeeds->count(); ++row) {
    if (cbSpeeds->item(row)->checkState() == Qt::Checked) engine_->Speeds.push_back(cbSpeeds->item(row)->text().toStdString());
  }
  mActions->clear();
  mActions->repaint();
  EnableSearchControls(false);
  engine_->Resume();
  Timer.start();
}

void TfmEcrSearch::StopSearch() {
  Timer.stop();
  if (engine_) {
    engine_->Terminate();
    engine_->WaitFor();
    RefreshEcrList();
    // Lines queued after the last notification was handled would go with the engine.
    TakeSearchLog();
    engine_.reset();
  }
  EnableSearchControls(true);
}

void TfmEcrSearch::RefreshEcrList() {
  if (!engine_) return;
  const std::vector<ListedEcr> listed = engine_->TakeListedResults();
  lvECRs->setUpdatesEnabled(false);
  lvECRs->clear();
  for (const ListedEcr& row : listed) {
    auto* item = new QTreeWidgetItem(lvECRs);
    item->setText(1, QString::number(row.LogNo));
    item->setText(2, QString::number(row.Result.Speed));
    item->setText(3, QString::fromStdString(row.Result.Mode));
    item->setText(4, QString::fromStdString(row.Result.SerialText));
    for (int column = 0; column < 5; ++column) item->setTextAlignment(column, Qt::AlignCenter);
  }
  lvECRs->setUpdatesEnabled(true);
}

void TfmEcrSearch::TakeSearchLog() {
  if (!engine_) return;
  std::string line;
  while (engine_->GetSearchMessage(line)) {
    mActions->setUpdatesEnabled(false);
    QTextDocument* document = mActions->document();
    if (document->blockCount() >= kMemoMaxLines && !document->isEmpty()) {
      QTextCursor first(document->firstBlock());
      first.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
      first.removeSelectedText();
    }
    // The memo's lines are the engine's lines; a line break inside one starts another.
    mActions->appendPlainText(QString::fromStdString(line).replace("\r\n", "\n"));
    mActions->setUpdatesEnabled(true);
  }
  mActions->moveCursor(QTextCursor::End);
  mActions->ensureCursorVisible();
}

void TfmEcrSearch::EnableSearchControls(bool value) {
  for (QWidget* widget : std::initializer_list<QWidget*>{btnStartTest, lblFrom, lblTo, eFrom, eTo, lblSpeeds, cbSpeeds})
    widget->setEnabled(value);
  btnStopTest->setEnabled(!value);
}

}  // namespace ecr
