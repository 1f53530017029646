// The offset dialog, driven through its widgets.
#include "foundation/widgets/offset_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>
#include <cstdint>

#include <gtest/gtest.h>

#include "foundation/widgets/modal_result.h"
#include "tests/foundation/widgets/widget_test_support.h"

namespace ecr {
namespace {

class OffsetDialogTest : public ::testing::Test {
 protected:
  OffsetDialogTest() { test::SetTestTitle(); }

  // Replaces the entry's text with `entry` and presses OK.
  static void Enter(TfmOffset& dialog, const QString& entry) {
    dialog.eOffset->clear();
    QTest::keyClicks(dialog.eOffset, entry);
    QTest::mouseClick(dialog.BitBtnOK, Qt::LeftButton);
  }

  test::MsgBoxRecorder boxes_;
  test::ModalWatchdog watchdog_;
};

TEST_F(OffsetDialogTest, ShowsTheValueWithItsCaptionAndLabel) {
  TfmOffset dialog;
  std::int32_t value = 4711;
  test::WhenShown(dialog, [&] {
    EXPECT_EQ(dialog.eOffset->text(), "4711");
    EXPECT_EQ(dialog.windowTitle(), QString::fromLatin1(test::kTestTitle));
    EXPECT_EQ(dialog.findChild<QLabel*>()->text(), "Offset:");
    QTest::mouseClick(dialog.BitBtnOK, Qt::LeftButton);
  });
  EXPECT_EQ(dialog.EditOffset(value), mrOk);
  EXPECT_EQ(value, 4711);
}

TEST_F(OffsetDialogTest, AcceptsEveryPositiveWholeNumber) {
  struct Case {
    const char* entry;
    std::int32_t value;
  };
  const Case cases[] = {{"1", 1}, {"2147483647", 2147483647}, {"  25 ", 25}, {"+7", 7}, {"007", 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    TfmOffset dialog;
    std::int32_t value = 99;
    test::WhenShown(dialog, [&] { Enter(dialog, c.entry); });
    EXPECT_EQ(dialog.EditOffset(value), mrOk);
    EXPECT_EQ(value, c.value);
    EXPECT_TRUE(boxes_.boxes.empty());
  }
}

TEST_F(OffsetDialogTest, RefusesEverythingElseInPlaceAndKeepsTheValue) {
  for (const char* entry : {"0", "-5", "12x", "", "2147483648", "0x10", "1.5", "-0"}) {
    SCOPED_TRACE(entry);
    boxes_.boxes.clear();
    TfmOffset dialog;
    std::int32_t value = 99;
    test::WhenShown(dialog, [&] {
      Enter(dialog, entry);
      EXPECT_TRUE(dialog.isVisible()) << "stays open for another try";
      EXPECT_TRUE(dialog.eOffset->hasFocus());
      EXPECT_EQ(value, 99);
      QTest::mouseClick(dialog.BitBtncancel, Qt::LeftButton);
    });
    EXPECT_EQ(dialog.EditOffset(value), mrCancel);
    EXPECT_EQ(value, 99);
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes.front().text, "Bad number!");
    EXPECT_EQ(boxes_.boxes.front().icon, QMessageBox::NoIcon) << "a plain box";
    EXPECT_EQ(boxes_.boxes.front().caption, QString::fromLatin1(test::kTestTitle));
  }
}

TEST_F(OffsetDialogTest, ARefusedEntryCanBeCorrected) {
  TfmOffset dialog;
  std::int32_t value = 3;
  test::WhenShown(dialog, [&] {
    Enter(dialog, "-1");
    Enter(dialog, "12");
  });
  EXPECT_EQ(dialog.EditOffset(value), mrOk);
  EXPECT_EQ(value, 12);
  EXPECT_EQ(boxes_.boxes.size(), 1u);
}

TEST_F(OffsetDialogTest, CancelAndEscapeLeaveTheValueUnchanged) {
  for (bool escape : {false, true}) {
    TfmOffset dialog;
    std::int32_t value = 42;
    test::WhenShown(dialog, [&] {
      dialog.eOffset->clear();
      QTest::keyClicks(dialog.eOffset, "1000");
      if (escape)
        QTest::keyClick(dialog.eOffset, Qt::Key_Escape);
      else
        QTest::mouseClick(dialog.BitBtncancel, Qt::LeftButton);
    });
    EXPECT_EQ(dialog.EditOffset(value), mrCancel);
    EXPECT_EQ(value, 42);
  }
}

TEST(OffsetEntryValue, ReadsDecimalWholeNumbersAndCountsAnythingElseAsZero) {
  struct Case {
    const char* entry;
    std::int32_t value;
  };
  const Case cases[] = {{"15", 15},  {"-5", -5}, {"", 0},        {"abc", 0},
                        {"12x", 0},  {" 3 ", 3}, {"-2147483648", -2147483647 - 1},
                        {"99999999999", 0}};
  for (const Case& c : cases) EXPECT_EQ(OffsetEntryValue(QString::fromLatin1(c.entry)), c.value) << c.entry;
}

}  // namespace
}  // namespace ecr
