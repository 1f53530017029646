// The administrator password dialog, driven through its widgets.
#include "foundation/widgets/password_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "foundation/widgets/modal_result.h"
#include "tests/foundation/widgets/widget_test_support.h"
#include "tests/support/key_typing.h"

namespace ecr {
namespace {

class PasswordDialogTest : public ::testing::Test {
 protected:
  test::TestTitle title_;
  test::MsgBoxRecorder boxes_;
  test::ModalWatchdog watchdog_;
  TfmPassword dialog_;
};

TEST_F(PasswordDialogTest, AnEmptyStoredPasswordLetsTheCallerThroughWithoutShowingAnything) {
  // Were it shown, only the watchdog would close it, with Cancel.
  EXPECT_EQ(dialog_.AskPassword(QString()), mrOk);
  EXPECT_EQ(dialog_.ModalResult(), mrOk);
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(PasswordDialogTest, ShowsItsPromptCaptionAndStarsForEveryCharacter) {
  EXPECT_EQ(dialog_.windowTitle(), QString::fromLatin1(test::kTestTitle));
  test::WhenShown(dialog_, [&] {
    EXPECT_TRUE(dialog_.isModal());
    EXPECT_TRUE(dialog_.findChild<QLabel*>() != nullptr);
    EXPECT_EQ(dialog_.findChild<QLabel*>()->text(), "Enter administrator password:");
    QTest::keyClicks(dialog_.ePassword, "Ab1");
    EXPECT_EQ(dialog_.ePassword->displayText(), "***");
    QTest::mouseClick(dialog_.BitBtnCancel, Qt::LeftButton);
  });
  EXPECT_EQ(dialog_.AskPassword("Ab1x"), mrCancel);
}

TEST_F(PasswordDialogTest, OnlyTheExactPasswordCloses) {
  struct Case {
    const char* entry;
    bool accepted;
  };
  const Case cases[] = {
      {"Secret", true}, {"secret", false}, {"SECRET", false}, {"Secret ", false}, {"Secre", false}, {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    boxes_.boxes.clear();
    TfmPassword dialog;
    int attempts = 0;
    test::WhenShown(dialog, [&] {
      QTest::keyClicks(dialog.ePassword, c.entry);
      QTest::mouseClick(dialog.BitBtnOK, Qt::LeftButton);
      ++attempts;
      if (dialog.isVisible()) {
        // Refused: the entry is emptied and focused, the dialog waits for another try.
        EXPECT_EQ(dialog.ePassword->text(), "");
        EXPECT_TRUE(dialog.ePassword->hasFocus());
        EXPECT_EQ(dialog.ModalResult(), mrNone);
        QTest::keyClicks(dialog.ePassword, "Secret");
        QTest::mouseClick(dialog.BitBtnOK, Qt::LeftButton);
        ++attempts;
      }
    });
    EXPECT_EQ(dialog.AskPassword("Secret"), mrOk);
    EXPECT_EQ(attempts, c.accepted ? 1 : 2);
    if (c.accepted) {
      EXPECT_TRUE(boxes_.boxes.empty());
    } else {
      ASSERT_EQ(boxes_.boxes.size(), 1u);
      const MsgBoxRequest& box = boxes_.boxes.front();
      EXPECT_EQ(box.text, "Incorrect Password");
      EXPECT_EQ(box.icon, QMessageBox::Critical);
      EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
      EXPECT_EQ(box.caption, QString::fromLatin1(test::kTestTitle));
      EXPECT_EQ(box.owner, &dialog);
    }
  }
}

TEST_F(PasswordDialogTest, RetriesAreUnlimitedAndCancelEndsWithCancel) {
  test::WhenShown(dialog_, [&] {
    for (int i = 0; i < 7; ++i) {
      QTest::keyClicks(dialog_.ePassword, "wrong");
      QTest::keyClick(dialog_.ePassword, Qt::Key_Return);  // the default button
    }
    EXPECT_TRUE(dialog_.isVisible());
    QTest::mouseClick(dialog_.BitBtnCancel, Qt::LeftButton);
  });
  EXPECT_EQ(dialog_.AskPassword("right"), mrCancel);
  EXPECT_EQ(boxes_.boxes.size(), 7u);
}

TEST_F(PasswordDialogTest, EscapeCancelsAndEachShowingStartsWithAnEmptyEntry) {
  test::WhenShown(dialog_, [&] {
    QTest::keyClicks(dialog_.ePassword, "half typed");
    QTest::keyClick(dialog_.ePassword, Qt::Key_Escape);
  });
  EXPECT_EQ(dialog_.AskPassword("pw"), mrCancel);

  test::WhenShown(dialog_, [&] {
    EXPECT_EQ(dialog_.ePassword->text(), "");
    EXPECT_TRUE(dialog_.ePassword->hasFocus());
    QTest::keyClicks(dialog_.ePassword, "pw");
    QTest::mouseClick(dialog_.BitBtnOK, Qt::LeftButton);
  });
  EXPECT_EQ(dialog_.AskPassword("pw"), mrOk);
  EXPECT_TRUE(boxes_.boxes.empty());
}

// A password kept in a field of 9 bytes is what fitted of the typing that set it; the
// prompt's entry takes the same 9 bytes, so the same typing opens it. Its comparison stays
// exact: a different or shorter entry is refused.
TEST_F(PasswordDialogTest, AnEntryOfTheKeptBytesMatchesTheSameTyping) {
  struct Case {
    const char* kept;
    std::optional<std::size_t> keptBytes;
    const char* typed;
    bool opens;
  };
  const Case cases[] = {
      {"абвг", 9, "абвгд", true},
      {"абвг", 9, "абвгдежзийкл", true},
      {"абвг", 9, "абвг", true},
      {"абвг", 9, "абвж", false},
      {"абвг", 9, "абв", false},
      {"абвг", 9, "АБВГД", false},
      {"123456789", 9, "123456789012", true},
      {"12345678", 9, "12345678я", true},
      {"1234567", 9, "12345678", false},
      // Without a field's size the entry takes all, and all of it must match.
      {"абвг", std::nullopt, "абвгд", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.typed) + " against " + c.kept);
    boxes_.boxes.clear();
    TfmPassword dialog;
    bool refused = false;
    test::WhenShown(dialog, [&] {
      test::TypeText(dialog.ePassword, QString::fromUtf8(c.typed));
      QTest::keyClick(dialog.ePassword, Qt::Key_Return);
      refused = dialog.isVisible();
      if (refused) QTest::mouseClick(dialog.BitBtnCancel, Qt::LeftButton);
    });
    EXPECT_EQ(dialog.AskPassword(QString::fromUtf8(c.kept), c.keptBytes), c.opens ? mrOk : mrCancel);
    EXPECT_EQ(refused, !c.opens);
    EXPECT_EQ(boxes_.boxes.size(), c.opens ? 0u : 1u);
  }
}

}  // namespace
}  // namespace ecr
