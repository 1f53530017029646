#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include <optional>
#include <vector>

#include "foundation/widgets/msg_box.h"
#include "tests/support/key_typing.h"
#include "tests/text_client/qt_wait.h"
#include "tests/text_client/temp_folder.h"
#include "text_client/widgets/not_ready_dialog.h"
#include "text_client/widgets/settings_dialog.h"
#include "text_client/widgets/status_window.h"

namespace ecr {
namespace {

using testing_support::AnswerNextModal;
using testing_support::TempFolder;
using testing_support::WaitUntil;

// Records every message box and answers it with OK.
class BoxRecorder {
public:
    BoxRecorder()
        : scope_([this](const MsgBoxRequest& request) {
              texts.push_back(request.text.toStdString());
              return QMessageBox::Ok;
          }) {}
    std::vector<std::string> texts;

private:
    ScopedMsgBoxPresenter scope_;
};

class SettingsDialogTest : public ::testing::Test {
protected:
    SettingsDialogTest() {
        settings_ = DefaultClientSettings(folder_.Path());
        settings_.TimeOut = 25;
        passwords_.SetSystemPassword("sys");
        passwords_.SetLoginPassword("login");
        Reopen();
    }

    void Reopen() {
        dialog_.FillFields();
        dialog_.setResult(0);
        dialog_.show();
    }
    void Type(QLineEdit* field, const QString& text) { field->setText(text); }
    bool StillOpen() const { return dialog_.isVisible() && dialog_.result() != QDialog::Accepted; }

    TempFolder folder_;
    ClientSettings settings_;
    ClientPasswords passwords_;
    BoxRecorder boxes_;
    TfmAllCfg dialog_{settings_, passwords_};
};

TEST_F(SettingsDialogTest, FieldsShowTheValuesInForce) {
    EXPECT_EQ(dialog_.eAdr->text(), "127.0.0.1");
    EXPECT_EQ(dialog_.ePort->text(), "4999");
    EXPECT_EQ(dialog_.eSysPW->text(), "sys");
    EXPECT_EQ(dialog_.eSysPW->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog_.eRecPW->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog_.eTO->text(), "25");
    EXPECT_EQ(dialog_.eInpP->text().toStdString(), folder_.Path());
    EXPECT_EQ(dialog_.eInpE->text(), "INP");
    EXPECT_EQ(dialog_.eOutE->text(), "OUT");
    EXPECT_EQ(dialog_.rgEncoding->checkedId(), 1);
    EXPECT_EQ(dialog_.rgAction->checkedId(), 0);
    EXPECT_EQ(dialog_.PageControl->currentIndex(), 0);
    EXPECT_EQ(dialog_.HelpContext(), kServerPageHelpContext);
    EXPECT_GE(dialog_.minimumWidth(), 427);
    EXPECT_GE(dialog_.minimumHeight(), 304);
}

// The password entries take whole characters within the 255 bytes that a password keeps,
// so that what they show is what is kept.
TEST_F(SettingsDialogTest, PasswordEntriesTakeWholeCharactersWithin255Bytes) {
    const QString a254(254, QLatin1Char('a'));
    for (QLineEdit* edit : {dialog_.eSysPW, dialog_.eRecPW}) {
        edit->clear();
        test::TypeText(edit, a254 + QString::fromUtf8("жж"));
        EXPECT_EQ(edit->text(), a254) << edit->objectName().toStdString();
        EXPECT_EQ(edit->displayText(), QString(254, QLatin1Char('*')));
    }
    dialog_.BitBtnOkClick();
    EXPECT_EQ(passwords_.SystemPassword(), a254.toStdString());
    EXPECT_EQ(passwords_.LoginPassword(), a254.toStdString());
}

TEST_F(SettingsDialogTest, ActionAndEncodingChoices) {
    struct Case {
        std::string action;
        int shown;
    };
    for (const Case& c : {Case{"REPLACE", 0}, Case{"APPEND", 1}, Case{"UNIQUE", 2},
                          Case{"NO_OUTPUT", 3}, Case{"replace", 3}, Case{"", 3}}) {
        settings_.Action = c.action;
        dialog_.FillFields();
        EXPECT_EQ(dialog_.rgAction->checkedId(), c.shown) << c.action;
    }
    settings_.Encoding = TextEncoding::Dos;
    dialog_.FillFields();
    EXPECT_EQ(dialog_.rgEncoding->checkedId(), 0);

    const char* const taken[] = {"REPLACE", "APPEND", "UNIQUE", "NO_OUTPUT"};
    for (int id = 0; id < 4; ++id) {
        dialog_.setResult(0);
        dialog_.show();
        dialog_.rgAction->button(id)->setChecked(true);
        dialog_.rgEncoding->button(id % 2)->setChecked(true);
        dialog_.cbSELL_with_PLU->setChecked(id == 2);
        dialog_.BitBtnOk->click();
        EXPECT_EQ(dialog_.result(), QDialog::Accepted);
        EXPECT_EQ(settings_.Action, taken[id]);
        EXPECT_EQ(settings_.Encoding, id % 2 == 0 ? TextEncoding::Dos : TextEncoding::Windows);
        EXPECT_EQ(settings_.SELL_WITH_EXT_PLU, id == 2);
    }
}

TEST_F(SettingsDialogTest, TimeoutRange) {
    struct Case {
        const char* typed;
        std::optional<int> taken;
    };
    const Case cases[] = {{"0", std::nullopt},    {"10001", std::nullopt}, {"-5", std::nullopt},
                          {"ten", std::nullopt},  {"1", 1},               {"10000", 10000}};
    for (const Case& c : cases) {
        settings_.TimeOut = 25;
        boxes_.texts.clear();
        Reopen();
        dialog_.PageControl->setCurrentIndex(2);
        Type(dialog_.eAdr, "10.0.0.9");
        Type(dialog_.eTO, c.typed);
        dialog_.BitBtnOk->click();
        if (c.taken) {
            EXPECT_EQ(dialog_.result(), QDialog::Accepted) << c.typed;
            EXPECT_EQ(settings_.TimeOut, *c.taken);
            EXPECT_TRUE(boxes_.texts.empty());
        } else {
            EXPECT_TRUE(StillOpen()) << c.typed;
            EXPECT_EQ(settings_.TimeOut, 25);
            ASSERT_EQ(boxes_.texts.size(), 1u);
            EXPECT_EQ(boxes_.texts[0],
                      "Invalid timeout vaule !\r\nPlease enter value between 1 and 10000.");
            EXPECT_EQ(dialog_.PageControl->currentIndex(), 0);
        }
        EXPECT_EQ(settings_.Address, "10.0.0.9");  // taken before the timeout is tested
    }
}

TEST_F(SettingsDialogTest, RefusedTimeoutStillTakesAddressPortAndPasswords) {
    Type(dialog_.eAdr, "192.168.1.5");
    Type(dialog_.ePort, "5001");
    Type(dialog_.eSysPW, "new-sys");
    Type(dialog_.eRecPW, "new-login");
    Type(dialog_.eInpP, "/elsewhere/");
    Type(dialog_.eTO, "0");
    dialog_.BitBtnOk->click();
    EXPECT_TRUE(StillOpen());
    EXPECT_EQ(settings_.Address, "192.168.1.5");
    EXPECT_EQ(settings_.Port, 5001);
    EXPECT_EQ(passwords_.SystemPassword(), "new-sys");
    EXPECT_EQ(passwords_.LoginPassword(), "new-login");
    EXPECT_EQ(settings_.TimeOut, 25);
    EXPECT_EQ(settings_.InputPath, folder_.Path());  // nothing after the timeout
    dialog_.BitBtnCancel->click();
    EXPECT_EQ(dialog_.result(), QDialog::Rejected);
}

TEST_F(SettingsDialogTest, PortRange) {
    struct Case {
        const char* typed;
        int port;
        bool accepted;
    };
    const Case cases[] = {{"0", 0, true},          {"65535", 65535, true}, {"abc", 4999, true},
                          {"65536", 1234, false},  {"-1", 1234, false}};
    for (const Case& c : cases) {
        settings_.Port = 1234;
        boxes_.texts.clear();
        Reopen();
        Type(dialog_.ePort, c.typed);
        Type(dialog_.eSysPW, "typed");
        dialog_.BitBtnOk->click();
        EXPECT_EQ(settings_.Port, c.port) << c.typed;
        EXPECT_EQ(passwords_.SystemPassword(), "typed");
        if (c.accepted) {
            EXPECT_EQ(dialog_.result(), QDialog::Accepted) << c.typed;
        } else {
            EXPECT_TRUE(StillOpen()) << c.typed;
            ASSERT_EQ(boxes_.texts.size(), 1u);
            EXPECT_EQ(boxes_.texts[0], "Invalid port value !\r\nPlease enter value between 0 and 65535.");
        }
    }
}

TEST_F(SettingsDialogTest, FoldersGetAFinalSlashAndMustNotBeEmpty) {
    Type(dialog_.eInpP, "/data/in");
    Type(dialog_.eOutP, "");
    dialog_.BitBtnOk->click();
    EXPECT_TRUE(StillOpen());
    ASSERT_EQ(boxes_.texts.size(), 1u);
    EXPECT_EQ(dialog_.PageControl->currentIndex(), 1);
    EXPECT_EQ(settings_.InputPath, folder_.Path());

    Type(dialog_.eOutP, "/data/out");
    dialog_.BitBtnOk->click();
    EXPECT_EQ(dialog_.result(), QDialog::Accepted);
    EXPECT_EQ(settings_.InputPath, "/data/in/");
    EXPECT_EQ(settings_.OutputPath, "/data/out/");
    EXPECT_EQ(dialog_.eInpP->text(), "/data/in/");  // the field shows it too
}

TEST_F(SettingsDialogTest, OutputFolderAndExtensionThatNameTheInputFilesAreRefused) {
    const std::string in = folder_.Sub("in");
    const std::string out = folder_.Sub("out");
    struct Case {
        std::string outputFolder;
        const char* outputExt;
        int action;  // 0 replace, 1 append, 2 unique, 3 no output
        bool refused;
    };
    const Case cases[] = {
        {in, "inp", 0, true},
        {folder_.Path() + "in", "INP", 1, true},  // typed without the final "/"
        {out + "../in/", "Inp", 2, true},
        {in, "OUT", 0, false},
        {out, "INP", 0, false},
        {in, "INP", 3, false},  // no output: nothing is written there
    };
    for (const Case& c : cases) {
        const std::string name = c.outputFolder + " " + c.outputExt + " " + std::to_string(c.action);
        settings_ = DefaultClientSettings(folder_.Path());
        settings_.TimeOut = 25;
        boxes_.texts.clear();
        Reopen();
        Type(dialog_.eTO, "30");
        Type(dialog_.eInpP, QString::fromStdString(in));
        Type(dialog_.eInpE, "INP");
        Type(dialog_.eOutP, QString::fromStdString(c.outputFolder));
        Type(dialog_.eOutE, c.outputExt);
        dialog_.rgAction->button(c.action)->setChecked(true);
        dialog_.PageControl->setCurrentIndex(2);
        dialog_.BitBtnOk->click();
        if (c.refused) {
            EXPECT_TRUE(StillOpen()) << name;
            ASSERT_EQ(boxes_.texts.size(), 1u) << name;
            EXPECT_EQ(boxes_.texts[0],
                      "Invalid output folder or extension !\r\n"
                      "The output files would be taken as input files.\r\n"
                      "Please enter another output folder or extension.");
            EXPECT_EQ(dialog_.PageControl->currentIndex(), 1) << name;
            // Nothing of the directories or actions is taken over.
            EXPECT_EQ(settings_.InputPath, folder_.Path()) << name;
            EXPECT_EQ(settings_.OutputExt, "OUT") << name;
            EXPECT_EQ(settings_.Action, "REPLACE") << name;
            EXPECT_EQ(settings_.TimeOut, 30) << name;
        } else {
            EXPECT_EQ(dialog_.result(), QDialog::Accepted) << name;
            EXPECT_TRUE(boxes_.texts.empty()) << name;
            EXPECT_EQ(settings_.InputPath, in) << name;
            EXPECT_EQ(settings_.OutputExt, c.outputExt) << name;
        }
    }
}

TEST_F(SettingsDialogTest, HelpContextFollowsThePage) {
    const int expected[] = {kServerPageHelpContext, kDirectoriesPageHelpContext,
                            kEncodingPageHelpContext, 0};
    for (int page : {1, 2, 3, 0}) {
        dialog_.PageControl->setCurrentIndex(page);
        EXPECT_EQ(dialog_.HelpContext(), expected[page]);
    }
}

TEST_F(SettingsDialogTest, BrowseButtonsPickTheFolderOfTheChosenFile) {
    const std::string picked = folder_.Sub("picked");
    for (QPushButton* button : {dialog_.BitBtnInpBr, dialog_.BitBtn1}) {
        const bool forInput = button == dialog_.BitBtnInpBr;
        QString startFolder;
        AnswerNextModal<QFileDialog>([&](QFileDialog* files) {
            startFolder = files->directory().absolutePath() + "/";
            EXPECT_EQ(files->objectName(), forInput ? "odLocation" : "sdLocation");
            files->selectFile(QString::fromStdString(picked + "Location"));
            QMetaObject::invokeMethod(files, "accept");
        });
        button->click();
        EXPECT_EQ(startFolder.toStdString(), folder_.Path());
        QLineEdit* field = forInput ? dialog_.eInpP : dialog_.eOutP;
        EXPECT_EQ(field->text().toStdString(), picked);
    }
}

TEST(StatusWindow, RowsAndColours) {
    ClientStatus status{true, "127.0.0.1", 4999, "v1.0.21.1", true, "/data/in/", ""};
    TfmStatus window([&] { return status; });
    window.show();
    EXPECT_EQ(window.eState->text(), "Started");
    EXPECT_EQ(window.eServer->text(), "IP: 127.0.0.1  Port: 4999  ver.: v1.0.21.1");
    EXPECT_EQ(window.ePath->text(), "/data/in/");
    const QColor green(0, 128, 0);
    const QColor red(255, 0, 0);
    EXPECT_EQ(window.eState->palette().color(QPalette::Text), green);
    EXPECT_EQ(window.eServer->palette().color(QPalette::Text), green);
    EXPECT_EQ(window.ePath->palette().color(QPalette::Text), green);
    EXPECT_TRUE(window.eState->isReadOnly());

    status.started = false;
    status.connected = false;
    status.serverVersion = "unknown";
    window.RefreshStatusIfShown();
    EXPECT_EQ(window.eState->text(), "Stopped");
    EXPECT_EQ(window.eState->palette().color(QPalette::Text), red);
    EXPECT_EQ(window.eServer->palette().color(QPalette::Text), red);
    EXPECT_EQ(window.eServer->text(), "IP: 127.0.0.1  Port: 4999  ver.: unknown");

    // Stopped by itself: the row says why.
    status.stopReason = "the output folder and extension name the input files";
    window.RefreshStatusIfShown();
    EXPECT_EQ(window.eState->text(), "Stopped: the output folder and extension name the input files");
    EXPECT_EQ(window.eState->palette().color(QPalette::Text), red);
    status.stopReason.clear();
    window.RefreshStatusIfShown();
    EXPECT_EQ(window.eState->text(), "Stopped");

    // Files passed over wait for a person: the row names them.
    EXPECT_EQ(window.ePassedOver->text(), "");
    status.passedOver = {"/data/in/a.INP (finished, but it could not be removed)",
                         "/data/in/b.INP (set aside for a check, but it could not be moved)"};
    window.RefreshStatusIfShown();
    EXPECT_EQ(window.ePassedOver->text(),
              "/data/in/a.INP (finished, but it could not be removed); "
              "/data/in/b.INP (set aside for a check, but it could not be moved)");
    EXPECT_EQ(window.ePassedOver->palette().color(QPalette::Text), red);

    window.hide();
    status.started = true;
    window.RefreshStatusIfShown();  // a hidden window is left alone
    EXPECT_EQ(window.eState->text(), "Stopped");
}

TEST(StatusWindow, EscapeClosesAndTheTestKeyShowsTheException) {
    BoxRecorder boxes;
    TfmStatus window([] { return ClientStatus{}; });
    window.show();
    QKeyEvent testKey(QEvent::KeyPress, Qt::Key_F7,
                      Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    QApplication::sendEvent(&window, &testKey);
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], kStatusTestExceptionText);
    EXPECT_TRUE(window.isVisible());

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&window, &escape);
    EXPECT_FALSE(window.isVisible());
}

TEST(NotReadyDialog, AnswersCancelOrRetry) {
    TfmTimeOut dialog;
    std::vector<NotReadyAnswer> answers;
    dialog.OnAnswer = [&](NotReadyAnswer answer) { answers.push_back(answer); };

    dialog.ShowText("Cash Register 4 not ready.\r\nFile: day.inp");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.isModal());
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(dialog.Lbl->text(), "Cash Register 4 not ready.\nFile: day.inp");
    EXPECT_TRUE(dialog.Lbl->font().bold());
    EXPECT_TRUE(dialog.Lbl->alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(dialog.btnRetry->isDefault());
    EXPECT_EQ(dialog.btnCancel->text(), "&Cancel");
    EXPECT_EQ(dialog.btnRetry->text(), "&Retry");
    EXPECT_EQ(dialog.HelpContext(), 100);

    dialog.btnRetry->click();
    dialog.ShowText("again");
    dialog.btnCancel->click();
    dialog.ShowText("again");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &escape);
    dialog.ShowText("again");
    dialog.close();  // the close box
    EXPECT_EQ(answers, (std::vector<NotReadyAnswer>{NotReadyAnswer::Retry, NotReadyAnswer::Cancel,
                                                    NotReadyAnswer::Cancel, NotReadyAnswer::Cancel}));

    dialog.ShowText("again");
    dialog.CloseQuietly();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(answers.size(), 4u);
}

}  // namespace
}  // namespace ecr
