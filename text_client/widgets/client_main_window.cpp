#include "text_client/widgets/client_main_window.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QMenu>
#include <QUrl>

#include "foundation/log_file.h"
#include "foundation/widgets/close_open_dialogs.h"
#include "foundation/widgets/modal_result.h"
#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/password_dialog.h"
#include "platform/program_path.h"
#include "text_client/client_startup.h"
#include "text_client/passed_over_files.h"
#include "text_client/widgets/settings_dialog.h"

namespace ecr {

TfmMain::TfmMain(ClientMainParts parts, QObject* parent)
    : QObject(parent),
      parts_(std::move(parts)),
      ini_(parts_.iniPath),
      settings_(DefaultClientSettings(parts_.programFolder)),
      title_(QString::fromStdString(ClientTitle(parts_.versionText))),
      socket_(watch_) {
    if (!parts_.log) parts_.log = [](const std::string& text) { LogWrite(text); };
    watch_.Attach(socket_);
    // An exception while a socket event was handled ends in the application's error box.
    socket_.OnException = [](const std::exception& error) {
        ShowMsgBox(nullptr, QString::fromStdString(error.what()), kMsgError);
    };
    tmrGeneral_.setObjectName(QStringLiteral("tmrGeneral"));
    // A coarse timer may fire 5 % early; the start delay and the deadlines are meant whole.
    tmrGeneral_.setTimerType(Qt::PreciseTimer);
    connect(&tmrGeneral_, &QTimer::timeout, this, [this] { loop_->OnTimer(timerHandler_); });
    loop_ = std::make_unique<SellingLoop>(*this, socket_, settings_, parts_.passwords, parts_.log,
                                          parts_.seed,
                                          PathWithExtension(parts_.iniPath, kPassedOverStoreExtension));
    BuildMenu();
    connect(&tray_, &ClientTrayIcon::DoubleClicked, this, &TfmMain::TrayIconDblClick);

    notReady_ = std::make_unique<TfmTimeOut>();
    notReady_->OnAnswer = [this](NotReadyAnswer answer) { loop_->NotReadyDialogClosed(answer); };
    status_ = std::make_unique<TfmStatus>([this] { return CurrentStatus(); });
}

TfmMain::~TfmMain() {
    tmrGeneral_.stop();
    notReady_->OnAnswer = nullptr;
}

void TfmMain::Log(const std::string& text) const {
    if (parts_.log) parts_.log(text);
}

void TfmMain::BuildMenu() {
    pmFprMain_ = std::make_unique<QMenu>();
    pmFprMain_->setObjectName(QStringLiteral("pmFprMain"));
    auto item = [this](const char* name, const QString& caption, void (TfmMain::*handler)()) {
        QAction* action = pmFprMain_->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    miHelp = item("miHelp", QStringLiteral("Help"), &TfmMain::miHelpClick);
    miStatus = item("miStatus", QStringLiteral("Status"), &TfmMain::TrayIconDblClick);
    pmFprMain_->addSeparator()->setObjectName(QStringLiteral("N1"));
    miConfigure = item("miConfigure", QStringLiteral("Configure"), &TfmMain::miConfigureClick);
    pmFprMain_->addSeparator()->setObjectName(QStringLiteral("N6"));
    miStartStop = item("miStartStop", QStringLiteral("&Stop"), &TfmMain::miStartStopClick);
    miIzhod = item("miIzhod", QStringLiteral("Exit"), &TfmMain::miIzhodClick);
    tray_.SetPopupMenu(pmFprMain_.get());
}

void TfmMain::FormCreate() {
    if (const std::optional<std::string> failure = RequestKeepAwake(parts_.keepAwake)) Log(*failure);
    QGuiApplication::setApplicationDisplayName(title_);
    settings_ = LoadSettings(ini_, parts_.programFolder);
    parts_.store.Load();
    socket_.SetEnabled(true);
    loop_->Begin();
    tray_.SetHint(title_);
    tray_.SetImage(kTrayImageStopped);
    tray_.Show();
}

ClientStatus TfmMain::CurrentStatus() const {
    ClientStatus status;
    status.started = !loop_->StartStopShowsStart();
    status.stopReason = loop_->StopReason();
    status.address = settings_.Address;
    status.port = settings_.Port;
    status.serverVersion = loop_->ServerVersionText();
    status.connected = socket_.Connected();
    status.inputPath = settings_.InputPath;
    for (const PassedOverFiles::Entry& entry : loop_->Input().PassedOver()) {
        status.passedOver.push_back(PassedOverText(entry));
    }
    return status;
}

void TfmMain::miHelpClick() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(parts_.helpFile)));
}

void TfmMain::TrayIconDblClick() {
    if (status_->isVisible()) status_->hide();
    status_->show();
    status_->raise();
    status_->activateWindow();
}

void TfmMain::miConfigureClick() {
    if (loop_->PasswordDialogOpen()) return;
    if (!loop_->AskSystemPassword()) return;
    TfmAllCfg dialog(settings_, parts_.passwords);
    dialog.SetHelpContext(0);
    dialog.ShowSettings();
    // Saved after OK and after Cancel alike: a Cancel after a refused check keeps what was
    // taken over before it.
    parts_.store.Save();
    if (!SaveSettings(ini_, settings_)) Log("Cannot write " + ini_.path());
}

void TfmMain::miStartStopClick() { loop_->StartStopClicked(); }

void TfmMain::miIzhodClick() { Close(); }

bool TfmMain::Close() {
    if (closed_) return true;
    if (!loop_->CloseQuery()) return false;
    closed_ = true;
    tmrGeneral_.stop();
    notReady_->CloseQuietly();
    status_->hide();
    emit Closed();
    return true;
}

void TfmMain::EndSession() {
    if (closed_) return;
    if (loop_->PasswordDialogOpen()) {
        // The loop refuses a close while its password prompt shows: the prompt goes first,
        // and the close follows once its loop has returned.
        CloseOpenDialogs();
        QMetaObject::invokeMethod(this, &TfmMain::EndSession, Qt::QueuedConnection);
        return;
    }
    // The close of a valid close request, but a file in work with lines still to sell stays
    // in the input folder.
    loop_->EndOfSession();
}

void TfmMain::SelfMessengerSelfEvent(int messageId, const std::string& text, bool loopBack) {
    loop_->OnQuitRequest(messageId, text, loopBack);
}

void TfmMain::StartTimer(LoopTimer timer, int milliseconds) {
    timerHandler_ = timer;
    tmrGeneral_.start(milliseconds);
}

void TfmMain::StopTimer() { tmrGeneral_.stop(); }

void TfmMain::ShowError(const std::string& text) {
    ShowMsgBox(nullptr, QString::fromStdString(text), kMsgError);
}

void TfmMain::ShowNotReadyDialog(const std::string& text) {
    notReady_->ShowText(QString::fromStdString(text));
}

void TfmMain::CloseNotReadyDialog() { notReady_->CloseQuietly(); }

bool TfmMain::AskPassword(const std::string& password) {
    TfmPassword dialog;
    // The entry takes no more than a kept password can hold.
    return dialog.AskPassword(QString::fromStdString(password), kMaxPasswordBytes) == mrOk;
}

void TfmMain::ShowRunning(bool running) {
    tray_.SetImage(running ? kTrayImageRunning : kTrayImageStopped);
}

void TfmMain::ShowStartStopItem(bool showsStart) {
    miStartStop->setText(showsStart ? QStringLiteral("&Start") : QStringLiteral("&Stop"));
}

void TfmMain::EnableConfigure(bool enabled) { miConfigure->setEnabled(enabled); }

void TfmMain::HideTrayIcon() { tray_.Hide(); }

void TfmMain::RefreshStatusIfShown() { status_->RefreshStatusIfShown(); }

void TfmMain::SavePasswords() { parts_.store.Save(); }

void TfmMain::CloseMainWindow() { Close(); }

}  // namespace ecr
