#include "server_app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMetaObject>

#include <exception>
#include <utility>

#include "foundation/code_tables.h"
#include "foundation/log_file.h"
#include "foundation/utf8_bytes.h"
#include "server_app/client_event_errors.h"
#include "server_app/menu_glyphs.h"
#include "server_app/server_options.h"
#include "server_app/server_startup.h"

namespace ecr {
namespace {

// Clears a flag when the scope ends, whatever way it ends.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

void LogLine(const std::string& text) { LogWrite(text); }

}  // namespace

TfmMain::TfmMain(MainWindowParts parts)
    : settings_(parts.settings),
      store_(parts.store),
      saver_(parts.store),
      iniFile_(std::move(parts.iniPath)),
      versionText_(std::move(parts.versionText)),
      title_(QString::fromStdString(MakeApplicationTitle(versionText_))),
      userDefaultLangId_(parts.userDefaultLangId),
      pollingFactory_(std::move(parts.pollingFactory)),
      windows_(parts.windows),
      engine_(settings_, saver_, versionText_, LogLine),
      ipServer_(),
      menu_(QString::fromUtf8(kProductCaption.data(), static_cast<int>(kProductCaption.size()))),
      tray_() {
  setObjectName("fmMain");
  setWindowTitle(title_);
  // The window is never shown: the program lives in the tray.
  setAttribute(Qt::WA_DontShowOnScreen);
  setFocusPolicy(Qt::StrongFocus);

  ipServer_.OnConnect = [this](std::uint16_t) { engine_.ClientConnected(); };
  ipServer_.OnDataIn = [this](std::uint16_t id, const std::string& data) {
    engine_.DispatchRequest(ipServer_, polling_ ? &polling_->Control() : nullptr, id, data);
  };
  ipServer_.OnDisconnect = [this](std::uint16_t id) {
    engine_.ClientDisconnected(ipServer_, polling_ ? &polling_->Control() : nullptr, id);
  };
  BindClientEventErrors(ipServer_, ProcessLog());
  engine_.SetCloseMainWindow([this] {
    // Called by the engine outside its lock, inside an instance message: close once the
    // message has been handled. The request carried the password, so it closes even while
    // a prompt or dialog of the menu is open (the process entry ends those windows).
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (!closed_ && FormCloseQuery()) emit Closed();
        },
        Qt::QueuedConnection);
  });

  connect(&menu_, &ServerMenu::Triggered, this, &TfmMain::OnMenuItem);
  connect(&menu_.Menu(), &QMenu::aboutToShow, this, [this] { setFocus(); });  // PopupMenuPopup
  connect(&tray_, &TrayIcon::Clicked, this, &TfmMain::TrayIconClick);
  connect(&tray_, &TrayIcon::DoubleClicked, this, &TfmMain::TrayIconDblClick);
}

TfmMain::~TfmMain() {
  // FormDestroy: the polling thread ends before anything it reaches goes away.
  polling_.reset();
  ipServer_.Close();
}

void TfmMain::FormCreate() {
  QGuiApplication::setApplicationDisplayName(title_);
  // The program's own icon: the windows' frames and the status window's support page.
  QApplication::setWindowIcon(TrayImage(kTrayImageRunning));
  LogWrite(title_.toStdString() + " executed.");
  dialogOpen_ = false;
  LoadOptions();
  ResetServerState();
  tray_.SetImage(kTrayImageStopped);
  tray_.SetHint(title_);
  tray_.Show();
  EnableSettingsMenus(true);
  try {
    StartServer();
  } catch (const std::exception& e) {
    windows_.ShowError(e.what());
  }
}

void TfmMain::LoadOptions() {
  const ServerOptions options = ::ecr::LoadOptions(iniFile_, userDefaultLangId_);
  languageId_ = options.LanguageID;
  codeTableIndex_ = options.CodeTableIndex;
  oldFpMode_ = options.OldFPMode;
}

void TfmMain::SaveLanguageId() { ::ecr::SaveLanguageId(iniFile_, languageId_); }

void TfmMain::StartServer() {
  try {
    LoadOptions();
    engine_.SetOldFPMode(oldFpMode_);
    engine_.UpdateSettings([this](ServerSettings&) { store_.Load(); });
    ipServer_.SetLocalPort(settings_.IPPort);
    ipServer_.Open();
    PollingStart start;
    start.comPort = settings_.ComPort.Get();
    start.comSpeed = settings_.ComSpeed;
    start.codeTable = HarbendixCodeTables().Table(codeTableIndex_);
    polling_ = pollingFactory_(start, engine_, ipServer_);
    status_.rowCount = 2;
    const auto text = [](const char* source) { return QCoreApplication::translate("TfmMain", source).toStdString(); };
    status_.settings = text(QT_TRANSLATE_NOOP("TfmMain", "Port: ")) + settings_.ComPort.Get() + " " +
                       text(QT_TRANSLATE_NOOP("TfmMain", "Speed: ")) + std::to_string(settings_.ComSpeed) + "  " +
                       text(QT_TRANSLATE_NOOP("TfmMain", "IP Port: ")) + std::to_string(settings_.IPPort);
    status_.info = oldFpMode_ ? text(QT_TRANSLATE_NOOP("TfmMain", "Old FP")) : "";
    status_.language = CodeTableText();
    PushStatus();
    menu_.ShowServiceRunning(true);
    EnableSettingsMenus(false);
    LogWrite(title_.toStdString() + " started on " + polling_->PortName() + ".");
  } catch (...) {
    StopServer();
    throw;
  }
}

void TfmMain::StopServer() {
  const bool served = polling_ != nullptr;
  polling_.reset();
  ipServer_.Close();
  // The register counters moved while the line was polled; the next start loads the file
  // over the record, and a restart must never hand out a notification id or sequence
  // number again.
  if (served) SaveSettings();
  ResetServerState();
  menu_.ShowServiceRunning(false);
  EnableSettingsMenus(true);
  LogWrite(title_.toStdString() + " stopped.");
}

void TfmMain::ResetServerState() {
  engine_.ResetServerState();
  status_.rowCount = 2;
  status_.settings = QCoreApplication::translate("TfmMain", "Server STOPPED").toStdString();
  status_.language = CodeTableText();
  PushStatus();
}

void TfmMain::EnableSettingsMenus(bool value) {
  menu_.EnableSettingsMenus(value);
  tray_.SetImage(value ? kTrayImageStopped : kTrayImageRunning);
}

std::string TfmMain::CodeTableText() const {
  return QCoreApplication::translate("TfmMain", "Code table: ").toStdString() + GetCodeTableName(codeTableIndex_);
}

void TfmMain::PushStatus() { windows_.UpdateStatus(status_); }

void TfmMain::SaveSettings() {
  engine_.UpdateSettings([this](ServerSettings&) { store_.Save(); });
}

void TfmMain::BringToFront() {
  QWidget* front = QApplication::activeModalWidget();
  if (front == nullptr) front = QApplication::activeWindow();
  if (front == nullptr) return;
  front->raise();
  front->activateWindow();
}

template <typename Action>
void TfmMain::Guarded(Action&& action) {
  if (passwordDialogOpen_) {
    BringToFront();
    return;
  }
  const FlagScope prompt(passwordDialogOpen_);
  if (!windows_.AskPassword(settings_.AdminPassword.Get())) return;
  std::forward<Action>(action)();
}

template <typename Dialog>
void TfmMain::WithDialogOpen(Dialog&& dialog) {
  const FlagScope open(dialogOpen_);
  std::forward<Dialog>(dialog)();
}

void TfmMain::miAccessClick() {
  Guarded([this] {
    std::string newPassword;
    bool confirmed = false;
    WithDialogOpen([&] { confirmed = windows_.EditAccess(settings_, newPassword); });
    if (!confirmed) return;
    settings_.AdminPassword = CutUtf8ToBytes(newPassword, kPasswordCapacity);
    SaveSettings();
  });
}

void TfmMain::miOffsetClick() {
  Guarded([this] {
    std::int32_t nextNotifyId = settings_.NextNotifyId;
    WithDialogOpen([&] { windows_.EditOffset(nextNotifyId); });
    settings_.NextNotifyId = nextNotifyId;
    SaveSettings();
  });
}

void TfmMain::miPortsClick() {
  Guarded([this] {
    WithDialogOpen([&] { windows_.EditPorts(settings_); });
    SaveSettings();
  });
}

void TfmMain::miCodeTableClick() {
  Guarded([this] {
    int index = codeTableIndex_;
    bool changed = false;
    WithDialogOpen([&] { changed = windows_.SelectCodeTable(index); });
    if (!changed || index < 1 || index > HarbendixCodeTables().Count()) return;
    codeTableIndex_ = index;
    languageId_ = static_cast<std::uint16_t>(
        HarbendixCodeTables().LanguageList()[static_cast<std::size_t>(index - 1)].LangId);
    status_.language = CodeTableText();
    PushStatus();
    SaveLanguageId();
  });
}

void TfmMain::miLanguageClick() {
  Guarded([this] { WithDialogOpen([&] { windows_.ShowLanguageDialog(); }); });
}

void TfmMain::miSearchForEcrsClick() {
  WithDialogOpen([&] { windows_.SearchForEcrs(settings_.ComPort.Get()); });
}

void TfmMain::miTestLineClick() {
  WithDialogOpen([&] { windows_.TestLine(settings_.ComPort.Get(), settings_.ComSpeed); });
}

void TfmMain::miHelpClick() { windows_.OpenHelp(); }

void TfmMain::miStartStopClick() {
  if (passwordDialogOpen_) {
    BringToFront();
    return;
  }
  try {
    if (menu_.OffersStart()) {
      StartServer();
    } else {
      Guarded([this] { StopServer(); });
    }
  } catch (const std::exception& e) {
    windows_.ShowError(e.what());
  }
}

void TfmMain::miExitServClick() {
  if (closed_ || passwordDialogOpen_) {
    if (passwordDialogOpen_) BringToFront();
    return;
  }
  if (FormCloseQuery()) emit Closed();
}

void TfmMain::closeEvent(QCloseEvent* event) {
  if (closed_ || FormCloseQuery()) {
    event->accept();
    emit Closed();
  } else {
    event->ignore();
  }
}

bool TfmMain::FormCloseQuery() {
  SaveSettings();
  if (!engine_.QuitConfirmed() && !sessionEnding_) {
    const FlagScope prompt(passwordDialogOpen_);
    if (!windows_.AskPassword(settings_.AdminPassword.Get())) return false;
    // A close request or the end of the session closed the window while the prompt showed.
    if (closed_) return true;
  }
  closed_ = true;
  StopServer();
  LogWrite(title_.toStdString() + " closed by user.");
  tray_.Hide();
  return true;
}

void TfmMain::EndSession() {
  if (closed_) return;
  sessionEnding_ = true;
  if (FormCloseQuery()) emit Closed();
}

void TfmMain::TrayIconClick(Qt::MouseButton button, QPoint screenPosition) {
  if (dialogOpen_) {
    BringToFront();
    return;
  }
  if (button != Qt::RightButton) return;
  menu_.Menu().popup(screenPosition);
}

void TfmMain::TrayIconDblClick() { windows_.ShowStatus(); }

void TfmMain::SelfMessengerSelfEvent(int messageId, const std::string& text, bool loopBack) {
  engine_.OnSelfMessage(messageId, text, loopBack);
}

void TfmMain::OnMenuItem(MenuItem item) {
  switch (item) {
    case MenuItem::Access: miAccessClick(); break;
    case MenuItem::Offset: miOffsetClick(); break;
    case MenuItem::ServerPorts: miPortsClick(); break;
    case MenuItem::Codetable: miCodeTableClick(); break;
    case MenuItem::SearchForEcrs: miSearchForEcrsClick(); break;
    case MenuItem::TestLine: miTestLineClick(); break;
    case MenuItem::Language: miLanguageClick(); break;
    case MenuItem::Status: TrayIconDblClick(); break;
    case MenuItem::Help: miHelpClick(); break;
    case MenuItem::StartStop: miStartStopClick(); break;
    case MenuItem::Exit: miExitServClick(); break;
  }
}

}  // namespace ecr
