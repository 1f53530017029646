// The process entry of the register server: the settings file as single-instance lock,
// the close request to a running copy, the priority class, the fixed regional formats,
// the hidden main window with its tray icon, and the system's requests to end (SIGTERM,
// SIGHUP, SIGINT), which close the program as the end of the desktop session does.
#include <QApplication>

#include <optional>
#include <string>

#include "foundation/file_version.h"
#include "foundation/log_file.h"
#include "foundation/param_list.h"
#include "foundation/regional_formats.h"
#include "foundation/self_messenger.h"
#include "foundation/settings_store.h"
#include "foundation/widgets/close_open_dialogs.h"
#include "foundation/widgets/self_messenger_host.h"
#include "foundation/widgets/termination_signal_host.h"
#include "platform/process_priority.h"
#include "platform/program_path.h"
#include "server/server_settings.h"
#include "server_app/main_window.h"
#include "server_app/serial_polling_service.h"
#include "server_app/server_startup.h"
#include "server_app/standard_server_windows.h"
#include "server_app/user_language_id.h"

int main(int argc, char** argv) {
  using namespace ecr;
  QApplication app(argc, argv);
  // The program lives in the tray; only the main window's close ends it.
  QApplication::setQuitOnLastWindowClosed(false);
  SetLogMask(LogLevels(0x01));

  ServerSettings settings;
  // Holds the settings file open, locked against every other copy, until the process ends.
  TCodeStru settingsStore(ProgramSidePath(".STG"), settings);

  // Lives as long as the application: every start has one, so that its close request
  // reaches the running copy and the running copy hears it.
  auto* messengerHost = new SelfMessengerHost(&app);
  std::string quitPassword;
  if (FindParam("Q", quitPassword)) return SendCloseRequest(messengerHost->Messenger(), quitPassword);
  if (!settingsStore.Opened()) return 0;  // another copy runs from this folder

  std::string priorityValue;
  const std::optional<std::string> priority =
      FindParam("Priority", priorityValue) ? std::optional<std::string>(priorityValue) : std::nullopt;
  if (const int refusal = SetProcessPriorityClass(ChoosePriorityClass(priority)); refusal != 0)
    LogWrite(PriorityFailureLogLine(refusal));

  SetRegionalFormats();

  StandardServerWindows windows;
  TfmMain window(MainWindowParts{settings, settingsStore, ProgramSidePath(".INI"),
                                 FileVersionText(ProgramPath()), UserDefaultLangId(),
                                 MakeSerialPollingService, windows});
  QObject::connect(&window, &TfmMain::Closed, &app, CloseOpenDialogsAndQuit, Qt::QueuedConnection);
  // Installed before the first start, not after it: the window expects its handler in
  // place whenever it exists, and the start's error box must not keep a close request out.
  messengerHost->Messenger().SetOnSelfEvent(
      [&window](TSelfMessenger&, int messageId, const std::string& text, bool loopBack) {
        window.SelfMessengerSelfEvent(messageId, text, loopBack);
      });
  // The window is whole; its first start's error box may take a request to end as well.
  TerminationSignalHost endRequests;
  endRequests.SetHandler([&window] { window.EndSession(); });
  window.FormCreate();
  // A close inside the first start's error box came before the message loop.
  if (window.IsClosed()) return 0;
  return QApplication::exec();
}
