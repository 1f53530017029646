// The network-controller server's access and ports dialogs driven through their controls
// (SET passwords applied at once, the verification, the speed shown for a stored speed the
// dialog does not offer, the TCP port's low 16 bits), and the about box's contents.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include <map>

#include "foundation/widgets/modal_result.h"
#include "foundation/widgets/url_label.h"
#include "netcontroller/app/nc_about_box.h"
#include "netcontroller/app/nc_access_dialog.h"
#include "netcontroller/app/nc_ports_dialog.h"
#include "tests/netcontroller/nc_app_fixture.h"
#include "tests/support/key_typing.h"

namespace ecr::nc {
namespace {

using test::As;
using test::BoxRecorder;
using test::KeyClick;
using test::ModalAnswerer;

class AccessDialogTest : public ::testing::Test {
 protected:
  std::map<int, std::string> applied;
  TfmAccess dialog{[this](int setNo, const std::string& password) { applied[setNo] = password; }};

  void ChooseSet(const QString& item) { dialog.cbSetNo->setCurrentIndex(dialog.cbSetNo->findText(item)); }
};

TEST_F(AccessDialogTest, SetPasswordIsAppliedAtOnceCutToNine) {
  struct Case {
    const char* item;
    bool byEnter;
    const char* typed;
    const char* stored;
  };
  const Case cases[] = {
      {"14", false, "123456789012", "123456789"},
      {"14", true, "abcdefghijkl", "abcdefghi"},
      {"1", true, "one", "one"},
      {"2", false, "", ""},
  };
  dialog.show();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.item) + (c.byEnter ? " by Enter" : " by button"));
    applied.clear();
    ChooseSet(c.item);
    dialog.eSetPW->setText(QString::fromUtf8(c.typed));
    if (c.byEnter) {
      KeyClick(dialog.eSetPW, Qt::Key_Return);
    } else {
      dialog.BitBtnSetPWOK->click();
    }
    EXPECT_EQ(applied, (std::map<int, std::string>{{std::stoi(c.item), c.stored}}));
    EXPECT_TRUE(dialog.isVisible());  // Enter applies; it does not close the dialog
  }
}

TEST_F(AccessDialogTest, SetPasswordFieldIsEmptiedByItsCancelAndByAnotherSet) {
  ASSERT_EQ(dialog.cbSetNo->count(), 14);
  EXPECT_EQ(dialog.cbSetNo->currentText(), "1");
  EXPECT_EQ(dialog.cbSetNo->itemText(13), "14");
  dialog.eSetPW->setText("typed");
  dialog.BitBtnPWCancel->click();
  EXPECT_EQ(dialog.eSetPW->text(), "");
  dialog.eSetPW->setText("typed");
  ChooseSet("5");
  EXPECT_EQ(dialog.eSetPW->text(), "");
  EXPECT_TRUE(applied.empty());
}

TEST_F(AccessDialogTest, ServerPasswordMustBeTypedTwiceAlike) {
  BoxRecorder boxes;
  ModalAnswerer modal;
  modal.Then([&](QDialog&) {
    // Activation empties both fields and puts the focus on the first.
    EXPECT_EQ(dialog.eNewPW->text(), "");
    EXPECT_EQ(dialog.eVerify->text(), "");
    EXPECT_EQ(dialog.focusWidget(), dialog.eNewPW);
    dialog.eNewPW->setText("Secret");
    KeyClick(dialog.eNewPW, Qt::Key_Return);
    EXPECT_EQ(dialog.focusWidget(), dialog.eVerify);
    dialog.eVerify->setText("secret");
    KeyClick(dialog.eVerify, Qt::Key_Return);
    EXPECT_EQ(dialog.focusWidget(), dialog.BitBtnOK);
    dialog.BitBtnOK->click();
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"Bad verification!"});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.focusWidget(), dialog.eNewPW);
    dialog.eVerify->setText("Secret");
    dialog.BitBtnOK->click();
  });
  dialog.eNewPW->setText("left over");
  dialog.eVerify->setText("left over");
  EXPECT_EQ(dialog.Execute(), mrOk);
  EXPECT_EQ(dialog.eNewPW->text(), "Secret");
  EXPECT_TRUE(modal.Unexpected().empty());
  EXPECT_EQ(dialog.eNewPW->echoMode(), QLineEdit::Password);
  EXPECT_EQ(dialog.eNewPW->maxLength(), 16);
  EXPECT_EQ(dialog.eVerify->maxLength(), 16);
  EXPECT_EQ(dialog.eSetPW->maxLength(), 20);
}

TEST_F(AccessDialogTest, TwoEmptyEntriesAgreeAndCancelEndsWithCancel) {
  ModalAnswerer modal;
  modal.Then([&](QDialog&) { dialog.BitBtnOK->click(); });
  EXPECT_EQ(dialog.Execute(), mrOk);
  EXPECT_EQ(dialog.eNewPW->text(), "");
  modal.Then([&](QDialog&) {
    dialog.eNewPW->setText("x");
    dialog.BitBtnCancel->click();
  });
  EXPECT_EQ(dialog.Execute(), mrCancel);
}

// The keyboard alone: Enter moves on from each entry, and Enter on the focused OK presses it.
// The entries take what fits of the typing in the record's 9 bytes, in whole characters.
TEST_F(AccessDialogTest, TypedPasswordsKeepWholeCharactersAndEnterOnOkConfirms) {
  const QString typed = QString::fromUtf8("абвгдежзийкл");
  ModalAnswerer modal;
  modal.Then([&](QDialog&) {
    ecr::test::TypeText(dialog.eNewPW, typed);
    KeyClick(dialog.eNewPW, Qt::Key_Return);
    ecr::test::TypeText(dialog.eVerify, typed);
    KeyClick(dialog.eVerify, Qt::Key_Return);
    EXPECT_EQ(dialog.focusWidget(), dialog.BitBtnOK);
    EXPECT_TRUE(dialog.isVisible());
    KeyClick(dialog.BitBtnOK, Qt::Key_Return);
    if (dialog.isVisible()) dialog.BitBtnCancel->click();
  });
  EXPECT_EQ(dialog.Execute(), mrOk);
  EXPECT_EQ(dialog.eNewPW->text(), QString::fromUtf8("абвг"));
  EXPECT_EQ(CutPassword(dialog.eNewPW->text()), "абвг");
  EXPECT_TRUE(modal.Unexpected().empty());

  dialog.show();
  ChooseSet("9");
  ecr::test::TypeText(dialog.eSetPW, QString::fromUtf8("1234567яя"));
  EXPECT_EQ(dialog.eSetPW->text(), QString::fromUtf8("1234567я"));
  KeyClick(dialog.eSetPW, Qt::Key_Return);
  EXPECT_EQ(applied, (std::map<int, std::string>{{9, "1234567я"}}));
}

TEST(CutPasswordTest, KeepsNineBytesWithoutSplittingACharacter) {
  EXPECT_EQ(CutPassword("123456789012"), "123456789");
  EXPECT_EQ(CutPassword(QString::fromUtf8("абвгд")), std::string("абвг"));
}

// Runs the ports dialog with act inside it; returns its result.
int EditPorts(std::uint16_t& speed, std::uint16_t& port, const std::function<void(TfmPorts&)>& act) {
  TfmPorts dialog;
  ModalAnswerer modal;
  modal.Then([&](QDialog& shown) { act(As<TfmPorts>(shown)); });
  const int result = dialog.Execute(speed, port);
  EXPECT_TRUE(modal.Unexpected().empty());
  return result;
}

TEST(PortsDialogTest, StoredSpeedIsShownAndAnUnofferedOneBecomes4800EvenOnCancel) {
  struct Case {
    std::uint16_t stored;
    const char* shown;
    std::uint16_t afterCancel;
  };
  const Case cases[] = {{4800, "4800", 4800}, {9600, "9600", 9600}, {2400, "4800", 4800}, {19200, "4800", 4800}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    std::uint16_t speed = c.stored;
    std::uint16_t port = 4999;
    const int result = EditPorts(speed, port, [&](TfmPorts& dialog) {
      EXPECT_EQ(dialog.cbSpeed->currentText(), c.shown);
      EXPECT_EQ(dialog.cbSpeed->count(), 2);
      EXPECT_EQ(dialog.eIPPort->text(), "4999");
      dialog.eIPPort->setText("1234");
      dialog.BitBtnCancel->click();
    });
    EXPECT_EQ(result, mrCancel);
    EXPECT_EQ(speed, c.afterCancel);
    EXPECT_EQ(port, 4999);
  }
}

TEST(PortsDialogTest, OkStoresTheSpeedAndTheLow16BitsOfThePort) {
  struct Case {
    const char* typed;
    std::uint16_t stored;
  };
  const Case cases[] = {
      {"5000", 5000}, {"70000", 4464}, {" 12 ", 12}, {"65536", 0}, {"-1", 65535},
      {"abc", 4999},  {"", 4999},      {"12x", 4999}, {"99999999999", 4999},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    std::uint16_t speed = 2400;
    std::uint16_t port = 4999;
    const int result = EditPorts(speed, port, [&](TfmPorts& dialog) {
      dialog.cbSpeed->setCurrentIndex(1);
      dialog.eIPPort->setText(QString::fromUtf8(c.typed));
      dialog.BitBtnOK->click();
    });
    EXPECT_EQ(result, mrOk);
    EXPECT_EQ(speed, 9600);
    EXPECT_EQ(port, c.stored);
  }
}

TEST(PortsDialogTest, EnterInThePortFieldIsOk) {
  std::uint16_t speed = 9600;
  std::uint16_t port = 4999;
  const int result = EditPorts(speed, port, [](TfmPorts& dialog) {
    dialog.cbSpeed->setCurrentIndex(0);
    dialog.eIPPort->setText("6001");
    KeyClick(dialog.eIPPort, Qt::Key_Return);
  });
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(speed, 4800);
  EXPECT_EQ(port, 6001);
}

TEST(AboutBoxTest, ShowsTheTitleThePictureAndTheMakersContacts) {
  QGuiApplication::setApplicationDisplayName(QStringLiteral("Lontaros v1.0.4"));
  TAboutBox box;
  EXPECT_EQ(box.windowTitle(), "About");
  EXPECT_EQ(box.ProdName->text(), "Lontaros v1.0.4");
  EXPECT_TRUE(box.lblEMail->URLText().startsWith("mailto:"));
  EXPECT_TRUE(box.lblEMail->URLText().endsWith(".example"));
  EXPECT_TRUE(box.lblLINK->URLText().contains(".example"));
  EXPECT_EQ(box.lblEMail->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(box.lblLINK->cursor().shape(), Qt::PointingHandCursor);
  ModalAnswerer modal;
  modal.Then([](QDialog& shown) { As<TAboutBox>(shown).OKButton->click(); });
  EXPECT_EQ(box.exec(), QDialog::Accepted);
}

}  // namespace
}  // namespace ecr::nc
