// The process entry of the register server: the system's requests to end (SIGTERM, SIGHUP,
// SIGINT), taken from the first moment and closing the program as the end of the desktop
// session does; the settings file as single-instance lock; the close request to a running
// copy; the priority class; the toolkit on a platform it can reach; the fixed regional
// formats; the hidden main window with its tray icon.
#include <QApplication>

#include <memory>
#include <optional>
#include <string>

#include "foundation/close_request.h"
#include "foundation/file_version.h"
#include "foundation/log_file.h"
#include "foundation/param_list.h"
#include "foundation/regional_formats.h"
#include "foundation/self_messenger.h"
#include "foundation/settings_store.h"
#include "foundation/widgets/close_open_dialogs.h"
#include "foundation/widgets/self_messenger_host.h"
#include "foundation/widgets/termination_signal_host.h"
#include "foundation/widgets/toolkit_platform.h"
#include "platform/process_priority.h"
#include "platform/program_path.h"
#include "platform/termination_signals.h"
#include "server/server_settings.h"
#include "server_app/main_window.h"
#include "server_app/serial_polling_service.h"
#include "server_app/server_startup.h"
#include "server_app/standard_server_windows.h"
#include "server_app/user_language_id.h"

int main(int argc, char** argv) {
  using namespace ecr;
  // From the first moment on, a request to end is kept, not the end of the process; it is
  // taken until the process has ended, so that its exit status is its own.
  TerminationSignals endSignals(TerminationSignals::Lifetime::UntilExit);
  SetLogMask(LogLevels(0x01));

  // Before the toolkit, which a close request does not need (nor a display), and before
  // the settings file, whose lock would keep a copy that starts meanwhile from starting.
  std::string quitPassword;
  if (FindParam("Q", quitPassword)) return CloseRunningCopy(quitPassword, endSignals);

  ServerSettings settings;
  // Holds the settings file open, locked against every other copy, until the process ends.
  TCodeStru settingsStore(ProgramSidePath(".STG"), settings);
  if (!settingsStore.Opened()) return 0;  // another copy runs from this folder

  std::string priorityValue;
  const std::optional<std::string> priority =
      FindParam("Priority", priorityValue) ? std::optional<std::string>(priorityValue) : std::nullopt;
  if (const int refusal = SetProcessPriorityClass(ChoosePriorityClass(priority)); refusal != 0)
    LogWrite(PriorityFailureLogLine(refusal));

  const std::unique_ptr<QApplication> app = MakeProgramApplication(argc, argv);
  // Lives as long as the application, so that a close request reaches the running copy.
  auto* messengerHost = new SelfMessengerHost(app.get());
  TerminationSignalHost endRequests(endSignals);

  SetRegionalFormats();

  StandardServerWindows windows;
  TfmMain window(MainWindowParts{settings, settingsStore, ProgramSidePath(".INI"),
                                 FileVersionText(ProgramPath()), UserDefaultLangId(),
                                 MakeSerialPollingService, windows});
  QObject::connect(&window, &TfmMain::Closed, app.get(), CloseOpenDialogsAndQuit, Qt::QueuedConnection);
  // Installed before the first start, not after it: the window expects its handler in
  // place whenever it exists, and the start's error box must not keep a close request out
  // (the start loads the settings before anything can fail).
  messengerHost->Messenger().SetOnSelfEvent(
      [&window](TSelfMessenger&, int messageId, const std::string& text, bool loopBack) {
        window.SelfMessengerSelfEvent(messageId, text, loopBack);
      });
  window.FormCreate();
  // A request to end that came during the start (its error box was rejected) closes now.
  endRequests.SetHandler([&window] { window.EndSession(); });
  // A close inside the first start's error box came before the message loop.
  if (window.IsClosed()) return 0;
  return QApplication::exec();
}
