#pragma once
// TfmSelvaroNT, the network-controller server's main window. It owns the service: the
// controller link (NC), the socket server (IPServer), the tray icon (TI) and the request
// processing, wired so that every client event and every controller event reaches the
// request processing. Its creation opens the socket server on the stored TCP port, finds
// the controller on COM1..COM9, sets the line speed and code table and stops the
// controller until the first client opens a SET; its monitor shows the served registers
// once a second while the window is visible; its menus edit the settings behind the
// administrator password; its close saves, asks the password (unless a close request of
// a second start carried it or the session ends), takes the service down and saves again.
//
// The window shows at start; its first timer tick minimises it, and a minimised window
// hides: the program then lives in the tray, and a double click on the icon brings the
// window back, as does a single click while it is hidden (a click on the shown window's icon
// does nothing). On a desktop without a notification area the window stays (minimised it
// stays minimised), and a tray that goes away gives a hidden window back.
//
// Threads: everything here runs on the main thread. The controller's events arrive on its
// reader thread and go straight into the request processing, which serialises them with
// the main thread's calls; they never touch the window. The settings record is changed by
// the window only through the request processing's WithSettings.

#include <QMainWindow>
#include <QString>
#include <QTimer>

#include <memory>
#include <string>

#include "netcontroller/app/nc_tray_icon.h"
#include "netcontroller/requests/nc_request_engine.h"
#include "netcontroller/server/nc_server_settings.h"
#include "netcontroller/server/nc_sock_server.h"

class QAction;
class QGroupBox;
class QLabel;
class QTableWidget;

namespace ecr {
class KeepAwake;
class LogFile;
class TCodeStru;
class TNetController;
}  // namespace ecr

namespace ecr::nc {

class TIndicator;

// What the process entry hands to the main window; the references outlive it.
struct SelvaroParts {
  NcServerSettings& Settings;
  // Keeps Settings in the settings file; not loaded yet.
  TCodeStru& Store;
  LogFile& Log;
  // The version the title shows ("v1.0.4").
  std::string TitleVersion;
  // Opened by Help, Contents.
  std::string HelpFile;
  // Bound keep-awake request, or null.
  KeepAwake* KeepAwakeEntry = nullptr;
};

class TfmSelvaroNT : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kDisplayIntervalMs = 1000;
  static constexpr int kSetsColumnLimit = 80;

  explicit TfmSelvaroNT(SelvaroParts parts, QWidget* parent = nullptr);
  ~TfmSelvaroNT() override;  // FormDestroy

  // The start of the service. False when no controller answered: the box "Net Controller
  // not found!" has been shown and the caller ends the process without saving.
  bool FormCreate();

  // An instance message from another start (or this one, looped back). A close request
  // with the server password closes the window without asking.
  void SelfMessage(int messageId, const std::string& text, bool loopBack);

  // Every close: saves the settings, asks the password unless a close request carried
  // it, takes the service down and saves again. True when the program may end.
  bool FormCloseQuery();
  // The end of the user's session or another request of the system to end the program:
  // the close without the password prompt (a dialog that is open is ended by the process
  // entry).
  void EndSession();

  // One tick of tmrDisplay: the first minimises the window (where there is a tray), every
  // other one refreshes the monitor.
  void tmrDisplayTimer();
  // The monitor refresh itself.
  void UpdateMonitor();
  void TIDblClick();

  // The menus; the settings items ask the administrator password first.
  void SaveSettingsClick();
  void ExitServClick();
  void PortsClick();
  void AccessClick();
  void Offset1Click();
  void miLanguageClick();  // the code table
  void miContentsClick();
  void AboutClick();

  // State, for the process entry and for tests.
  const QString& Title() const { return title_; }
  bool IsClosed() const { return closed_; }
  TNetController& NC() { return *nc_; }
  TSockServer& IPServer() { return ipServer_; }
  TTrayIcon& TI() { return ti_; }
  NcRequestEngine& Engine() { return engine_; }
  QTimer& DisplayTimer() { return tmrDisplay_; }
  // The grid as rows of text; row 0 is the fixed header row.
  QString Cell(int column, int row) const;
  int GridRowCount() const;
  // A copy of the settings record, taken under the request processing's lock.
  NcServerSettings SettingsCopy();

  TIndicator* shIndicator = nullptr;
  QLabel* lblSettings = nullptr;
  QLabel* lblNC = nullptr;
  QLabel* lblLanguage = nullptr;
  QGroupBox* gbServed = nullptr;
  QTableWidget* sgECRs = nullptr;
  QAction* miSave = nullptr;
  QAction* miExit = nullptr;
  QAction* miPorts = nullptr;
  QAction* miAccess = nullptr;
  QAction* miOffset = nullptr;
  QAction* miCodeTable = nullptr;
  QAction* miContents = nullptr;
  QAction* miAbout = nullptr;

 signals:
  // The close was allowed and the service taken down: the message loop may end.
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;  // FormShow
  void hideEvent(QHideEvent* event) override;  // FormHide
  void changeEvent(QEvent* event) override;

 private:
  // Runs action after the administrator password (none asked while it is empty).
  template <typename Action>
  void Guarded(Action&& action);
  bool AskPassword();
  void SaveSettings();
  void SetCell(int column, int row, const QString& text);
  void ShowCodeTable(int index);
  void BuildMenus();
  void BuildPanels();

  NcServerSettings& settings_;
  TCodeStru& store_;
  LogFile& log_;
  const std::string titleVersion_;
  const std::string helpFile_;
  KeepAwake* const keepAwake_;
  QString title_;

  TSockServer ipServer_;
  std::unique_ptr<TNetController> nc_;
  std::unique_ptr<ControllerCommands> commands_;
  NcRequestEngine engine_;
  TTrayIcon ti_;
  QTimer tmrDisplay_;
  bool firstTick_ = true;
  bool closed_ = false;
  bool sessionEnding_ = false;
};

}  // namespace ecr::nc
