#pragma once
// The register server's own windows behind the tray menu, in one set: the status window
// (made on first use, kept for the program's life), the access and ports dialogs, the
// language dialog with the language unit's state, the register search, the line test and
// the help file. Making the set is the language unit's initialization: it installs the
// language module chosen for this start, so make it before any other window.
//
// Main thread only.

#include <QIcon>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/registry.h"
#include "server/server_settings.h"
#include "server_app/language_module.h"
#include "server_app/language_selection.h"
#include "server_app/server_windows.h"

namespace ecr {

class RequestEngine;
class TfmSelvaroStatus;

struct WindowSetSetup {
  std::string programPath;      // the program file, beside which the modules lie
  Registry registry;            // where the per-user choice is kept
  std::uint16_t threadLangId = 0x0409;
};

// The setup of the running program: its own path, the registry, the user's language.
WindowSetSetup ProgramWindowSetSetup();

class ServerWindowSet {
 public:
  explicit ServerWindowSet(WindowSetSetup setup = ProgramWindowSetSetup());
  ~ServerWindowSet();
  ServerWindowSet(const ServerWindowSet&) = delete;
  ServerWindowSet& operator=(const ServerWindowSet&) = delete;

  // The request engine whose tables the status window shows (null: none).
  void AttachEngine(RequestEngine* engine);
  // What Yes to the restart question runs; it is called once the language dialog has
  // closed.
  void SetCloseMainWindow(std::function<void()> closeMainWindow);

  bool EditAccess(ServerSettings& settings, std::string& newAdminPassword);
  void EditPorts(ServerSettings& settings);
  void ShowLanguageDialog();
  void SearchForEcrs(const std::string& comPort);
  void TestLine(const std::string& comPort, std::uint16_t comSpeed);
  void UpdateStatus(const StatusTexts& texts);
  void ShowStatus();
  void OpenHelp();

  TfmSelvaroStatus& StatusWindow();
  LanguageSelection& Languages() { return languages_; }
  const LanguageModule& Module() const { return module_; }
  // The glyph of the language menu item.
  QIcon ActiveFlag() const;

 private:
  const Registry registry_;
  LanguageModule module_;
  LanguageSelection languages_;
  RequestEngine* engine_ = nullptr;
  std::function<void()> closeMainWindow_;
  std::unique_ptr<TfmSelvaroStatus> status_;
  StatusTexts texts_;
};

}  // namespace ecr
