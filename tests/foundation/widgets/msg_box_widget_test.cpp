// The message-box seam and the real box behind it.
#include "foundation/widgets/msg_box.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QTimer>
#include <cstdint>

#include <gtest/gtest.h>

#include "tests/foundation/widgets/widget_test_support.h"

namespace ecr {
namespace {

TEST(MsgBox, EachKindHasItsIcon) {
  struct Case {
    std::uint8_t kind;
    QMessageBox::Icon icon;
  };
  const Case cases[] = {{kMsgWarning, QMessageBox::Warning},   {kMsgError, QMessageBox::Critical},
                        {kMsgInformation, QMessageBox::Information}, {kMsgConfirmation, QMessageBox::Question},
                        {4, QMessageBox::NoIcon},                {kMsgPlain, QMessageBox::NoIcon}};
  for (const Case& c : cases) EXPECT_EQ(MsgBoxIcon(c.kind), c.icon) << int(c.kind);
}

TEST(MsgBox, ThePresenterGetsTheBoxWithTheTitleForAnEmptyCaptionAndItsAnswerIsReturned) {
  test::SetTestTitle();
  QWidget owner;
  test::MsgBoxRecorder boxes(QMessageBox::No);
  EXPECT_EQ(ShowMsgBox(&owner, "Are you sure?", kMsgConfirmation, QMessageBox::Yes | QMessageBox::No), QMessageBox::No);
  EXPECT_EQ(ShowMsgBox(nullptr, "Failed", kMsgError, QMessageBox::Ok, "Own caption", QMessageBox::Ok),
            QMessageBox::No);
  ASSERT_EQ(boxes.boxes.size(), 2u);
  const MsgBoxRequest& question = boxes.boxes[0];
  EXPECT_EQ(question.owner, &owner);
  EXPECT_EQ(question.text, "Are you sure?");
  EXPECT_EQ(question.kind, kMsgConfirmation);
  EXPECT_EQ(question.icon, QMessageBox::Question);
  EXPECT_EQ(question.buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(question.caption, QString::fromLatin1(test::kTestTitle));
  EXPECT_EQ(question.defaultButton, QMessageBox::NoButton);
  EXPECT_EQ(boxes.boxes[1].caption, "Own caption");
  EXPECT_EQ(boxes.boxes[1].defaultButton, QMessageBox::Ok);
}

TEST(MsgBox, ScopedPresentersNestAndPutThePreviousOneBack) {
  test::MsgBoxRecorder outer(QMessageBox::Yes);
  {
    test::MsgBoxRecorder inner(QMessageBox::Cancel);
    EXPECT_EQ(ShowMsgBox(nullptr, "inner", kMsgPlain), QMessageBox::Cancel);
    EXPECT_EQ(inner.boxes.size(), 1u);
  }
  EXPECT_EQ(ShowMsgBox(nullptr, "outer", kMsgPlain), QMessageBox::Yes);
  EXPECT_EQ(outer.boxes.size(), 1u);
}

TEST(MsgBox, TheRealBoxIsApplicationModalWithIconCaptionTextAndButtons) {
  test::SetTestTitle();
  test::ModalWatchdog watchdog;
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    seen = true;
    EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->windowTitle(), QString::fromLatin1(test::kTestTitle));
    EXPECT_EQ(box->text(), "Port is busy");
    EXPECT_EQ(box->standardButtons(), QMessageBox::Retry | QMessageBox::Cancel);
    EXPECT_EQ(static_cast<QAbstractButton*>(box->defaultButton()), box->button(QMessageBox::Cancel));
    box->button(QMessageBox::Retry)->click();
  });
  // With no presenter installed the real box runs.
  EXPECT_EQ(ShowMsgBox(nullptr, "Port is busy", kMsgWarning, QMessageBox::Retry | QMessageBox::Cancel, QString(),
                       QMessageBox::Cancel),
            QMessageBox::Retry);
  EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace ecr
