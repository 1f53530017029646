// The process entry of the selling client: the system's requests to end (SIGTERM, SIGHUP,
// SIGINT), taken from the first moment and closing the program as the end of the desktop
// session does; the settings store as single-instance lock; the close request to a running
// copy ("Q" or "QUIT"); the toolkit on a platform it can reach; the fixed regional formats;
// the keep-awake request; the hidden main window with its tray icon.
#include <QApplication>

#include <memory>
#include <chrono>
#include <string>

#include "foundation/close_request.h"
#include "foundation/file_version.h"
#include "foundation/log_file.h"
#include "foundation/param_list.h"
#include "foundation/regional_formats.h"
#include "foundation/self_messenger.h"
#include "foundation/settings_store.h"
#include "foundation/widgets/close_open_dialogs.h"
#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/self_messenger_host.h"
#include "foundation/widgets/start_up_close_requests.h"
#include "foundation/widgets/termination_signal_host.h"
#include "foundation/widgets/toolkit_platform.h"
#include "platform/keep_awake.h"
#include "platform/program_path.h"
#include "platform/termination_signals.h"
#include "text_client/client_settings.h"
#include "text_client/client_startup.h"
#include "text_client/widgets/client_main_window.h"

int main(int argc, char** argv) {
    using namespace ecr;
    // From the first moment on, a request to end is kept, not the end of the process; it is
    // taken until the process has ended, so that its exit status is its own.
    TerminationSignals endSignals(TerminationSignals::Lifetime::UntilExit);
    OpenProcessLog();

    // Before the toolkit, which a close request does not need (nor a display), and before
    // the settings file, whose lock would keep a copy that starts meanwhile from starting.
    if (std::optional<std::string> quitPassword = QuitRequestPassword(ParamList()))
        return CloseRunningCopy(*quitPassword, endSignals);

    ClientPasswords passwords;
    // Holds the settings file open, locked against every other copy, until the process ends.
    TCodeStru store(ProgramSidePath(".stg"), passwords);
    if (!store.Opened()) return 0;  // another copy runs from this folder

    const std::unique_ptr<QApplication> app = MakeProgramApplication(argc, argv);
    // Lives as long as the application, so that a close request reaches the running copy.
    auto* messengerHost = new SelfMessengerHost(app.get());
    // Kept until the window has loaded the settings: a request that comes while a box holds
    // the start up rejects it and every later one, and the program ends once the start is
    // through.
    TerminationSignalHost endRequests(endSignals);

    // Read before the first box can show, so that a close request that comes while one holds
    // the start up is judged by the stored system password; the window reads the file again
    // as it is created.
    store.Load();
    KeepCloseRequestsWhileStarting(messengerHost->Messenger(), endRequests,
                                   [&passwords] { return passwords.SystemPassword(); });

    const auto seed = static_cast<std::uint32_t>(
        std::chrono::system_clock::now().time_since_epoch().count());
    SetRegionalFormats();

    // Bound here, in the copy that runs, so that a second start never shows its boxes.
    KeepAwake keepAwake(
        [](const std::string& text) { ShowMsgBox(nullptr, QString::fromStdString(text), kMsgError); },
        "wexhaven");

    const std::string programPath = ProgramPath();
    std::string programFolder(programPath.substr(0, programPath.rfind('/') + 1));
    TfmMain window(ClientMainParts{store, passwords, ProgramSidePath(".ini"), programFolder,
                                   FileVersionText(programPath), programFolder + kClientHelpFile,
                                   &keepAwake, nullptr, seed});
    QObject::connect(&window, &TfmMain::Closed, app.get(), CloseOpenDialogsAndQuit, Qt::QueuedConnection);
    window.FormCreate();
    messengerHost->Messenger().SetOnSelfEvent(
        [&window](TSelfMessenger&, int messageId, const std::string& text, bool loopBack) {
            window.SelfMessengerSelfEvent(messageId, text, loopBack);
        });
    endRequests.SetHandler([&window] { window.EndSession(); });
    if (window.IsClosed()) return 0;
    return QApplication::exec();
}
