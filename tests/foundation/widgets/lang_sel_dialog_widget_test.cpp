// The code-table dialog, driven through its widgets.
#include "foundation/widgets/lang_sel_dialog.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "foundation/widgets/modal_result.h"
#include "tests/foundation/widgets/widget_test_support.h"

namespace ecr {
namespace {

class LangSelDialogTest : public ::testing::Test {
 protected:
  LangSelDialogTest() { test::SetTestTitle(); }

  // Clicks the row at 0-based `position`.
  static void ClickRow(TfmLangSel& dialog, int position) {
    QListWidget* list = dialog.lbAllLangs;
    QListWidgetItem* item = list->item(position);
    ASSERT_NE(item, nullptr);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
  }

  test::ModalWatchdog watchdog_;
};

TEST_F(LangSelDialogTest, ListsEveryTableWithTheCurrentOneNamedAndSelected) {
  struct Case {
    const char* program;
    const CodeTableSet& tables;
  };
  const Case cases[] = {{"register server", HarbendixCodeTables()}, {"controller server", LontarosCodeTables()}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    TfmLangSel dialog(c.tables);
    int codeTable = 2;
    test::WhenShown(dialog, [&] {
      EXPECT_EQ(dialog.windowTitle(), QString::fromLatin1(test::kTestTitle));
      EXPECT_EQ(dialog.gbAvailable->title(), "Available code tables");
      EXPECT_EQ(dialog.lblCurrLng->text(),
                QStringLiteral("Current code table: ") + QString::fromStdString(GetCodeTableName(2, c.tables)));
      ASSERT_EQ(dialog.lbAllLangs->count(), c.tables.Count());
      for (int row = 0; row < c.tables.Count(); ++row)
        EXPECT_EQ(dialog.lbAllLangs->item(row)->text().toStdString(), GetCodeTableName(row + 1, c.tables));
      EXPECT_EQ(dialog.lbAllLangs->currentRow(), 1);
      QTest::mouseClick(dialog.CancelBtn, Qt::LeftButton);
    });
    EXPECT_EQ(dialog.SelectCodeTable(codeTable), mrCancel);
    EXPECT_EQ(codeTable, 2);
  }
  EXPECT_EQ(HarbendixCodeTables().Count(), 13);
  EXPECT_EQ(LontarosCodeTables().Count(), 6);
}

TEST_F(LangSelDialogTest, OkWithAnotherRowChangesTheTableAndWithTheSameRowEndsWithCancel) {
  struct Case {
    int start;
    int clickedPosition;  // -1: leave the selection as shown
    int result;
    int codeTable;
  };
  const Case cases[] = {
      {3, 2, mrCancel, 3},   // the current table chosen again
      {3, -1, mrCancel, 3},  // nothing touched
      {3, 4, mrOk, 5},
      {1, 12, mrOk, 13},
      {13, 0, mrOk, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "start " << c.start << " click " << c.clickedPosition);
    TfmLangSel dialog;
    int codeTable = c.start;
    test::WhenShown(dialog, [&] {
      if (c.clickedPosition >= 0) ClickRow(dialog, c.clickedPosition);
      QTest::mouseClick(dialog.OKBtn, Qt::LeftButton);
    });
    EXPECT_EQ(dialog.SelectCodeTable(codeTable), c.result);
    EXPECT_EQ(codeTable, c.codeTable);
  }
}

TEST_F(LangSelDialogTest, AnIndexOutsideTheListNamesNothingSelectsNothingAndOkChangesNothing) {
  for (int start : {0, 14, -3}) {
    SCOPED_TRACE(start);
    TfmLangSel dialog;
    int codeTable = start;
    test::WhenShown(dialog, [&] {
      EXPECT_EQ(dialog.lblCurrLng->text(), "Current code table: ");
      EXPECT_TRUE(dialog.lbAllLangs->selectedItems().isEmpty());
      QTest::mouseClick(dialog.OKBtn, Qt::LeftButton);
    });
    EXPECT_EQ(dialog.SelectCodeTable(codeTable), mrCancel);
    EXPECT_EQ(codeTable, start);
  }
}

TEST_F(LangSelDialogTest, AnIndexOutsideTheListCanStillBeReplacedByAChosenRow) {
  TfmLangSel dialog(LontarosCodeTables());
  int codeTable = 9;
  test::WhenShown(dialog, [&] {
    ClickRow(dialog, 5);
    QTest::mouseClick(dialog.OKBtn, Qt::LeftButton);
  });
  EXPECT_EQ(dialog.SelectCodeTable(codeTable), mrOk);
  EXPECT_EQ(codeTable, 6);
}

}  // namespace
}  // namespace ecr
