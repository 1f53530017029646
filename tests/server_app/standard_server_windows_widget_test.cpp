// The server's own windows behind the main window: the shared dialogs driven offscreen,
// and the error box through the message-box seam.
#include "server_app/standard_server_windows.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "foundation/widgets/lang_sel_dialog.h"
#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/offset_dialog.h"
#include "foundation/widgets/password_dialog.h"
#include "platform/registry.h"
#include "platform/serial_port_names.h"
#include "server_app/access_dialog.h"
#include "server_app/language_dialog.h"
#include "server_app/line_test_dialog.h"
#include "server_app/ports_dialog.h"
#include "server_app/register_search_dialog.h"
#include "server_app/status_window.h"
#include "tests/server_app/window_test_support.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

// Runs `drive` on the modal dialog of type Dialog as soon as it shows.
template <typename Dialog>
void WhenShown(std::function<void(Dialog&)> drive) {
  window_test::WhenShownAs<Dialog>(std::move(drive));
}

TEST(StandardServerWindows, ErrorsGoThroughTheMessageBoxSeam) {
  QGuiApplication::setApplicationDisplayName("Harbendix v1.0.21");
  std::vector<MsgBoxRequest> boxes;
  const ScopedMsgBoxPresenter presenter([&](const MsgBoxRequest& request) {
    boxes.push_back(request);
    return QMessageBox::Ok;
  });
  StandardServerWindows windows;
  windows.ShowError("Unable to open port COM1!");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text.toStdString(), "Unable to open port COM1!");
  EXPECT_EQ(boxes[0].kind, kMsgError);
  EXPECT_EQ(boxes[0].caption.toStdString(), "Harbendix v1.0.21");
}

TEST(StandardServerWindows, PasswordPrompt) {
  StandardServerWindows windows;
  EXPECT_TRUE(windows.AskPassword(""));  // shows nothing
  WhenShown<TfmPassword>([](TfmPassword& dialog) {
    dialog.ePassword->setText("s3cret");
    dialog.BitBtnOK->click();
  });
  EXPECT_TRUE(windows.AskPassword("s3cret"));
  WhenShown<TfmPassword>([](TfmPassword& dialog) { dialog.BitBtnCancel->click(); });
  EXPECT_FALSE(windows.AskPassword("s3cret"));
}

TEST(StandardServerWindows, OffsetAndCodeTableDialogs) {
  StandardServerWindows windows;
  std::int32_t nextNotifyId = 5;
  WhenShown<TfmOffset>([](TfmOffset& dialog) {
    dialog.eOffset->setText("1200");
    dialog.BitBtnOK->click();
  });
  windows.EditOffset(nextNotifyId);
  EXPECT_EQ(nextNotifyId, 1200);

  int index = 1;
  WhenShown<TfmLangSel>([](TfmLangSel& dialog) {
    dialog.lbAllLangs->setCurrentRow(2);
    dialog.OKBtn->click();
  });
  EXPECT_TRUE(windows.SelectCodeTable(index));
  EXPECT_EQ(index, 3);
  WhenShown<TfmLangSel>([](TfmLangSel& dialog) { dialog.OKBtn->click(); });  // the same row
  EXPECT_FALSE(windows.SelectCodeTable(index));
  EXPECT_EQ(index, 3);
}

// Every window of the tray menu opens from the set with the server's values and hands
// back what the user chose.
TEST(StandardServerWindows, MenuWindowsOpenWithTheServersValues) {
  TempDir temp;
  const std::string program = temp.File("harbendix");
  std::ofstream(program) << "program";
  Registry registry(temp.Path() / "registry");
  for (const char* port : {"COM1", "COM3"}) {
    const auto key = registry.CreateKey(RegistryHive::LocalMachine, std::string("Enum\\Test\\") + port);
    ASSERT_TRUE(key);
    key->WriteString(kPortNameValue, port);
    key->WriteString(kDeviceNodeValue, "/dev/null");
  }
  StandardServerWindows windows({program, registry, 0x0409});
  ServerSettings settings;

  WhenShown<TfmAccess>([](TfmAccess& dialog) {
    dialog.eNewPW->setText("admin");
    dialog.eVerify->setText("admin");
    dialog.BitBtnOK->click();
  });
  std::string newPassword;
  EXPECT_TRUE(windows.EditAccess(settings, newPassword));
  EXPECT_EQ(newPassword, "admin");

  WhenShown<TfmPorts>([](TfmPorts& dialog) {
    EXPECT_EQ(dialog.cbComPort->currentText(), "COM1");
    dialog.cbComPort->setCurrentIndex(dialog.cbComPort->findText("COM3"));
    dialog.cbSpeed->setCurrentIndex(dialog.cbSpeed->findText("9600"));
    dialog.eIPPort->setText("5000");
    dialog.BitBtnOK->click();
  });
  windows.EditPorts(settings);
  EXPECT_EQ(settings.ComPort.Get(), "COM3");
  EXPECT_EQ(settings.ComSpeed, 9600);
  EXPECT_EQ(settings.IPPort, 5000);
  WhenShown<TfmPorts>([](TfmPorts& dialog) {
    dialog.cbSpeed->setCurrentIndex(0);
    dialog.BitBtnCancel->click();
  });
  windows.EditPorts(settings);
  EXPECT_EQ(settings.ComSpeed, 9600);

  QString searchCaption;
  WhenShown<TfmEcrSearch>([&](TfmEcrSearch& dialog) {
    searchCaption = dialog.windowTitle();
    dialog.btnClose->click();
  });
  windows.SearchForEcrs("COM3");
  EXPECT_EQ(searchCaption, "Search for ECRs on COM3");

  QString lineInfo;
  WhenShown<TfmTestLine>([&](TfmTestLine& dialog) {
    lineInfo = dialog.lblInfo->text();
    dialog.btnClose->click();
  });
  windows.TestLine("COM3", 9600);
  EXPECT_EQ(lineInfo, "port: COM3  speed: 9600");

  QString activeLanguage;
  WhenShown<TfmLanguageSelection>([&](TfmLanguageSelection& dialog) {
    activeLanguage = dialog.lblActiveLng->text();
    dialog.bbtnCancel->click();
  });
  windows.ShowLanguageDialog();
  EXPECT_EQ(activeLanguage, "No Active Language");

  StatusTexts texts;
  texts.settings = "Server STOPPED";
  windows.UpdateStatus(texts);
  windows.ShowStatus();
  TfmSelvaroStatus& status = windows.Windows().StatusWindow();
  EXPECT_TRUE(status.isVisible());
  EXPECT_EQ(status.lblSettings->text(), "Server STOPPED");
  EXPECT_TRUE(status.tmrDisplay.isActive());
}

}  // namespace
}  // namespace ecr
