// The hyperlink label: clicks, the desktop's open, and the font while the mouse is over it.
#include "foundation/widgets/url_label.h"

#include <QEnterEvent>
#include <QSignalSpy>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "tests/foundation/widgets/url_opener_recorder.h"

namespace ecr {
namespace {

void Enter(TURLLabel& label) {
  QEnterEvent event(QPointF(1, 1), QPointF(1, 1), label.mapToGlobal(QPointF(1, 1)));
  QCoreApplication::sendEvent(&label, &event);
}

void Leave(TURLLabel& label) {
  QEvent event(QEvent::Leave);
  QCoreApplication::sendEvent(&label, &event);
}

class UrlLabelTest : public ::testing::Test {
 protected:
  UrlLabelTest() : label_("link text") {
    label_.resize(120, 30);
    label_.show();
  }

  test::UrlOpenerRecorder opener_;
  TURLLabel label_;
};

TEST_F(UrlLabelTest, AClickRaisesTheClickEventAndOpensTheTargetWhenThereIsOne) {
  struct Case {
    QString target;
    QStringList opened;
  };
  const Case cases[] = {
      {QString(), {}},
      {"https://www.example.org/support", {"https://www.example.org/support"}},
      {"mailto:help@example.org", {"mailto:help@example.org"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target.toStdString());
    opener_.opened.clear();
    label_.SetURLText(c.target);
    QSignalSpy clicks(&label_, &TURLLabel::clicked);
    QTest::mouseClick(&label_, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(opener_.opened, c.opened);
  }
}

TEST_F(UrlLabelTest, OtherButtonsAndReleasesOutsideTheLabelAreNoClick) {
  label_.SetURLText("https://www.example.org/");
  QSignalSpy clicks(&label_, &TURLLabel::clicked);
  QTest::mouseClick(&label_, Qt::RightButton);
  QTest::mousePress(&label_, Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseRelease(&label_, Qt::LeftButton, {}, QPoint(500, 5));
  EXPECT_EQ(clicks.count(), 0);
  EXPECT_TRUE(opener_.opened.isEmpty());
}

TEST_F(UrlLabelTest, TheMouseOverTheLabelShowsOverFontAndLeavingAlwaysRestoresTheOwnFont) {
  QFont own = label_.font();
  own.setPointSize(11);
  label_.setFont(own);
  QFont over = own;
  over.setUnderline(true);
  over.setBold(true);
  label_.SetOverFont(over);
  label_.SetOverColor(Qt::blue);
  const QColor ownColor = label_.palette().color(QPalette::WindowText);

  Enter(label_);
  EXPECT_TRUE(label_.IsMouseOver());
  EXPECT_EQ(label_.font(), over);
  EXPECT_EQ(label_.palette().color(QPalette::WindowText), QColor(Qt::blue));
  Enter(label_);  // a second enter without a leave
  Leave(label_);
  EXPECT_EQ(label_.font(), own);
  EXPECT_EQ(label_.palette().color(QPalette::WindowText), ownColor);
  for (int i = 0; i < 5; ++i) {
    Enter(label_);
    Leave(label_);
  }
  Leave(label_);  // a second leave
  EXPECT_FALSE(label_.IsMouseOver());
  EXPECT_EQ(label_.font(), own);
  EXPECT_EQ(label_.palette().color(QPalette::WindowText), ownColor);
}

TEST_F(UrlLabelTest, OverFontIsACopy) {
  QFont source = label_.font();
  source.setItalic(true);
  label_.SetOverFont(source);
  source.setItalic(false);
  source.setPointSize(30);
  EXPECT_TRUE(label_.OverFont().italic());
  EXPECT_NE(label_.OverFont().pointSize(), 30);
  Enter(label_);
  EXPECT_TRUE(label_.font().italic());
  Leave(label_);
}

}  // namespace
}  // namespace ecr

// The recorder's meta-object, made by moc from its header.
#include "moc_url_opener_recorder.cpp"
