#pragma once
// The windows that the register server's tray menu opens, its message box and its help:
// everything of the user interface that lies outside the main window itself. The main
// window calls them on the main thread; each dialog runs modal and returns when closed.
// The program's standard set is StandardServerWindows; tests give their own.

#include <cstdint>
#include <string>

#include "server/server_settings.h"

namespace ecr {

// The texts that the status window shows about the service.
struct StatusTexts {
  int rowCount = 2;        // rows of the register grid
  std::string settings;    // "Port: ... Speed: ...  IP Port: ..." or "Server STOPPED"
  std::string info;        // "Old FP" or empty
  std::string language;    // "Code table: " + name
};

class ServerWindows {
 public:
  virtual ~ServerWindows() = default;

  // The administrator password prompt; true when the caller may go on (at once for an
  // empty password). Its entry takes no more bytes than the record keeps of a password.
  virtual bool AskPassword(const std::string& adminPassword) = 0;
  // The access dialog. True on OK, with the new administrator password (uncut).
  virtual bool EditAccess(ServerSettings& settings, std::string& newAdminPassword) = 0;
  // The offset dialog on the next notification id.
  virtual void EditOffset(std::int32_t& nextNotifyId) = 0;
  // The ports dialog on the port, speed and TCP port of settings.
  virtual void EditPorts(ServerSettings& settings) = 0;
  // The code-table dialog; true with a new 1-based index when another table was chosen.
  virtual bool SelectCodeTable(int& codeTableIndex) = 0;
  // The user-interface language dialog; the choice applies at the next start.
  virtual void ShowLanguageDialog() = 0;
  // The register search and the line test on the server's port (service stopped).
  virtual void SearchForEcrs(const std::string& comPort) = 0;
  virtual void TestLine(const std::string& comPort, std::uint16_t comSpeed) = 0;

  // The status window: its texts change with the service; ShowStatus brings it forward.
  virtual void UpdateStatus(const StatusTexts& texts) = 0;
  virtual void ShowStatus() = 0;
  // The help file's contents.
  virtual void OpenHelp() = 0;
  // An error box captioned with the application title.
  virtual void ShowError(const std::string& text) = 0;
};

}  // namespace ecr
