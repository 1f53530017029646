#pragma once
// The register server's own set of windows behind ServerWindows: the shared password,
// offset and code-table dialogs, the message box, and the program's own windows
// (ServerWindowSet: status window, access and ports dialogs, language dialog, register
// search, line test, help file). Making it installs the language module of this start, so
// make it before the main window.
//
// The status window shows the main window's request engine, the restart offered by the
// language dialog closes the main window, and the language item of its menu shows the
// flag of the active language: AttachMainWindow does that, and the first status update
// attaches the program's main window by itself when nobody did.
//
// Main thread only.

#include <QObject>
#include <QPointer>

#include "server_app/server_windows.h"
#include "server_app/window_set.h"

namespace ecr {

class TfmMain;

class StandardServerWindows : public ServerWindows {
 public:
  explicit StandardServerWindows(WindowSetSetup setup = ProgramWindowSetSetup());
  ~StandardServerWindows() override;

  void AttachMainWindow(TfmMain& window);

  bool AskPassword(const std::string& adminPassword) override;
  bool EditAccess(ServerSettings& settings, std::string& newAdminPassword) override;
  void EditOffset(std::int32_t& nextNotifyId) override;
  void EditPorts(ServerSettings& settings) override;
  bool SelectCodeTable(int& codeTableIndex) override;
  void ShowLanguageDialog() override;
  void SearchForEcrs(const std::string& comPort) override;
  void TestLine(const std::string& comPort, std::uint16_t comSpeed) override;
  void UpdateStatus(const StatusTexts& texts) override;
  void ShowStatus() override;
  void OpenHelp() override;
  void ShowError(const std::string& text) override;

  const StatusTexts& Status() const { return status_; }
  ServerWindowSet& Windows() { return windows_; }

 private:
  // The attached main window, found among the top-level windows when none was given; its
  // engine leaves the status window when it goes.
  void FindMainWindow();

  ServerWindowSet windows_;
  QPointer<TfmMain> mainWindow_;
  QObject connections_;  // context of the connections to the main window: they end with us
  bool attached_ = false;
  StatusTexts status_;
};

}  // namespace ecr
