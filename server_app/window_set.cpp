#include "server_app/window_set.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include "foundation/widgets/modal_result.h"
#include "platform/program_path.h"
#include "server_app/access_dialog.h"
#include "server_app/language_dialog.h"
#include "server_app/language_flags.h"
#include "server_app/language_modules.h"
#include "server_app/language_table.h"
#include "server_app/line_test_dialog.h"
#include "server_app/ports_dialog.h"
#include "server_app/register_search_dialog.h"
#include "server_app/status_window.h"

namespace ecr {
namespace {

// Installs the module of this start and gives the program path on to the language unit,
// which must see the module already in place.
std::string InstallThenPath(LanguageModule& module, const WindowSetSetup& setup) {
  module.InstallFirst(StartupModuleCandidates(setup.registry, setup.programPath, setup.threadLangId));
  return setup.programPath;
}

}  // namespace

WindowSetSetup ProgramWindowSetSetup() { return {ProgramPath(), Registry(), ThreadLanguageId()}; }

ServerWindowSet::ServerWindowSet(WindowSetSetup setup)
    : registry_(setup.registry),
      languages_(InstallThenPath(module_, setup), setup.registry, setup.threadLangId,
                 LanguageModule::Loads) {}

ServerWindowSet::~ServerWindowSet() = default;

void ServerWindowSet::AttachEngine(RequestEngine* engine) {
  engine_ = engine;
  if (status_) status_->SetEngine(engine);
}

void ServerWindowSet::SetCloseMainWindow(std::function<void()> closeMainWindow) {
  closeMainWindow_ = std::move(closeMainWindow);
}

TfmSelvaroStatus& ServerWindowSet::StatusWindow() {
  if (!status_) {
    status_ = std::make_unique<TfmSelvaroStatus>();
    status_->SetEngine(engine_);
    status_->SetTexts(texts_);
  }
  return *status_;
}

bool ServerWindowSet::EditAccess(ServerSettings& settings, std::string& newAdminPassword) {
  TfmAccess dialog(settings);
  if (dialog.EditAccess() != mrOk) return false;
  newAdminPassword = dialog.NewPassword().toStdString();
  return true;
}

void ServerWindowSet::EditPorts(ServerSettings& settings) {
  std::uint16_t speed = settings.ComSpeed;
  std::uint16_t tcpPort = settings.IPPort;
  std::string portName = settings.ComPort.Get();
  TfmPorts dialog(registry_);
  if (dialog.EditPorts(speed, tcpPort, portName) != mrOk) return;
  settings.ComSpeed = speed;
  settings.IPPort = tcpPort;
  settings.ComPort = portName;
}

void ServerWindowSet::ShowLanguageDialog() {
  bool closeRequested = false;
  {
    TfmLanguageSelection dialog(languages_);
    dialog.ShowLanguageDialog();
    closeRequested = dialog.CloseRequested();
  }
  if (closeRequested && closeMainWindow_) closeMainWindow_();
}

void ServerWindowSet::SearchForEcrs(const std::string& comPort) {
  TfmEcrSearch dialog;
  dialog.PortName = comPort;
  dialog.exec();
}

void ServerWindowSet::TestLine(const std::string& comPort, std::uint16_t comSpeed) {
  TfmTestLine dialog;
  dialog.PortName = comPort;
  dialog.Speed = comSpeed;
  dialog.exec();
}

void ServerWindowSet::UpdateStatus(const StatusTexts& texts) {
  texts_ = texts;
  if (status_) status_->SetTexts(texts);
}

void ServerWindowSet::ShowStatus() {
  TfmSelvaroStatus& window = StatusWindow();
  window.show();
  window.setFocus();
  window.showNormal();
  window.raise();
  window.activateWindow();
}

void ServerWindowSet::OpenHelp() {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(languages_.HelpFile())));
}

QIcon ServerWindowSet::ActiveFlag() const { return QIcon(LanguageFlag(languages_.ActiveFlag())); }

}  // namespace ecr
