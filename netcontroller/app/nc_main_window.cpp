#include "netcontroller/app/nc_main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMetaObject>
#include <QScreen>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <exception>
#include <utility>

#include "foundation/code_tables.h"
#include "foundation/log_file.h"
#include "foundation/settings_store.h"
#include "foundation/widgets/lang_sel_dialog.h"
#include "foundation/widgets/modal_result.h"
#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/offset_dialog.h"
#include "foundation/widgets/password_dialog.h"
#include "netcontroller/app/nc_about_box.h"
#include "netcontroller/app/nc_access_dialog.h"
#include "netcontroller/app/nc_indicator.h"
#include "netcontroller/app/nc_ports_dialog.h"
#include "netcontroller/app/nc_program_icon.h"
#include "netcontroller/link/net_controller.h"
#include "netcontroller/requests/net_controller_commands.h"
#include "platform/keep_awake.h"
#include "platform/tick_count.h"

namespace ecr::nc {
namespace {

constexpr int kWindowWidth = 356;
constexpr int kWindowHeight = 250;
constexpr std::array<int, 4> kColumnWidths = {53, 64, 58, 156};
constexpr int kRowHeight = 17;
constexpr int kLinkLost = 2;
const QColor kStartedColor(0x00, 0x80, 0x00);
const QColor kStoppedColor(0xFF, 0x00, 0x00);

// A stored code table outside the list serves as the first.
int UsableCodeTable(int index) { return index >= 1 && index <= LontarosCodeTables().Count() ? index : 1; }

QString ModeText(std::uint8_t mode, const QString& unchanged) {
  switch (mode) {
    case 0: return QStringLiteral("Off");
    case 1: return QStringLiteral("InLine");
    case 2: return QStringLiteral("OnLine");
    case 3: return QStringLiteral("Prn");
    default: return unchanged;
  }
}

}  // namespace

TfmSelvaroNT::TfmSelvaroNT(SelvaroParts parts, QWidget* parent)
    : QMainWindow(parent),
      settings_(parts.Settings),
      store_(parts.Store),
      log_(parts.Log),
      titleVersion_(std::move(parts.TitleVersion)),
      helpFile_(std::move(parts.HelpFile)),
      keepAwake_(parts.KeepAwakeEntry),
      title_(QStringLiteral("Lontaros ") + QString::fromStdString(titleVersion_)),
      ipServer_(this),
      nc_(std::make_unique<TNetController>()),
      commands_(std::make_unique<NetControllerCommands>(*nc_)),
      engine_(NcRequestEngineParts{ipServer_, *commands_, settings_, [this] { store_.Save(); }, log_,
                                   [] { return TickCount(); }}),
      ti_(this) {
  setObjectName(QStringLiteral("fmSelvaroNT"));
  setWindowTitle(title_);
  resize(kWindowWidth, kWindowHeight);
  BuildPanels();
  BuildMenus();

  ipServer_.OnDataIn = [this](std::uint16_t id, const std::string& data) {
    engine_.HandleClientMessage(static_cast<std::int16_t>(id), data);
  };
  ipServer_.OnDisconnect = [this](std::uint16_t id) { engine_.ClientDisconnected(static_cast<std::int16_t>(id)); };

  // On the reader thread, before the search starts it.
  nc_->SetLog(log_);
  nc_->OnEcrInLine = [this](TNetController&, int ecr, const std::string& block, std::uint8_t) {
    engine_.HandleEcrInLine(ecr, block);
  };
  nc_->OnInlSended = [this](TNetController&, int ecr, std::uint8_t status) { engine_.HandleInlSended(ecr, status); };
  nc_->OnInlReceived = [this](TNetController&, int ecr, const std::string& answer, std::uint8_t) {
    engine_.HandleInlReceived(ecr, answer);
  };
  nc_->OnOnlReceived = [this](TNetController&, int ecr, const std::string& block, std::uint8_t) {
    engine_.HandleOnlineBlock(ecr, block);
  };
  nc_->OnOnlSended = [this](TNetController&, int ecr, std::uint8_t status) { engine_.HandleOnlSended(ecr, status); };
  nc_->OnError = [this](TNetController&, int ecr, std::uint8_t errC, int extErr) {
    engine_.HandleControllerError(ecr, errC, extErr);
  };

  ti_.OnDblClick = [this](TTrayIcon&) { TIDblClick(); };
  // Some trays report single clicks only (a StatusNotifierItem host, and the panels that
  // show older icons through one): a click brings the hidden window back as the double
  // click does, so that it is reachable on every tray; on a shown window it does nothing.
  ti_.OnClick = [this](TTrayIcon&) {
    if (!closed_ && !isVisible()) TIDblClick();
  };
  // Without a notification area the window is the way into the program: a tray that goes
  // away gives the hidden window back.
  ti_.OnTrayChange = [this](TTrayIcon&) {
    if (!closed_ && ti_.NoNotificationArea() && !isVisible()) TIDblClick();
  };

  tmrDisplay_.setInterval(kDisplayIntervalMs);
  connect(&tmrDisplay_, &QTimer::timeout, this, &TfmSelvaroNT::tmrDisplayTimer);
}

TfmSelvaroNT::~TfmSelvaroNT() {
  // The reader thread ends before the request processing it calls goes away.
  nc_.reset();
  ipServer_.Close();
}

void TfmSelvaroNT::BuildPanels() {
  auto* central = new QWidget(this);
  auto* topPanel = new QWidget(central);
  topPanel->setObjectName(QStringLiteral("pnlTop"));
  shIndicator = new TIndicator(topPanel);
  const auto centredLabel = [topPanel](const char* name) {
    auto* label = new QLabel(topPanel);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignCenter);
    return label;
  };
  lblSettings = centredLabel("lblSettings");
  lblNC = centredLabel("lblNC");
  lblLanguage = centredLabel("lblLanguage");
  auto* labels = new QVBoxLayout;
  labels->setSpacing(0);
  labels->addWidget(lblSettings);
  labels->addWidget(lblNC);
  labels->addWidget(lblLanguage);
  auto* top = new QHBoxLayout(topPanel);
  top->setContentsMargins(4, 2, 4, 2);
  top->addWidget(shIndicator, 0, Qt::AlignVCenter);
  top->addLayout(labels, 1);

  gbServed = new QGroupBox(tr("Served ECRs"), central);
  gbServed->setObjectName(QStringLiteral("gbServed"));
  sgECRs = new QTableWidget(1, static_cast<int>(kColumnWidths.size()), gbServed);
  sgECRs->setObjectName(QStringLiteral("sgECRs"));
  sgECRs->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sgECRs->verticalHeader()->setVisible(false);
  sgECRs->verticalHeader()->setDefaultSectionSize(kRowHeight);
  sgECRs->verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  sgECRs->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  sgECRs->horizontalHeader()->setSectionsMovable(true);
  for (std::size_t column = 0; column < kColumnWidths.size(); ++column) {
    sgECRs->setColumnWidth(static_cast<int>(column), kColumnWidths[column]);
    sgECRs->setHorizontalHeaderItem(static_cast<int>(column), new QTableWidgetItem);
  }
  auto* grid = new QVBoxLayout(gbServed);
  grid->setContentsMargins(4, 4, 4, 4);
  grid->addWidget(sgECRs);

  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(topPanel);
  layout->addWidget(gbServed, 1);
  setCentralWidget(central);
}

void TfmSelvaroNT::BuildMenus() {
  const auto item = [this](QMenu* menu, const QString& text, const char* name, void (TfmSelvaroNT::*handler)()) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, handler);
    return action;
  };
  QMenu* file = menuBar()->addMenu(tr("&File"));
  miSave = item(file, tr("S&ave"), "miSave", &TfmSelvaroNT::SaveSettingsClick);
  file->addSeparator();
  miExit = item(file, tr("E&xit"), "miExit", &TfmSelvaroNT::ExitServClick);
  QMenu* setup = menuBar()->addMenu(tr("&Setup"));
  miPorts = item(setup, tr("&Ports"), "miPorts", &TfmSelvaroNT::PortsClick);
  miAccess = item(setup, tr("&Access"), "miAccess", &TfmSelvaroNT::AccessClick);
  miOffset = item(setup, tr("&Offset"), "miOffset", &TfmSelvaroNT::Offset1Click);
  miCodeTable = item(setup, tr("&Code Table"), "miCodeTable", &TfmSelvaroNT::miLanguageClick);
  QMenu* help = menuBar()->addMenu(tr("&Help"));
  miContents = item(help, tr("&Contents"), "miContents", &TfmSelvaroNT::miContentsClick);
  miAbout = item(help, tr("&About"), "miAbout", &TfmSelvaroNT::AboutClick);
}

bool TfmSelvaroNT::FormCreate() {
  if (const std::optional<std::string> failure = RequestKeepAwake(keepAwake_)) log_.Write(*failure);
  QGuiApplication::setApplicationDisplayName(title_);
  QApplication::setWindowIcon(ProgramIcon());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }

  engine_.WithSettings([this](NcServerSettings&) { store_.Load(); });
  const NcServerSettings settings = SettingsCopy();
  ipServer_.SetLocalPort(settings.IPPort);
  ipServer_.Open();

  nc_->FindController();
  if (nc_->Com() == 0) {
    ShowMsgBox(nullptr, tr("Net Controller not found!"), kMsgError);
    return false;
  }
  if (settings.ComSpeed == TfmPorts::kSpeed4800 || settings.ComSpeed == TfmPorts::kSpeed9600)
    nc_->SetSpeed(settings.ComSpeed);

  engine_.ClearPendingExchangeAndStart();
  sgECRs->setRowCount(1);

  lblSettings->setText(QStringLiteral("Com Port:") + QString::number(nc_->Com(), 16).toUpper() + " " +
                       QStringLiteral("Speed:") + QString::number(settings.ComSpeed) + "  " +
                       QStringLiteral("IP Port:") + QString::number(settings.IPPort));
  ShowCodeTable(settings.CodeTableIndex);
  setWindowTitle(title_);
  lblNC->setText(QStringLiteral("Net Controller ID: ") + QString::fromLatin1(nc_->Id()));
  nc_->SetCodeTable(LontarosCodeTables().Table(UsableCodeTable(settings.CodeTableIndex)));
  nc_->SendStop();

  ti_.SetIcon(QApplication::windowIcon());
  ti_.SetTip(title_);
  ti_.AddIcon();

  firstTick_ = true;
  tmrDisplay_.start();
  log_.Write(title_.toStdString() + " started on COM " + std::to_string(nc_->Com()) + ".");
  return true;
}

void TfmSelvaroNT::ShowCodeTable(int index) {
  lblLanguage->setText(QStringLiteral("Code table: ") +
                       QString::fromStdString(GetCodeTableName(UsableCodeTable(index), LontarosCodeTables())));
}

NcServerSettings TfmSelvaroNT::SettingsCopy() {
  NcServerSettings copy;
  engine_.WithSettings([&copy](NcServerSettings& settings) { copy = settings; });
  return copy;
}

void TfmSelvaroNT::SaveSettings() { engine_.SaveSettings(); }

void TfmSelvaroNT::SelfMessage(int messageId, const std::string& text, bool loopBack) {
  if (!engine_.OnSelfMessage(messageId, text, loopBack)) return;
  // Closed once the message has been handled; the request carried the password, so the
  // close asks nothing, even while a dialog of the menus is open (the process entry ends
  // those dialogs).
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (!closed_ && FormCloseQuery()) emit Closed();
      },
      Qt::QueuedConnection);
}

bool TfmSelvaroNT::AskPassword() {
  TfmPassword dialog(this);
  return dialog.AskPassword(QString::fromStdString(SettingsCopy().ServerPassword.Get()), kNcPasswordCapacity) == mrOk;
}

template <typename Action>
void TfmSelvaroNT::Guarded(Action&& action) {
  if (closed_ || !AskPassword() || closed_) return;
  std::forward<Action>(action)();
}

bool TfmSelvaroNT::FormCloseQuery() {
  SaveSettings();
  if (!engine_.QuitConfirmed() && !sessionEnding_ && !AskPassword()) return false;
  if (closed_) return true;
  closed_ = true;
  log_.Write(title_.toStdString() + " closed by user.");
  nc_->SendStop();
  nc_->SendReset();
  tmrDisplay_.stop();
  ipServer_.Close();
  // The service went on while the prompt showed, and the registers' counters with it; with
  // the clients gone no number reaches anybody any more, so this save holds the last one
  // handed out.
  SaveSettings();
  ti_.RemoveIcon();
  return true;
}

void TfmSelvaroNT::EndSession() {
  if (closed_) return;
  sessionEnding_ = true;
  if (FormCloseQuery()) emit Closed();
}

void TfmSelvaroNT::closeEvent(QCloseEvent* event) {
  if (closed_ || FormCloseQuery()) {
    event->accept();
    emit Closed();
  } else {
    event->ignore();
  }
}

void TfmSelvaroNT::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!closed_) tmrDisplay_.start();
}

void TfmSelvaroNT::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  tmrDisplay_.stop();
}

void TfmSelvaroNT::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // A minimised program lives in the tray only; without a notification area it stays
  // minimised, where the user can find it again.
  if (event->type() == QEvent::WindowStateChange && isMinimized() && !ti_.NoNotificationArea())
    QMetaObject::invokeMethod(this, [this] { if (isMinimized()) hide(); }, Qt::QueuedConnection);
}

void TfmSelvaroNT::tmrDisplayTimer() {
  if (std::exchange(firstTick_, false) && !ti_.NoNotificationArea()) {
    setWindowState(windowState() | Qt::WindowMinimized);
    hide();
    // A window that was never shown gets no hide event; the monitor runs only while shown.
    tmrDisplay_.stop();
    return;
  }
  // Without a notification area the window stays: it is the way into the program, and
  // minimising it is the user's choice.
  UpdateMonitor();
}

void TfmSelvaroNT::UpdateMonitor() {
  try {
    const std::array<QString, 4> header = {QStringLiteral("Log No"), QStringLiteral("Ser No"),
                                           QStringLiteral("Mode"), QStringLiteral("SET:ID")};
    for (std::size_t column = 0; column < header.size(); ++column) {
      SetCell(static_cast<int>(column), 0, header[column]);
      SetCell(static_cast<int>(column), 1, QString());
    }
    shIndicator->SetColor(engine_.ControllerStarted() ? kStartedColor : kStoppedColor);
    const std::vector<MonitorRow> rows = engine_.RefreshMonitor();
    int row = 0;
    for (const MonitorRow& served : rows) {
      ++row;
      if (row + 1 > GridRowCount()) sgECRs->setRowCount(row);
      SetCell(0, row, QString::number(served.Ecr));
      SetCell(1, row, QString::number(served.SerialNumber));
      SetCell(2, row, ModeText(served.Mode, Cell(2, row)));
      SetCell(3, row, QString::fromStdString(served.Sets.substr(0, kSetsColumnLimit)));
    }
    sgECRs->setRowCount(std::max(row, 1));
  } catch (const std::exception& e) {
    log_.Write(std::string("UpdateMonitor: ") + e.what());
  }
  const bool linkLost = nc_->LinkState() == kLinkLost;
  lblSettings->setEnabled(!linkLost);
  lblNC->setEnabled(!linkLost);
}

QString TfmSelvaroNT::Cell(int column, int row) const {
  const QTableWidgetItem* item = row == 0 ? sgECRs->horizontalHeaderItem(column) : sgECRs->item(row - 1, column);
  return item != nullptr ? item->text() : QString();
}

int TfmSelvaroNT::GridRowCount() const { return sgECRs->rowCount() + 1; }

void TfmSelvaroNT::SetCell(int column, int row, const QString& text) {
  if (row == 0) {
    sgECRs->horizontalHeaderItem(column)->setText(text);
    return;
  }
  if (QTableWidgetItem* item = sgECRs->item(row - 1, column)) {
    item->setText(text);
  } else {
    sgECRs->setItem(row - 1, column, new QTableWidgetItem(text));
  }
}

void TfmSelvaroNT::TIDblClick() {
  showNormal();
  raise();
  activateWindow();
  setFocus();
}

void TfmSelvaroNT::SaveSettingsClick() { SaveSettings(); }

void TfmSelvaroNT::ExitServClick() {
  if (closed_) return;
  if (FormCloseQuery()) {
    hide();
    emit Closed();
  }
}

void TfmSelvaroNT::PortsClick() {
  Guarded([this] {
    const NcServerSettings settings = SettingsCopy();
    std::uint16_t speed = settings.ComSpeed;
    std::uint16_t port = settings.IPPort;
    TfmPorts dialog(this);
    const bool confirmed = dialog.Execute(speed, port) == mrOk;
    // The speed shown in place of one the dialog does not offer is kept even after Cancel.
    engine_.WithSettings([&](NcServerSettings& stored) {
      stored.ComSpeed = speed;
      if (confirmed) stored.IPPort = port;
    });
    if (!confirmed) return;
    SaveSettings();
    nc_->SetSpeed(speed);
  });
}

void TfmSelvaroNT::AccessClick() {
  Guarded([this] {
    TfmAccess dialog(
        [this](int setNo, const std::string& password) {
          engine_.WithSettings([&](NcServerSettings& stored) { stored.SetPassword(setNo) = password; });
        },
        this);
    if (dialog.Execute() != mrOk) return;
    const std::string password = CutPassword(dialog.eNewPW->text());
    engine_.WithSettings([&](NcServerSettings& stored) { stored.ServerPassword = password; });
    SaveSettings();
  });
}

void TfmSelvaroNT::Offset1Click() {
  Guarded([this] {
    const std::int32_t shown = SettingsCopy().NextNotifyId;
    std::int32_t nextNotifyId = shown;
    TfmOffset dialog(this);
    // Written back only when the user changed it: the reader thread draws ids while the
    // dialog is open, and the number shown would hand those out again.
    if (dialog.EditOffset(nextNotifyId) == mrOk && nextNotifyId != shown)
      engine_.WithSettings([&](NcServerSettings& stored) { stored.NextNotifyId = nextNotifyId; });
    SaveSettings();
  });
}

void TfmSelvaroNT::miLanguageClick() {
  Guarded([this] {
    int index = UsableCodeTable(SettingsCopy().CodeTableIndex);
    TfmLangSel dialog(LontarosCodeTables(), this);
    if (dialog.SelectCodeTable(index) != mrOk) return;
    engine_.WithSettings([&](NcServerSettings& stored) { stored.CodeTableIndex = index; });
    nc_->SetCodeTable(LontarosCodeTables().Table(UsableCodeTable(index)));
    ShowCodeTable(index);
    SaveSettings();
  });
}

void TfmSelvaroNT::miContentsClick() {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(helpFile_)));
}

void TfmSelvaroNT::AboutClick() {
  TAboutBox box(this);
  box.exec();
}

}  // namespace ecr::nc
