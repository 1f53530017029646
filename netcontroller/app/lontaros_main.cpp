// The process entry of the network-controller server: the system's requests to end
// (SIGTERM, SIGHUP, SIGINT), taken from the first moment and closing the program as the end
// of the desktop session does; the settings file as single-instance lock; the close request
// to a running copy; the toolkit on a platform it can reach; the fixed regional formats; the
// keep-awake request; the main window, which starts the service.
#include <QApplication>

#include <memory>
#include <string>

#include "foundation/close_request.h"
#include "foundation/log_file.h"
#include "foundation/self_messenger.h"
#include "foundation/settings_store.h"
#include "foundation/widgets/close_open_dialogs.h"
#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/self_messenger_host.h"
#include "foundation/widgets/start_up_close_requests.h"
#include "foundation/widgets/termination_signal_host.h"
#include "foundation/widgets/toolkit_platform.h"
#include "netcontroller/app/nc_main_window.h"
#include "netcontroller/nc_file_version.h"
#include "netcontroller/nc_regional_formats.h"
#include "netcontroller/param_table.h"
#include "netcontroller/server/nc_server_settings.h"
#include "platform/keep_awake.h"
#include "platform/program_path.h"
#include "platform/termination_signals.h"

int main(int argc, char** argv) {
  using namespace ecr;
  // From the first moment on, a request to end is kept, not the end of the process; it is
  // taken until the process has ended, so that its exit status is its own.
  TerminationSignals endSignals(TerminationSignals::Lifetime::UntilExit);
  OpenProcessLog();
  // Read before the toolkit takes its own arguments out of argv.
  const ParamTable params(argc, argv);

  // Before the toolkit, which a close request does not need (nor a display), and before
  // the settings file, whose lock would keep a copy that starts meanwhile from starting.
  std::string quitPassword;
  if (params.FindParam("Q", quitPassword)) return CloseRunningCopy(quitPassword, endSignals);

  nc::NcServerSettings settings;
  // Holds the settings file open, locked against every other copy, until the process ends.
  TCodeStru store(ProgramSidePath(".STG"), settings);
  if (!store.Opened()) return 0;  // another copy runs from this folder

  const std::unique_ptr<QApplication> app = MakeProgramApplication(argc, argv);
  // Lives as long as the application, so that a close request reaches the running copy.
  auto* messengerHost = new SelfMessengerHost(app.get());
  // Kept until the service runs: a request that comes while a box holds the start up
  // rejects it and every later one, and the program ends once the start is through (or
  // without saving when no controller answered).
  TerminationSignalHost endRequests(endSignals);

  nc::SetRegionalFormats();
  // Read before the first box can show, so that a close request that comes while one holds
  // the start up is judged by the stored password; the window reads the file again as it
  // starts the service. No other thread runs yet.
  store.Load();
  KeepCloseRequestsWhileStarting(messengerHost->Messenger(), endRequests,
                                 [&settings] { return settings.ServerPassword.Get(); });
  // Bound here, in the copy that runs, so that a second start never shows its boxes.
  KeepAwake keepAwake(
      [](const std::string& text) { ShowMsgBox(nullptr, QString::fromStdString(text), kMsgError); },
      "lontaros");

  nc::TfmSelvaroNT window(nc::SelvaroParts{settings, store, ProcessLog(), nc::TitleVersionText(ProgramPath()),
                                           ProgramSidePath(".hlp"), &keepAwake});
  QObject::connect(&window, &nc::TfmSelvaroNT::Closed, app.get(), CloseOpenDialogsAndQuit, Qt::QueuedConnection);
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
