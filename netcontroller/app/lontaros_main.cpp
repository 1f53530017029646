// The process entry of the network-controller server: the settings file as single-instance
// lock, the close request to a running copy, the fixed regional formats, the keep-awake
// request, the main window, which starts the service, and the system's requests to end
// (SIGTERM, SIGHUP, SIGINT), which close the program as the end of the desktop session does.
#include <QApplication>

#include <string>

#include "foundation/log_file.h"
#include "foundation/self_messenger.h"
#include "foundation/settings_store.h"
#include "foundation/widgets/close_open_dialogs.h"
#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/self_messenger_host.h"
#include "foundation/widgets/termination_signal_host.h"
#include "netcontroller/app/nc_main_window.h"
#include "netcontroller/nc_file_version.h"
#include "netcontroller/nc_regional_formats.h"
#include "netcontroller/param_table.h"
#include "netcontroller/server/nc_server_settings.h"
#include "platform/keep_awake.h"
#include "platform/program_path.h"

int main(int argc, char** argv) {
  using namespace ecr;
  OpenProcessLog();
  // Read before the toolkit takes its own arguments out of argv.
  const ParamTable params(argc, argv);
  QApplication app(argc, argv);
  // The program lives in the tray; only the main window's close ends it.
  QApplication::setQuitOnLastWindowClosed(false);

  nc::NcServerSettings settings;
  // Holds the settings file open, locked against every other copy, until the process ends.
  TCodeStru store(ProgramSidePath(".STG"), settings);

  // Lives as long as the application, so that a close request reaches the running copy.
  auto* messengerHost = new SelfMessengerHost(&app);
  std::string quitPassword;
  if (params.FindParam("Q", quitPassword)) return SendCloseRequest(messengerHost->Messenger(), quitPassword);
  if (!store.Opened()) return 0;  // another copy runs from this folder

  // Kept until the service runs: a request that comes while a box holds the start up
  // dismisses the box, and the program ends once the start is through (or without saving
  // when no controller answered).
  TerminationSignalHost endRequests;

  nc::SetRegionalFormats();
  // Bound here, in the copy that runs, so that a second start never shows its boxes.
  KeepAwake keepAwake(
      [](const std::string& text) { ShowMsgBox(nullptr, QString::fromStdString(text), kMsgError); },
      "lontaros");

  nc::TfmSelvaroNT window(nc::SelvaroParts{settings, store, ProcessLog(), nc::TitleVersionText(ProgramPath()),
                                           ProgramSidePath(".hlp"), &keepAwake});
  QObject::connect(&window, &nc::TfmSelvaroNT::Closed, &app, CloseOpenDialogsAndQuit, Qt::QueuedConnection);
  // No controller: the box has been shown; the process ends without saving anything.
  if (!window.FormCreate()) return 1;
  messengerHost->Messenger().SetOnSelfEvent(
      [&window](TSelfMessenger&, int messageId, const std::string& text, bool loopBack) {
        window.SelfMessage(messageId, text, loopBack);
      });
  endRequests.SetHandler([&window] { window.EndSession(); });
  if (window.IsClosed()) return 0;
  window.show();
  return QApplication::exec();
}
