#include "text_client/widgets/client_main_window.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <vector>

#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/password_dialog.h"
#include "foundation/widgets/termination_signal_host.h"
#include "foundation/widgets/tray_stand_in.h"
#include "server/client_message.h"
#include "server/receipt_ref.h"
#include "tests/support/key_typing.h"
#include "tests/text_client/frozen_folder.h"
#include "tests/text_client/poll_loop.h"
#include "tests/text_client/qt_wait.h"
#include "tests/support/tray_test_support.h"
#include "tests/text_client/temp_folder.h"
#include "text_client/widgets/settings_dialog.h"

namespace ecr {
namespace {

using testing_support::AnswerNextModal;
using testing_support::FakeServer;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WaitUntil;
using testing_support::WriteFile;

// The Block of a sale reply: only the register's serial and message numbers count here.
std::string ReceiptBlock(std::int32_t serial, std::uint8_t digit) {
    return ReceiptRef{0, 0, serial, digit}.Encode();
}

class ClientMainWindowTest : public ::testing::Test {
protected:
    ClientMainWindowTest()
        : boxes_([this](const MsgBoxRequest& request) {
              boxTexts_.push_back(request.text.toStdString());
              return QMessageBox::Ok;
          }) {
        in_ = folder_.Sub("in");
        out_ = folder_.Sub("out");
        WriteFile(folder_.Path() + "wexhaven.ini",
                  "[Server]\nAddress=127.0.0.1\nPort=" + std::to_string(server_.Port()) +
                      "\nTimeOut=1\n[Directories]\nInputPath=" + in_ + "\nOutputPath=" + out_ + "\n");
        passwords_.SetSystemPassword("secret");
        passwords_.SetLoginPassword("login");
        store_.Save();
        passwords_ = ClientPasswords{};  // FormCreate loads them from the store
    }

    TfmMain& Window() {
        if (!window_) {
            window_ = std::make_unique<TfmMain>(ClientMainParts{
                store_, passwords_, folder_.Path() + "wexhaven.ini", folder_.Path(), "v3.0.4.1",
                folder_.Path() + "Wexhaven.hlp", keepAwake_.get(),
                [this](const std::string& text) { log_.push_back(text); }, 7});
            window_->FormCreate();
        }
        return *window_;
    }

    // Connects now (not after the start delay) and answers the identification.
    void Identify() {
        Window().Loop().ConnectToServer();
        AcceptAndIdentify();
    }
    // Takes the connection that the loop opens and answers its identification.
    void AcceptAndIdentify() {
        ASSERT_TRUE(server_.Accept());
        ASSERT_TRUE(WaitUntil([&] { return Window().Loop().ProcessState() == 3; }));
        ASSERT_EQ(server_.ReadMessage(), BuildClientMessage(255, 1, 0, 0, "", ""));
        server_.SendMessage(BuildClientMessage(255, 1, 0, 0, "", "Harbendix;v1.0.21.1;"));
        ASSERT_TRUE(WaitUntil([&] { return Window().Loop().ProcessState() == 1; }));
    }

    ClientMessage Next(int timeoutMs = 5000) {
        std::optional<std::string> message;
        WaitUntil([&] {
            message = server_.ReadMessage(0);
            return message.has_value();
        }, timeoutMs);
        if (!message) {
            ADD_FAILURE() << "no request came";
            return {};
        }
        return ParseClientMessage(*message);
    }

    void Reply(std::uint8_t command, std::uint8_t logNo, std::uint8_t errorCode,
               const std::string& block = "") {
        server_.SendMessage(BuildClientMessage(13, command, logNo, errorCode, block, ""));
    }

    // Answers the next password question with `typed` (OK) or Cancel (nullopt).
    static void AnswerPassword(std::optional<QString> typed, std::function<void()> meanwhile = {}) {
        AnswerNextModal<TfmPassword>([typed, meanwhile](TfmPassword* dialog) {
            if (meanwhile) meanwhile();
            if (typed) {
                dialog->ePassword->setText(*typed);
                dialog->BitBtnOK->click();
            } else {
                dialog->BitBtnCancel->click();
            }
        });
    }

    TempFolder folder_;
    std::string in_;
    std::string out_;
    FakeServer server_;
    std::vector<std::string> boxTexts_;
    ScopedMsgBoxPresenter boxes_;
    ClientPasswords passwords_;
    TCodeStru store_{folder_.Path() + "wexhaven.stg", passwords_};
    std::unique_ptr<KeepAwake> keepAwake_;
    std::vector<std::string> log_;
    std::unique_ptr<TfmMain> window_;
};

TEST_F(ClientMainWindowTest, CreationShowsTheStoppedTrayAndConnectsAfterThreeSeconds) {
    keepAwake_ = std::make_unique<KeepAwake>(
        [this](const std::string& text) { boxTexts_.push_back(text); }, "wexhaven", "libnot-there.so.0");
    const auto created = std::chrono::steady_clock::now();
    TfmMain& window = Window();
    EXPECT_EQ(boxTexts_, (std::vector<std::string>{"Error loading libnot-there.so.0",
                                                   "Function sd_bus_open_system not defined"}));
    EXPECT_EQ(window.Title(), "Wexhaven v3.0.4");
    EXPECT_EQ(ApplicationTitle(), "Wexhaven v3.0.4");
    EXPECT_EQ(window.Tray().Hint(), "Wexhaven v3.0.4");
    EXPECT_EQ(window.Tray().Image(), kTrayImageStopped);
    EXPECT_TRUE(window.Tray().Shown());
    EXPECT_EQ(window.miStartStop->text(), "&Stop");
    EXPECT_FALSE(window.miConfigure->isEnabled());
    EXPECT_EQ(window.Settings().Port, server_.Port());
    EXPECT_EQ(window.Settings().InputPath, in_);
    EXPECT_EQ(passwords_.SystemPassword(), "secret");
    EXPECT_TRUE(window.SockClient().Enabled());

    QStringList items;
    for (QAction* action : window.PopupMenu()->actions()) items << action->objectName();
    EXPECT_EQ(items, (QStringList{"miHelp", "miStatus", "N1", "miConfigure", "N6", "miStartStop", "miIzhod"}));

    ASSERT_TRUE(WaitUntil([&] { return window.Loop().ProcessState() == 3; }, 15000));
    EXPECT_GE(std::chrono::steady_clock::now() - created, std::chrono::milliseconds(3000));
    ASSERT_TRUE(server_.Accept());
    ASSERT_EQ(server_.ReadMessage(), BuildClientMessage(255, 1, 0, 0, "", ""));

    window.TrayIconDblClick();  // the status window, before and after the identification
    EXPECT_TRUE(window.StatusWindow().isVisible());
    EXPECT_EQ(window.StatusWindow().eServer->text().toStdString(),
              "IP: 127.0.0.1  Port: " + std::to_string(server_.Port()) + "  ver.: unknown");
    server_.SendMessage(BuildClientMessage(255, 1, 0, 0, "", "Harbendix;v1.0.21.1;"));
    ASSERT_TRUE(WaitUntil([&] { return window.Loop().ProcessState() == 1; }));
    EXPECT_EQ(window.Tray().Image(), kTrayImageRunning);
    EXPECT_EQ(window.StatusWindow().eState->text(), "Started");
    EXPECT_EQ(window.StatusWindow().eServer->text().toStdString(),
              "IP: 127.0.0.1  Port: " + std::to_string(server_.Port()) + "  ver.: v1.0.21.1");
}

TEST_F(ClientMainWindowTest, SellsAFileThroughTheEventLoop) {
    WriteFile(in_ + "day.INP", "S,2,______,_,__;5;2.00;\r\nT,2,______,_,__;\r\n");
    Identify();
    ClientMessage open = Next();
    EXPECT_EQ(open.Command, 1);
    EXPECT_EQ(open.Payload, "login");
    Reply(1, 2, 0);
    EXPECT_EQ(Next().Payload, "1;5;2.00;");
    Reply(160, 2, 0, ReceiptBlock(77, 1));
    EXPECT_EQ(Next().Command, 6);
    Reply(4, 2, 0, ReceiptBlock(77, 1));
    Reply(160, 2, 0, ReceiptBlock(78, 2));
    Reply(6, 2, 0, ReceiptBlock(78, 2));
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(out_ + "day.OUT"); }));
    EXPECT_EQ(ReadFile(out_ + "day.OUT"), "S,2,000077,1,Ok;5;2.00;\r\nT,2,000078,2,Ok;\r\n");
    EXPECT_FALSE(std::filesystem::exists(in_ + "day.INP"));
}

TEST_F(ClientMainWindowTest, NotReadyDialogCancelAbandonsTheFile) {
    WriteFile(in_ + "late.INP", "S,4,______,_,__;x;\n");
    Identify();
    Next();
    // Before the sale line goes out: the reply to the opening sends it, and its wait begins.
    const auto sent = std::chrono::steady_clock::now();
    Reply(1, 4, 0);
    Next();
    TfmTimeOut& dialog = Window().NotReadyDialog();
    ASSERT_TRUE(WaitUntil([&] { return dialog.isVisible(); }, 15000));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(900));  // TimeOut 1 s
    EXPECT_EQ(dialog.Lbl->text(), "Cash Register 4 not ready.\nFile: late.INP");
    EXPECT_EQ(dialog.windowTitle(), "Wexhaven v3.0.4");
    EXPECT_FALSE(Window().GeneralTimer().isActive());

    dialog.btnCancel->click();
    ClientMessage cancel = Next();
    EXPECT_EQ(cancel.Command, 3);
    EXPECT_EQ(cancel.LogNo, 4);
    Reply(3, 4, 0);
    // x went out and has had no reply: TimeOut seconds after the cancel reply the file is
    // finished with x marked, and the connection is opened anew.
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(out_ + "late.OUT"); }));
    EXPECT_EQ(ReadFile(out_ + "late.OUT"), "S,4,000000,0,??;x;\n");
    EXPECT_FALSE(dialog.isVisible());
    ASSERT_TRUE(WaitUntil([&] { return server_.ClientClosed(0); }));
    AcceptAndIdentify();
    EXPECT_EQ(Window().Loop().ProcessState(), 1);
}

TEST_F(ClientMainWindowTest, NotReadyDialogRetryAndAReplyClosesIt) {
    WriteFile(in_ + "late.INP", "S,4,______,_,__;x;\n");
    Identify();
    Next();
    Reply(1, 4, 0);
    Next();
    TfmTimeOut& dialog = Window().NotReadyDialog();
    ASSERT_TRUE(WaitUntil([&] { return dialog.isVisible(); }, 15000));
    dialog.btnRetry->click();
    EXPECT_EQ(Window().Loop().NotReadyCounter(), 0);
    EXPECT_TRUE(Window().GeneralTimer().isActive());
    ASSERT_TRUE(WaitUntil([&] { return dialog.isVisible(); }, 15000));  // still no reply
    Reply(160, 4, 0, ReceiptBlock(5, 0));
    ASSERT_TRUE(WaitUntil([&] { return !dialog.isVisible(); }));
    Reply(4, 4, 0, ReceiptBlock(5, 0));
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(out_ + "late.OUT"); }));
    EXPECT_EQ(ReadFile(out_ + "late.OUT"), "S,4,000005,0,Ok;x;\n");
}

TEST_F(ClientMainWindowTest, StopWhileTheNotReadyDialogIsShownLeavesTheTimerOff) {
    WriteFile(in_ + "late.INP", "S,4,______,_,__;x;\n");
    Identify();
    Next();
    TfmTimeOut& dialog = Window().NotReadyDialog();
    ASSERT_TRUE(WaitUntil([&] { return dialog.isVisible(); }, 15000));
    AnswerPassword(QStringLiteral("secret"));
    Window().miStartStopClick();
    EXPECT_EQ(Window().Loop().ProcessState(), 0);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(Window().GeneralTimer().isActive());
    EXPECT_EQ(ReadFile(out_ + "late.OUT"), "S,4,______,_,__;x;\n");
}

TEST_F(ClientMainWindowTest, OutputThatWouldBeAnInputFileStopsAndTheStatusWindowSaysWhy) {
    // Written by hand: the output folder is the input folder, the extension differs in case only.
    WriteFile(folder_.Path() + "wexhaven.ini",
              "[Server]\nAddress=127.0.0.1\nPort=" + std::to_string(server_.Port()) +
                  "\nTimeOut=1\n[Directories]\nInputPath=" + in_ + "\nInputExt=INP\nOutputPath=" +
                  in_ + "\nOutputExt=inp\n");
    WriteFile(in_ + "day.INP", "S,2,______,_,__;x;\n");
    Identify();
    TfmMain& window = Window();
    window.TrayIconDblClick();
    EXPECT_EQ(window.StatusWindow().eState->text(), "Started");
    Next();
    Reply(1, 2, 0);
    Next();
    Reply(160, 2, 0, ReceiptBlock(9, 1));
    Reply(4, 2, 0, ReceiptBlock(9, 1));
    ASSERT_TRUE(WaitUntil([&] { return window.Loop().ProcessState() == 0; }));
    EXPECT_EQ(ReadFile(in_ + "day.INP"), "S,2,000009,1,Ok;x;\n");
    EXPECT_EQ(window.StatusWindow().eState->text(),
              "Stopped: the output folder and extension name the input files");
    EXPECT_EQ(window.miStartStop->text(), "&Start");
    EXPECT_TRUE(window.miConfigure->isEnabled());
    EXPECT_EQ(window.Tray().Image(), kTrayImageStopped);
    EXPECT_FALSE(window.GeneralTimer().isActive());
    EXPECT_TRUE(boxTexts_.empty());

    // A start clears the reason.
    window.miStartStopClick();
    ASSERT_TRUE(server_.Accept());
    ASSERT_TRUE(WaitUntil([&] { return window.Loop().ProcessState() == 3; }));
    window.RefreshStatusIfShown();
    EXPECT_EQ(window.StatusWindow().eState->text(), "Started");
}

// A file sold whose output is written but that cannot leave the input folder is passed
// over, named in the status window, and remembered beside the INI file for the next start.
TEST_F(ClientMainWindowTest, FileThatCannotLeaveTheInputFolderIsNamedInTheStatusWindow) {
    WriteFile(folder_.Path() + "wexhaven.ini",
              "[Server]\nAddress=127.0.0.1\nPort=" + std::to_string(server_.Port()) +
                  "\nTimeOut=1\n[Directories]\nInputPath=" + in_ + "\nOutputPath=" + out_ +
                  "\n[Output]\nAction=APPEND\n");
    WriteFile(in_ + "day.INP", "S,2,______,_,__;x;\n");
    testing_support::FrozenFolder frozen(in_);
    if (!frozen.Frozen()) GTEST_SKIP() << "the input folder cannot be made read-only here";
    Identify();
    TfmMain& window = Window();
    window.TrayIconDblClick();
    EXPECT_EQ(window.StatusWindow().ePassedOver->text(), "");
    Next();
    Reply(1, 2, 0);
    Next();
    Reply(160, 2, 0, ReceiptBlock(9, 1));
    Reply(4, 2, 0, ReceiptBlock(9, 1));
    ASSERT_TRUE(WaitUntil([&] { return !window.Loop().Input().PassedOver().empty(); }));
    EXPECT_EQ(window.StatusWindow().ePassedOver->text().toStdString(),
              in_ + "day.INP (finished, but it could not be removed)");
    EXPECT_EQ(ReadFile(out_ + "day.OUT"), "S,2,000009,1,Ok;x;\n");
    EXPECT_NE(ReadFile(folder_.Path() + "wexhaven.passed").find(in_ + "day.INP"), std::string::npos);
    EXPECT_EQ(window.Loop().ProcessState(), 1);  // selling goes on
}

TEST_F(ClientMainWindowTest, StopAndConfigureBehindTheSystemPassword) {
    Identify();
    TfmMain& window = Window();
    AnswerPassword(std::nullopt);
    window.miStartStopClick();
    EXPECT_EQ(window.Loop().ProcessState(), 1);
    AnswerPassword(QStringLiteral("secret"));
    window.miStartStopClick();
    EXPECT_EQ(window.Loop().ProcessState(), 0);
    EXPECT_EQ(window.miStartStop->text(), "&Start");
    EXPECT_TRUE(window.miConfigure->isEnabled());
    EXPECT_EQ(window.Tray().Image(), kTrayImageStopped);

    // A refused timeout, then Cancel: the address and passwords typed stay and are saved.
    AnswerPassword(QStringLiteral("secret"));
    AnswerNextModal<TfmAllCfg>([](TfmAllCfg* dialog) {
        EXPECT_EQ(dialog->HelpContext(), kServerPageHelpContext);
        dialog->eAdr->setText("10.1.2.3");
        dialog->eSysPW->setText("changed");
        dialog->eTO->setText("10001");
        dialog->BitBtnOk->click();
        EXPECT_TRUE(dialog->isVisible());
        dialog->BitBtnCancel->click();
    });
    window.miConfigureClick();
    ASSERT_EQ(boxTexts_.size(), 1u);
    EXPECT_EQ(boxTexts_[0], "Invalid timeout vaule !\r\nPlease enter value between 1 and 10000.");
    IniFile ini(folder_.Path() + "wexhaven.ini");
    EXPECT_EQ(ini.readString("Server", "Address", ""), "10.1.2.3");
    EXPECT_EQ(ini.readInteger("Server", "TimeOut", 0), 1);
    EXPECT_EQ(ini.readString("Output", "Action", ""), "REPLACE");  // every key written
    EXPECT_EQ(ini.readString("Encoding", "Encoding", ""), "WINDOWS");
    ClientPasswords reread = passwords_;
    passwords_ = ClientPasswords{};
    store_.Load();
    EXPECT_EQ(passwords_.SystemPassword(), "changed");
    EXPECT_EQ(passwords_.LoginPassword(), reread.LoginPassword());

    // A wrong password keeps the dialog out.
    AnswerNextModal<TfmPassword>([](TfmPassword* dialog) { dialog->BitBtnCancel->click(); });
    window.miConfigureClick();
    EXPECT_EQ(boxTexts_.size(), 1u);
}

// A system password set longer than a password keeps was kept as the whole characters that
// fit; the prompt's entry takes as much, so that the same typing passes it.
TEST_F(ClientMainWindowTest, PasswordPromptTakesWhatTheSystemPasswordKeeps) {
    const QString typed = QString(254, QLatin1Char('a')) + QString::fromUtf8("жж");
    passwords_.SetSystemPassword(typed.toStdString());
    store_.Save();
    passwords_ = ClientPasswords{};
    TfmMain& window = Window();
    EXPECT_EQ(passwords_.SystemPassword(), std::string(254, 'a'));
    AnswerNextModal<TfmPassword>([typed](TfmPassword* dialog) {
        test::TypeText(dialog->ePassword, typed);
        dialog->BitBtnOK->click();
        if (dialog->isVisible()) dialog->BitBtnCancel->click();  // refused
    });
    window.miStartStopClick();
    EXPECT_EQ(window.miStartStop->text(), "&Start");
    EXPECT_TRUE(boxTexts_.empty());
}

TEST_F(ClientMainWindowTest, QuitRequestClosesAndFinishesTheFileInWork) {
    WriteFile(in_ + "day.INP", "S,1,______,_,__;x;\n");
    Identify();
    Next();
    TfmMain& window = Window();
    int closed = 0;
    QObject::connect(&window, &TfmMain::Closed, [&closed] { ++closed; });
    window.SelfMessengerSelfEvent(2, "wrong", false);
    window.SelfMessengerSelfEvent(2, "secret", true);  // its own, looped back
    EXPECT_EQ(closed, 0);
    window.SelfMessengerSelfEvent(2, "secret", false);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(window.IsClosed());
    EXPECT_FALSE(window.Tray().Shown());
    EXPECT_EQ(ReadFile(out_ + "day.OUT"), "S,1,______,_,__;x;\n");  // REPLACE applied
}

TEST_F(ClientMainWindowTest, QuitRequestDuringThePasswordQuestionLetsTheNextExitThrough) {
    TfmMain& window = Window();
    int closed = 0;
    QObject::connect(&window, &TfmMain::Closed, [&closed] { ++closed; });
    AnswerPassword(std::nullopt, [&] { window.SelfMessengerSelfEvent(2, "secret", false); });
    window.miIzhodClick();
    EXPECT_EQ(closed, 0);
    EXPECT_TRUE(window.Loop().QuitFlag());
    window.miIzhodClick();  // no question this time
    EXPECT_EQ(closed, 1);
}

// The end of the session (or a signal) closes as a valid close request does, also while a
// password question shows: the question goes first, then the window closes; but the file
// in work, whose line was not sold, stays in the input folder.
TEST_F(ClientMainWindowTest, TheEndOfTheSessionClosesWithoutThePasswordAlsoWhileItIsAsked) {
    for (const bool whileAsked : {false, true}) {
        SCOPED_TRACE(whileAsked ? "while the password is asked" : "no question open");
        WriteFile(in_ + "day.INP", "S,1,______,_,__;x;\n");
        std::filesystem::remove(out_ + "day.OUT");
        window_.reset();
        Identify();
        Next();
        TfmMain& window = Window();
        int closed = 0;
        QObject::connect(&window, &TfmMain::Closed, [&closed] { ++closed; });
        if (whileAsked) {
            AnswerNextModal<TfmPassword>([&window](TfmPassword* dialog) {
                window.EndSession();
                // Bounded: a question that the end of the session left open goes later.
                QTimer::singleShot(5000, dialog, [dialog] { dialog->BitBtnCancel->click(); });
            });
            window.miStartStopClick();  // the stop asks; the session ends meanwhile
            EXPECT_TRUE(WaitUntil([&] { return closed == 1; }));
        } else {
            window.EndSession();
        }
        EXPECT_EQ(closed, 1);
        EXPECT_TRUE(window.IsClosed());
        EXPECT_FALSE(window.Tray().Shown());
        // Nobody chose to abandon x, which was not sold: the file stays to be sold.
        EXPECT_EQ(ReadFile(in_ + "day.INP"), "S,1,______,_,__;x;\n");
        EXPECT_FALSE(std::filesystem::exists(out_ + "day.OUT"));
        window.EndSession();  // closed already: nothing more
        EXPECT_EQ(closed, 1);
    }
}

// A signal while the not-ready dialog shows, with the handler set as the program sets it:
// the close takes the dialog down quietly. Nobody cancelled the file: no cancel goes to the
// server, and the file with a line still to sell stays in the input folder, its line that
// went out marked as one the register may have.
TEST_F(ClientMainWindowTest, ASignalWhileTheNotReadyDialogShowsCancelsNothing) {
    WriteFile(in_ + "day.INP", "S,4,______,_,__;x;\nS,4,______,_,__;y;\n");
    TerminationSignalHost endRequests;
    TfmMain& window = Window();
    endRequests.SetHandler([&window] { window.EndSession(); });
    int closed = 0;
    QObject::connect(&window, &TfmMain::Closed, [&closed] { ++closed; });
    Identify();
    Next();
    Reply(1, 4, 0);
    EXPECT_EQ(Next().Command, 4);
    TfmTimeOut& dialog = window.NotReadyDialog();
    ASSERT_TRUE(WaitUntil([&] { return dialog.isVisible(); }, 15000));
    ::raise(SIGTERM);
    ASSERT_TRUE(WaitUntil([&] { return closed == 1; }));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(server_.ReadMessage(1000).has_value());  // the connection ends with nothing more
    EXPECT_EQ(ReadFile(in_ + "day.INP"), "S,4,000000,0,??;x;\nS,4,______,_,__;y;\n");
    EXPECT_FALSE(std::filesystem::exists(out_ + "day.OUT"));
}

// On a desktop without a notification area a window of the program's own stands in for the
// icon: its menu, the status window and "Exit" stay within reach.
TEST_F(ClientMainWindowTest, WithoutANotificationAreaAWindowStandsInForTheTrayIcon) {
    test::FakeTrayDesktop desktop(test::kDesktopWithoutTray);
    TfmMain& window = Window();
    TrayStandIn* standIn = window.Tray().Desktop().StandIn();
    ASSERT_NE(standIn, nullptr);
    EXPECT_TRUE(standIn->isVisible());
    EXPECT_EQ(standIn->windowTitle(), "Wexhaven v3.0.4");

    standIn->MenuButton()->click();
    EXPECT_TRUE(WaitUntil([&] { return window.PopupMenu()->isVisible(); }));
    window.PopupMenu()->hide();
    test::DoubleClickOn(*standIn);
    EXPECT_TRUE(window.StatusWindow().isVisible());
    window.StatusWindow().hide();

    // Closing it ends nothing.
    EXPECT_FALSE(standIn->close());
    EXPECT_TRUE(standIn->isVisible());
    EXPECT_FALSE(window.IsClosed());

    // The panel starts after the program: the icon shows, with its menu, and the stand-in
    // goes; it comes back when the tray goes away.
    desktop.kind = test::kEmbeddedTray;
    window.Tray().Desktop().CheckTray();
    EXPECT_EQ(window.Tray().Desktop().StandIn(), nullptr);
    EXPECT_TRUE(window.Tray().Desktop().SystemIcon().isVisible());
    EXPECT_EQ(window.Tray().Desktop().SystemIcon().contextMenu(), window.PopupMenu());
    desktop.kind = test::kDesktopWithoutTray;
    window.Tray().Desktop().CheckTray();
    ASSERT_NE(window.Tray().Desktop().StandIn(), nullptr);

    // "Exit" from its menu ends the program and takes the stand-in away.
    AnswerPassword(QStringLiteral("secret"));
    window.miIzhod->trigger();
    EXPECT_TRUE(window.IsClosed());
    EXPECT_EQ(window.Tray().Desktop().StandIn(), nullptr);
}

}  // namespace
}  // namespace ecr
