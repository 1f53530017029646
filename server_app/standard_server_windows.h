#pragma once
// The register server's own set of windows behind ServerWindows: the shared password,
// offset and code-table dialogs, the message box, the status texts and the help file.
// Main thread only.

#include "server_app/server_windows.h"

namespace ecr {

class StandardServerWindows : public ServerWindows {
 public:
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

 private:
  StatusTexts status_;
};

}  // namespace ecr
