// The process entry of the selling client: the settings store as single-instance lock,
// the close request to a running copy ("Q" or "QUIT"), the fixed regional formats, the
// keep-awake request, the hidden main window with its tray icon, and the system's requests
// to end (SIGTERM, SIGHUP, SIGINT), which close the program as the end of the desktop
// session does.
#include <QApplication>

#include <chrono>
#include <string>

#include "foundation/file_version.h"
#include "foundation/log_file.h"
#include "foundation/param_list.h"
#include "foundation/regional_formats.h"
#include "foundation/self_messenger.h"
#include "foundation/settings_store.h"
#include "foundation/widgets/close_open_dialogs.h"
#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/self_messenger_host.h"
#include "foundation/widgets/termination_signal_host.h"
#include "platform/keep_awake.h"
#include "platform/program_path.h"
#include "text_client/client_settings.h"
#include "text_client/client_startup.h"
#include "text_client/widgets/client_main_window.h"

int main(int argc, char** argv) {
    using namespace ecr;
    OpenProcessLog();
    QApplication app(argc, argv);
    // The program lives in the tray; only the main window's close ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    ClientPasswords passwords;
    // Holds the settings file open, locked against every other copy, until the process ends.
    TCodeStru store(ProgramSidePath(".stg"), passwords);

    // Lives as long as the application, so that a close request reaches the running copy.
    auto* messengerHost = new SelfMessengerHost(&app);
    if (std::optional<std::string> quitPassword = QuitRequestPassword(ParamList()))
        return SendCloseRequest(messengerHost->Messenger(), *quitPassword);
    if (!store.Opened()) return 0;  // another copy runs from this folder

    // Kept until the window has loaded the settings: a request that comes while a box holds
    // the start up dismisses the box, and the program ends once the start is through.
    TerminationSignalHost endRequests;

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
    QObject::connect(&window, &TfmMain::Closed, &app, CloseOpenDialogsAndQuit, Qt::QueuedConnection);
    messengerHost->Messenger().SetOnSelfEvent(
        [&window](TSelfMessenger&, int messageId, const std::string& text, bool loopBack) {
            window.SelfMessengerSelfEvent(messageId, text, loopBack);
        });
    window.FormCreate();
    endRequests.SetHandler([&window] { window.EndSession(); });
    if (window.IsClosed()) return 0;
    return QApplication::exec();
}
