#pragma once
// TfmMain, the never-shown main window of the register server. It owns the service: a
// start opens the socket server on the stored TCP port and makes the line and polling
// thread (PollingService) on the stored serial port, all wired to the request engine; a
// stop takes them down in reverse order and clears the engine's state. It carries the
// tray icon with its popup menu, the password-guarded settings items and the close of the
// program.
//
// Threads: everything here runs on the main thread. The polling thread reaches the
// engine only through the PollingService, never through this object.

#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/settings_store.h"
#include "platform/ini_file.h"
#include "server/request_engine.h"
#include "server/server_settings.h"
#include "server/store_settings_saver.h"
#include "server/sock_server.h"
#include "server_app/polling_service.h"
#include "server_app/server_menu.h"
#include "server_app/server_windows.h"
#include "server_app/tray_icon.h"

namespace ecr {

// What the process entry hands to the main window; all references outlive it.
struct MainWindowParts {
  ServerSettings& settings;
  TCodeStru& store;
  std::string iniPath;
  std::string versionText;            // "v" and four numbers
  std::uint16_t userDefaultLangId = 0x0409;
  PollingServiceFactory pollingFactory;
  ServerWindows& windows;
};

class TfmMain : public QWidget {
  Q_OBJECT

 public:
  explicit TfmMain(MainWindowParts parts);
  ~TfmMain() override;  // FormDestroy

  // The creation of the window: title and log line, options, stopped state, tray icon,
  // and the first start of the service. A failed start is shown through the error box
  // and leaves the window stopped.
  void FormCreate();

  // Raises the failure after undoing itself with StopServer.
  void StartServer();
  // Safe to call when parts of the service were never made. Once the line has been polled,
  // saves the settings record after the polling thread has ended, so that the register
  // counters of this run reach the file before a start loads it again.
  void StopServer();
  void ResetServerState();
  void EnableSettingsMenus(bool value);
  void LoadOptions();
  void SaveLanguageId();

  // Every close of the main window: saves the settings, asks the password unless a
  // close request of a second start carried it, then stops and ends. True when closed.
  bool FormCloseQuery();
  // The end of the user's session or another request of the system to end the program:
  // the close without the password prompt (a prompt or dialog that is open is ended by the
  // process entry). Saves, stops the service and logs the close like every close.
  void EndSession();

  // Tray events.
  void TrayIconClick(Qt::MouseButton button, QPoint screenPosition);
  void TrayIconDblClick();
  // The menu items; guarded ones ask the administrator password first.
  void miAccessClick();
  void miOffsetClick();
  void miPortsClick();
  void miCodeTableClick();
  void miLanguageClick();
  void miSearchForEcrsClick();
  void miTestLineClick();
  void miHelpClick();
  void miStartStopClick();
  void miExitServClick();

  // An instance message from another start of the program (or our own, looped back).
  void SelfMessengerSelfEvent(int messageId, const std::string& text, bool loopBack);

  // State, for the status window and for tests.
  bool Running() const { return polling_ != nullptr; }
  bool DialogOpen() const { return dialogOpen_; }
  // The close was allowed; the window waits only for its destruction.
  bool IsClosed() const { return closed_; }
  int CodeTableIndex() const { return codeTableIndex_; }
  std::uint16_t LanguageID() const { return languageId_; }
  bool OldFPMode() const { return oldFpMode_; }
  const std::string& VersionText() const { return versionText_; }
  const QString& Title() const { return title_; }
  const StatusTexts& Status() const { return status_; }
  ServerMenu& Menu() { return menu_; }
  TrayIcon& Tray() { return tray_; }
  RequestEngine& Engine() { return engine_; }
  TSockServer& IPServer() { return ipServer_; }

 signals:
  // The close was allowed and the service stopped: the message loop may end.
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // Runs action after the administrator password; a second guarded click while a prompt
  // or its action is open only brings the application forward.
  template <typename Action>
  void Guarded(Action&& action);
  // Runs a dialog with DialogOpen set while it shows.
  template <typename Dialog>
  void WithDialogOpen(Dialog&& dialog);
  void BringToFront();
  // The settings record saved under the engine's lock (the polling thread writes the
  // register counters while the service runs).
  void SaveSettings();
  std::string CodeTableText() const;
  void PushStatus();
  void OnMenuItem(MenuItem item);

  ServerSettings& settings_;
  TCodeStru& store_;
  StoreSettingsSaver saver_;
  IniFile iniFile_;
  const std::string versionText_;
  const QString title_;
  const std::uint16_t userDefaultLangId_;
  PollingServiceFactory pollingFactory_;
  ServerWindows& windows_;

  RequestEngine engine_;
  TSockServer ipServer_;
  ServerMenu menu_;
  TrayIcon tray_;
  std::unique_ptr<PollingService> polling_;

  int codeTableIndex_ = 1;
  std::uint16_t languageId_ = 0x0402;
  bool oldFpMode_ = false;
  bool passwordDialogOpen_ = false;
  bool dialogOpen_ = false;
  bool closed_ = false;
  bool sessionEnding_ = false;
  StatusTexts status_;
};

}  // namespace ecr
