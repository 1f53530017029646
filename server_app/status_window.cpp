#include "server_app/status_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <array>
#include <cstdio>
#include <exception>
#include <vector>

#include "foundation/log_file.h"
#include "foundation/widgets/contact_panels.h"
#include "foundation/widgets/msg_box.h"
#include "server/commands.h"
#include "server/ecr_records.h"
#include "server/request_engine.h"

namespace ecr {
namespace {

QString Tr(const char* text) { return QCoreApplication::translate("TfmSelvaroStatus", text); }

constexpr std::array<const char*, 4> kHeaders = {
    QT_TRANSLATE_NOOP("TfmSelvaroStatus", "Log No"), QT_TRANSLATE_NOOP("TfmSelvaroStatus", "Ser No"),
    QT_TRANSLATE_NOOP("TfmSelvaroStatus", "Mode"), QT_TRANSLATE_NOOP("TfmSelvaroStatus", "SET:ID")};
constexpr std::array<int, 4> kColumnWidths = {53, 64, 58, 156};
constexpr std::array<const char*, 4> kModeTexts = {
    QT_TRANSLATE_NOOP("TfmSelvaroStatus", "Off"), QT_TRANSLATE_NOOP("TfmSelvaroStatus", "InLine"),
    QT_TRANSLATE_NOOP("TfmSelvaroStatus", "OnLine"), QT_TRANSLATE_NOOP("TfmSelvaroStatus", "Prn")};
constexpr int kRowHeight = 17;

const QColor kPollingColour(0, 128, 0);
const QColor kStoppedColour(255, 0, 0);

struct MonitorRow {
  int logNo = 0;
  std::int32_t serialNumber = 0;
  int mode = 0;
  std::string owners;
};

QString SerialText(std::int32_t serialNumber) {
  char text[16];
  std::snprintf(text, sizeof text, "%6.6d", static_cast<int>(serialNumber));
  return QString::fromLatin1(text);
}

QLabel* CentredLabel(const char* name, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setAlignment(Qt::AlignCenter);
  return label;
}

}  // namespace

std::string SetOwnersText(const TEcr& ecr) {
  std::string text;
  for (int set = 1; set <= kSetCount; ++set) {
    const std::int16_t owner = ecr.Set(set).ClientId;
    if (owner != 0) text += std::to_string(set) + ":" + std::to_string(owner) + ";";
  }
  if (text.size() > TfmSelvaroStatus::kSetOwnersMax) text.resize(TfmSelvaroStatus::kSetOwnersMax);
  return text;
}

StatusIndicator::StatusIndicator(QWidget* parent) : QWidget(parent), colour_(kStoppedColour) {
  setFixedSize(20, 20);
}

void StatusIndicator::SetColour(const QColor& colour) {
  if (colour == colour_) return;
  colour_ = colour;
  update();
}

void StatusIndicator::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(colour_);
  painter.setPen(Qt::black);
  painter.drawEllipse(rect().adjusted(1, 1, -2, -2));
}

TfmSelvaroStatus::TfmSelvaroStatus(QWidget* parent) : QWidget(parent) {
  setObjectName("fmSelvaroStatus");
  // FormCreate: caption and product name are the application title.
  setWindowTitle(ApplicationTitle());

  pgcStatusScreen = new QTabWidget(this);
  pgcStatusScreen->setObjectName("pgcStatusScreen");
  tabStatus = new QWidget;
  tabStatus->setObjectName("tabStatus");
  tabAbout = new QWidget;
  tabAbout->setObjectName("tabAbout");
  pgcStatusScreen->addTab(tabStatus, QCoreApplication::translate("TfmSelvaroStatus", "Status"));
  pgcStatusScreen->addTab(tabAbout, QCoreApplication::translate("TfmSelvaroStatus", "Support"));

  shIndicator = new StatusIndicator(tabStatus);
  shIndicator->setObjectName("shIndicator");
  lblSettings = CentredLabel("lblSettings", tabStatus);
  lblLanguage = CentredLabel("lblLanguage", tabStatus);
  lblInfo = new QLabel(tabStatus);
  lblInfo->setObjectName("lblInfo");
  lblInfo->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QPalette infoPalette = lblInfo->palette();
  infoPalette.setColor(QPalette::WindowText, QColor(128, 0, 128));
  lblInfo->setPalette(infoPalette);
  lblInfo->clear();

  auto* topPanel = new QHBoxLayout;
  topPanel->addWidget(shIndicator);
  auto* texts = new QVBoxLayout;
  texts->addWidget(lblSettings);
  texts->addWidget(lblLanguage);
  topPanel->addLayout(texts, 1);
  topPanel->addWidget(lblInfo);

  auto* served = new QLabel(QCoreApplication::translate("TfmSelvaroStatus", "Served ECRs"), tabStatus);
  served->setObjectName("lblServedEcrs");
  sgECRs = new QTableWidget(1, 4, tabStatus);
  sgECRs->setObjectName("sgECRs");
  sgECRs->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sgECRs->setSelectionMode(QAbstractItemView::NoSelection);
  sgECRs->verticalHeader()->hide();
  sgECRs->verticalHeader()->setDefaultSectionSize(kRowHeight);
  sgECRs->horizontalHeader()->setSectionsClickable(false);
  int gridWidth = 0;
  for (int column = 0; column < 4; ++column) {
    sgECRs->setColumnWidth(column, kColumnWidths[static_cast<std::size_t>(column)]);
    gridWidth += kColumnWidths[static_cast<std::size_t>(column)];
  }
  sgECRs->setMinimumSize(gridWidth + 2 * sgECRs->frameWidth() + sgECRs->style()->pixelMetric(QStyle::PM_ScrollBarExtent),
                         8 * kRowHeight);

  auto* statusPage = new QVBoxLayout(tabStatus);
  statusPage->addLayout(topPanel);
  statusPage->addWidget(served);
  statusPage->addWidget(sgECRs, 1);

  ProdName = new QLabel(ApplicationTitle(), tabAbout);
  ProdName->setObjectName("ProdName");
  QFont productFont = ProdName->font();
  productFont.setBold(true);
  productFont.setPointSize(productFont.pointSize() + 4);
  ProdName->setFont(productFont);
  Img = new QLabel(tabAbout);
  Img->setObjectName("Img");
  Img->setPixmap(QApplication::windowIcon().pixmap(32, 32));
  auto* aboutPage = new QVBoxLayout(tabAbout);
  auto* productRow = new QHBoxLayout;
  productRow->addWidget(Img);
  productRow->addWidget(ProdName, 1);
  aboutPage->addLayout(productRow);
  aboutPage->addWidget(new TfrCompanyInfoKv(tabAbout));
  aboutPage->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pgcStatusScreen);

  tmrDisplay.setInterval(kRefreshMs);
  tmrDisplay.stop();
  connect(&tmrDisplay, &QTimer::timeout, this, &TfmSelvaroStatus::UpdateMonitor);
  UpdateMonitor();
}

void TfmSelvaroStatus::SetTexts(const StatusTexts& texts) {
  sgECRs->setRowCount(std::max(1, texts.rowCount - 1));
  lblSettings->setText(QString::fromStdString(texts.settings));
  lblInfo->setText(QString::fromStdString(texts.info));
  lblLanguage->setText(QString::fromStdString(texts.language));
}

void TfmSelvaroStatus::SetCell(int row, int column, const QString& text) {
  QTableWidgetItem* item = sgECRs->item(row, column);
  if (item == nullptr) {
    item = new QTableWidgetItem;
    item->setTextAlignment(Qt::AlignLeft | Qt::AlignTop);
    sgECRs->setItem(row, column, item);
  }
  item->setText(text);
}

void TfmSelvaroStatus::UpdateMonitor() {
  try {
    QStringList headers;
    for (const char* header : kHeaders) headers << Tr(header);
    sgECRs->setHorizontalHeaderLabels(headers);
    if (sgECRs->rowCount() < 1) sgECRs->setRowCount(1);
    for (int column = 0; column < 4; ++column) SetCell(0, column, QString());

    bool polling = false;
    std::vector<MonitorRow> rows;
    if (engine_ != nullptr) {
      // One pass under the engine's lock: the polling thread writes the same counters.
      engine_->WithContext([&](ExchangeContext& context) {
        polling = context.PollingActive != 0;
        for (int logNo = 1; logNo <= kEcrCount; ++logNo) {
          const TEcr& ecr = context.EcrTable.At(logNo);
          if (ecr.UseCount == 0) continue;
          EcrSettings& counters = context.Settings().Ecr(logNo);
          if (counters.KeepAlive > 0) {
            counters.KeepAlive = static_cast<std::uint8_t>(counters.KeepAlive - 1);
          } else {
            counters.Mode = EcrModeOff;
          }
          rows.push_back({logNo, counters.SerialNumber, counters.Mode, SetOwnersText(ecr)});
        }
      });
    }
    shIndicator->SetColour(polling ? kPollingColour : kStoppedColour);

    for (std::size_t i = 0; i < rows.size(); ++i) {
      const int row = static_cast<int>(i);
      if (sgECRs->rowCount() <= row) sgECRs->setRowCount(row + 1);
      SetCell(row, 0, QString::number(rows[i].logNo));
      SetCell(row, 1, SerialText(rows[i].serialNumber));
      // A mode outside the table leaves the cell as it was.
      if (rows[i].mode >= 0 && rows[i].mode < static_cast<int>(kModeTexts.size()))
        SetCell(row, 2, Tr(kModeTexts[static_cast<std::size_t>(rows[i].mode)]));
      SetCell(row, 3, QString::fromStdString(rows[i].owners));
    }
    sgECRs->setRowCount(std::max<int>(1, static_cast<int>(rows.size())));
  } catch (const std::exception& e) {
    LogWrite(std::string("UpdateMonitor: ") + e.what());
  }
}

void TfmSelvaroStatus::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  pgcStatusScreen->setCurrentWidget(tabStatus);
  UpdateMonitor();
  tmrDisplay.start();
}

void TfmSelvaroStatus::hideEvent(QHideEvent* event) {
  tmrDisplay.stop();
  QWidget::hideEvent(event);
}

}  // namespace ecr
