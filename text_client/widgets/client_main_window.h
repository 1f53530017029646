#pragma once

// TfmMain, the never-shown main window of the selling client. It owns the selling loop,
// its TCP client (driven by socket notifiers) and its one timer, the tray icon with its
// popup menu, the not-ready dialog and the status window, and it is the loop's host: error
// boxes, the system password, the tray image and the menu items. The settings dialog is
// reached through the tray menu behind the system password.
//
// A close (the Exit item, a close request of a second start, or the end of the session)
// goes through CloseQuery; when it is allowed the window emits Closed and the process entry
// ends the event loop.
//
// Threads: main thread only.

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/settings_store.h"
#include "platform/ini_file.h"
#include "platform/keep_awake.h"
#include "text_client/client_settings.h"
#include "text_client/selling_loop.h"
#include "text_client/selling_loop_host.h"
#include "text_client/sock_client.h"
#include "text_client/widgets/client_tray_icon.h"
#include "text_client/widgets/not_ready_dialog.h"
#include "text_client/widgets/socket_notifier_watch.h"
#include "text_client/widgets/status_window.h"

class QAction;
class QMenu;

namespace ecr {

// What the process entry hands to the main window; the references outlive it.
struct ClientMainParts {
    TCodeStru& store;              // holds `passwords` as its record
    ClientPasswords& passwords;
    std::string iniPath;           // the program's path with extension ".ini"; the files
                                   // passed over are kept beside it (passed_over_files.h)
    std::string programFolder;     // ends with "/"; the default input and output folder
    std::string versionText;       // "v" and four numbers
    std::string helpFile;
    KeepAwake* keepAwake = nullptr;  // none: the machine may sleep
    SellingLoop::LogSink log;
    std::uint32_t seed = 0;        // of the unique output names
};

class TfmMain : public QObject, public SellingLoopHost {
    Q_OBJECT

public:
    explicit TfmMain(ClientMainParts parts, QObject* parent = nullptr);
    ~TfmMain() override;  // FormDestroy

    // Keep-awake request, title, settings, passwords, the stopped loop with its start
    // timer, the tray icon.
    void FormCreate();

    // Menu and tray.
    void miHelpClick();
    void TrayIconDblClick();
    void miConfigureClick();
    void miStartStopClick();
    void miIzhodClick();

    // Asks the selling loop whether the window may close; true (and Closed emitted) when
    // it closed.
    bool Close();
    bool IsClosed() const { return closed_; }
    // The end of the user's session or another request of the system to end the program:
    // the close without the password, as a valid close request of a second start closes,
    // except that a file in work with lines still to sell stays in the input folder.
    void EndSession();

    // An instance message of another start.
    void SelfMessengerSelfEvent(int messageId, const std::string& text, bool loopBack);

    const QString& Title() const { return title_; }
    SellingLoop& Loop() { return *loop_; }
    TSockClient& SockClient() { return socket_; }
    ClientSettings& Settings() { return settings_; }
    ClientTrayIcon& Tray() { return tray_; }
    QMenu* PopupMenu() const { return pmFprMain_.get(); }
    TfmTimeOut& NotReadyDialog() { return *notReady_; }
    TfmStatus& StatusWindow() { return *status_; }
    const QTimer& GeneralTimer() const { return tmrGeneral_; }
    ClientStatus CurrentStatus() const;

    QAction* miHelp = nullptr;
    QAction* miStatus = nullptr;
    QAction* miConfigure = nullptr;
    QAction* miStartStop = nullptr;
    QAction* miIzhod = nullptr;

    // SellingLoopHost.
    void StartTimer(LoopTimer timer, int milliseconds) override;
    void StopTimer() override;
    void ShowError(const std::string& text) override;
    void ShowNotReadyDialog(const std::string& text) override;
    void CloseNotReadyDialog() override;
    bool AskPassword(const std::string& password) override;
    void ShowRunning(bool running) override;
    void ShowStartStopItem(bool showsStart) override;
    void EnableConfigure(bool enabled) override;
    void HideTrayIcon() override;
    void RefreshStatusIfShown() override;
    void SavePasswords() override;
    void CloseMainWindow() override;

signals:
    void Closed();

private:
    void BuildMenu();
    void Log(const std::string& text) const;

    ClientMainParts parts_;
    IniFile ini_;
    ClientSettings settings_;
    QString title_;
    SocketNotifierWatch watch_;
    TSockClient socket_;
    QTimer tmrGeneral_;
    LoopTimer timerHandler_ = LoopTimer::Start;
    ClientTrayIcon tray_;
    std::unique_ptr<QMenu> pmFprMain_;
    std::unique_ptr<SellingLoop> loop_;
    std::unique_ptr<TfmTimeOut> notReady_;
    std::unique_ptr<TfmStatus> status_;
    bool closed_ = false;
};

}  // namespace ecr
