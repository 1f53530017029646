// The access and ports dialogs driven through their controls: the verification, SET
// passwords applied at once, the port list computed from the registry stand-in, the
// speeds, and the checks of the TCP port.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/registry.h"
#include "platform/serial_port_names.h"
#include "server/server_settings.h"
#include "server_app/access_dialog.h"
#include "server_app/ports_dialog.h"
#include "tests/server_app/window_test_support.h"
#include "tests/support/key_typing.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

using window_test::BoxRecorder;
using window_test::WhenModal;

class AccessDialogTest : public ::testing::Test {
 protected:
  ServerSettings settings;
  TfmAccess dialog{settings};

  void ChooseSet(const QString& item) { dialog.cbSetNo->setCurrentIndex(dialog.cbSetNo->findText(item)); }
};

TEST_F(AccessDialogTest, DifferentEntriesAreRefusedAndAlikeOnesAccepted) {
  BoxRecorder boxes;
  dialog.show();
  QTest::keyClicks(dialog.eNewPW, "secret");
  QTest::keyClick(dialog.eNewPW, Qt::Key_Return);
  EXPECT_EQ(dialog.focusWidget(), dialog.eVerify);
  QTest::keyClicks(dialog.eVerify, "secreT");
  QTest::keyClick(dialog.eVerify, Qt::Key_Return);
  EXPECT_EQ(dialog.focusWidget(), dialog.BitBtnOK);
  dialog.BitBtnOK->click();
  ASSERT_EQ(boxes.texts, std::vector<std::string>{"Bad verification!"});
  EXPECT_EQ(boxes.kinds[0], kMsgError);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.focusWidget(), dialog.eNewPW);
  window_test::SavePicture(dialog, "access_dialog");

  dialog.eVerify->setText("secret");
  dialog.BitBtnOK->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.NewPassword(), "secret");
}

TEST_F(AccessDialogTest, ActivationEmptiesThePasswordFields) {
  dialog.eNewPW->setText("old");
  dialog.eVerify->setText("old");
  WhenModal([&] {
    EXPECT_EQ(dialog.eNewPW->text(), "");
    EXPECT_EQ(dialog.eVerify->text(), "");
    EXPECT_EQ(dialog.focusWidget(), dialog.eNewPW);
    dialog.BitBtnOK->click();  // two empty fields agree: an empty password
  });
  EXPECT_EQ(dialog.EditAccess(), 1);
  EXPECT_EQ(dialog.NewPassword(), "");
  EXPECT_EQ(dialog.eNewPW->echoMode(), QLineEdit::Password);
  EXPECT_EQ(dialog.eNewPW->maxLength(), 16);
  EXPECT_EQ(dialog.eSetPW->maxLength(), 20);
}

TEST_F(AccessDialogTest, SetPasswordsApplyAtOnceCutToNineCharacters) {
  struct Case {
    const char* item;
    bool byEnter;
    const char* typed;
    const char* stored;
  };
  const Case cases[] = {
      {"3", true, "three", "three"},
      {"1", false, "abcdefghijklmnopqrst", "abcdefghi"},
      {"14", false, "last", "last"},
      {"254", true, "subscriber", "subscribe"},
  };
  ASSERT_EQ(dialog.cbSetNo->count(), 15);
  EXPECT_EQ(dialog.cbSetNo->currentText(), "1");
  dialog.show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    ChooseSet(c.item);
    QTest::keyClicks(dialog.eSetPW, c.typed);
    if (c.byEnter) {
      QTest::keyClick(dialog.eSetPW, Qt::Key_Return);
    } else {
      dialog.BitBtnSetPWOK->click();
    }
    // Enter applies the password and does not close the dialog.
    EXPECT_TRUE(dialog.isVisible());
  }
  EXPECT_EQ(settings.SetPassword(3).Get(), "three");
  EXPECT_EQ(settings.SetPassword(1).Get(), "abcdefghi");
  EXPECT_EQ(settings.SetPassword(14).Get(), "last");
  EXPECT_EQ(settings.SubscriberPassword.Get(), "subscribe");
  EXPECT_EQ(settings.SetPassword(2).Get(), "");
  // Cancel keeps what was applied; the administrator password is the caller's.
  dialog.BitBtnCancel->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(settings.SetPassword(3).Get(), "three");
  EXPECT_EQ(settings.AdminPassword.Get(), "");
}

// The keyboard alone: Enter moves from the password to its verification and on to OK,
// and Enter on the focused OK presses it.
TEST_F(AccessDialogTest, TheKeyboardRoadEndsWithEnterOnOk) {
  WhenModal([&] {
    QTest::keyClicks(dialog.eNewPW, "secret");
    QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
    EXPECT_EQ(dialog.focusWidget(), dialog.eVerify);
    QTest::keyClicks(dialog.eVerify, "secret");
    QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
    EXPECT_EQ(dialog.focusWidget(), dialog.BitBtnOK);
    EXPECT_TRUE(dialog.isVisible());  // Enter in the verification only moves on
    QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
    if (dialog.isVisible()) dialog.BitBtnCancel->click();
  });
  EXPECT_EQ(dialog.EditAccess(), 1);
  EXPECT_EQ(dialog.NewPassword(), "secret");
}

// Every password entry takes no more than the record's 9 bytes, in whole characters: what
// the entries show is what is kept.
TEST_F(AccessDialogTest, PasswordEntriesTakeWholeCharactersWithinNineBytes) {
  struct Case {
    const char* typed;
    const char* kept;
  };
  const Case cases[] = {
      {"абвгд", "абвг"},
      {"абвгдежзийкл", "абвг"},
      {"abcdefghijkl", "abcdefghi"},
      {"1234567я", "1234567я"},
      {"12345678я", "12345678"},
  };
  dialog.show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    for (QLineEdit* edit : {dialog.eNewPW, dialog.eVerify, dialog.eSetPW}) {
      edit->clear();
      test::TypeText(edit, QString::fromUtf8(c.typed));
      EXPECT_EQ(edit->text().toStdString(), c.kept) << edit->objectName().toStdString();
      EXPECT_EQ(edit->displayText(), QString(edit->text().size(), '*'));
    }
    ChooseSet("7");
    test::TypeText(dialog.eSetPW, QString::fromUtf8(c.typed));
    QTest::keyClick(dialog.eSetPW, Qt::Key_Return);
    EXPECT_EQ(settings.SetPassword(7).Get(), c.kept);
    ChooseSet("1");
  }
}

TEST_F(AccessDialogTest, ChoosingAnotherSetEmptiesItsPasswordField) {
  dialog.eSetPW->setText("typed");
  ChooseSet("5");
  EXPECT_EQ(dialog.eSetPW->text(), "");
}

TEST(CutPasswordTest, KeepsNineBytesWithoutSplittingACharacter) {
  EXPECT_EQ(CutPassword("123456789012"), "123456789");
  // Four two-byte letters and one more: the fifth would need bytes 9 and 10.
  EXPECT_EQ(CutPassword(QString::fromUtf8("абвгд")), std::string("абвг"));
}

class PortsDialogTest : public ::testing::Test {
 protected:
  TempDir temp;
  Registry registry{temp.Path()};

  void SetUp() override {
    // Device keys of our own, out of name order: the list shows them sorted.
    AddPort("ttyUSB1", "COM7");
    AddPort("ttyS0", "COM1");
    AddPort("ttyACM0", "COM3");
    AddPort("ttyLONG", "COM1234");
  }
  void AddPort(const std::string& tty, const std::string& name) {
    const auto key = registry.CreateKey(RegistryHive::LocalMachine, "Enum\\Test\\" + tty);
    ASSERT_TRUE(key);
    key->WriteString(kPortNameValue, name);
    key->WriteString(kDeviceNodeValue, "/dev/" + tty);
  }
  // Runs EditPorts with `act` inside the dialog; returns its result.
  int Edit(std::uint16_t& speed, std::uint16_t& tcpPort, std::string& portName,
           const std::function<void(TfmPorts&)>& act) {
    TfmPorts dialog(registry);
    WhenModal([&] { act(dialog); });
    return dialog.EditPorts(speed, tcpPort, portName);
  }
};

TEST_F(PortsDialogTest, ListsTheComputedPortsSortedAndTheSpeeds) {
  std::uint16_t speed = 9600, tcpPort = 4999;
  std::string portName = "COM3";
  QStringList ports, speeds;
  const int result = Edit(speed, tcpPort, portName, [&](TfmPorts& dialog) {
    for (int i = 0; i < dialog.cbComPort->count(); ++i) ports << dialog.cbComPort->itemText(i);
    for (int i = 0; i < dialog.cbSpeed->count(); ++i) speeds << dialog.cbSpeed->itemText(i);
    EXPECT_EQ(dialog.cbComPort->currentText(), "COM3");
    EXPECT_EQ(dialog.cbSpeed->currentText(), "9600");
    EXPECT_EQ(dialog.eIPPort->text(), "4999");
    window_test::SavePicture(dialog, "ports_dialog");
    dialog.cbSpeed->setCurrentIndex(dialog.cbSpeed->findText("14400"));
    dialog.cbComPort->setCurrentIndex(dialog.cbComPort->findText("COM7"));
    dialog.eIPPort->setText("5001");
    dialog.BitBtnOK->click();
  });
  EXPECT_EQ(result, 1);
  // A name longer than the record's six characters could not be stored: not offered.
  EXPECT_EQ(ports, QStringList({"COM1", "COM3", "COM7"}));
  EXPECT_EQ(speeds, QStringList({"1200", "2400", "4800", "9600", "14400", "19200", "28800", "38400"}));
  EXPECT_EQ(speed, 14400);
  EXPECT_EQ(tcpPort, 5001);
  EXPECT_EQ(portName, "COM7");
}

TEST_F(PortsDialogTest, OkResolvesUnlistedValuesAsTheDialogShowsThem) {
  struct Case {
    std::uint16_t speed;
    const char* port;
    const char* tcpText;
    std::uint16_t wantSpeed;
    const char* wantPort;
    std::uint16_t wantTcp;
  };
  const Case cases[] = {
      {4801, "COM1", "4999", 4800, "COM1", 4999},  // unlisted speed opens on 4800
      {2400, "COM9", "4999", 2400, "", 4999},      // port no longer listed: stored empty
      {2400, "COM1", "abc", 2400, "COM1", 1234},   // no number: the old TCP port stays
      {2400, "COM1", "", 2400, "COM1", 1234},
      {2400, "COM1", "0", 2400, "COM1", 0},
      {2400, "COM1", "65535", 2400, "COM1", 65535},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tcpText + std::string(" ") + c.port);
    std::uint16_t speed = c.speed, tcpPort = 1234;
    std::string portName = c.port;
    Edit(speed, tcpPort, portName, [&](TfmPorts& dialog) {
      dialog.eIPPort->setText(c.tcpText);
      dialog.BitBtnOK->click();
    });
    EXPECT_EQ(speed, c.wantSpeed);
    EXPECT_EQ(portName, c.wantPort);
    EXPECT_EQ(tcpPort, c.wantTcp);
  }
}

TEST_F(PortsDialogTest, TcpPortOutsideTheRangeIsRefusedAndTheDialogStaysOpen) {
  BoxRecorder boxes;
  for (const char* text : {"65536", "-1", "99999999999999999999"}) {
    SCOPED_TRACE(text);
    boxes.texts.clear();
    std::uint16_t speed = 4800, tcpPort = 4999;
    std::string portName = "COM1";
    bool stayedOpen = false;
    const int result = Edit(speed, tcpPort, portName, [&](TfmPorts& dialog) {
      dialog.eIPPort->setText(text);
      dialog.BitBtnOK->click();
      stayedOpen = dialog.isVisible();
      EXPECT_EQ(dialog.focusWidget(), dialog.eIPPort);
      dialog.BitBtnCancel->click();
    });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"Please, enter valid value for \"IP Port\" !"});
    EXPECT_EQ(result, 2);
    EXPECT_EQ(tcpPort, 4999);
  }
}

TEST_F(PortsDialogTest, CancelChangesNothingAndAMissingListStoresAnEmptyName) {
  std::uint16_t speed = 9600, tcpPort = 4999;
  std::string portName = "COM3";
  Edit(speed, tcpPort, portName, [](TfmPorts& dialog) {
    dialog.cbSpeed->setCurrentIndex(0);
    dialog.eIPPort->setText("1");
    dialog.BitBtnCancel->click();
  });
  EXPECT_EQ(speed, 9600);
  EXPECT_EQ(tcpPort, 4999);
  EXPECT_EQ(portName, "COM3");

  // No device key is visible at all: the list is empty and OK stores an empty name.
  ASSERT_TRUE(registry.MoveKey(RegistryHive::LocalMachine, "Enum\\Test", "Enum\\TestRemoved"));
  int listed = -1;
  Edit(speed, tcpPort, portName, [&](TfmPorts& dialog) {
    listed = dialog.cbComPort->count();
    dialog.BitBtnOK->click();
  });
  EXPECT_EQ(listed, 0);
  EXPECT_EQ(portName, "");
}

}  // namespace
}  // namespace ecr
