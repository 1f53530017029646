// The two contact panels: their links point where they say and behave as links.
#include "foundation/widgets/contact_panels.h"

#include <QLabel>
#include <QtTest/QTest>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/widgets/url_label.h"
#include "tests/foundation/widgets/url_opener_recorder.h"

namespace ecr {
namespace {

void ExpectLinkStyle(const TURLLabel& link) {
  EXPECT_TRUE(link.font().underline());
  EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
  EXPECT_TRUE(link.OverFont().underline());
  EXPECT_EQ(link.OverFont().pointSizeF(), link.font().pointSizeF());
  EXPECT_EQ(link.OverColor(), QColor(Qt::blue));
}

struct Panel {
  const char* name;
  QLabel* mailCaption;
  TURLLabel* web;
  TURLLabel* mail;
};

TEST(ContactPanels, EachPanelHasAWebAndAMailLinkThatOpenWhatTheyShow) {
  test::UrlOpenerRecorder opener;
  TfrCompanyInfoKv maker;
  TfrCompanyInfoZq registerMaker;
  maker.show();
  registerMaker.show();
  const std::vector<Panel> panels = {
      {"maker", maker.lblMailCaption, maker.ulWeb, maker.ulMail},
      {"register maker", registerMaker.lblMailCaption, registerMaker.ulWeb, registerMaker.ulMail},
  };
  for (const Panel& panel : panels) {
    SCOPED_TRACE(panel.name);
    EXPECT_EQ(panel.mailCaption->text(), "e-mail:");
    ExpectLinkStyle(*panel.web);
    ExpectLinkStyle(*panel.mail);
    EXPECT_TRUE(panel.web->URLText().startsWith("https://"));
    EXPECT_TRUE(panel.web->URLText().contains(panel.web->text()));
    EXPECT_EQ(panel.mail->URLText(), "mailto:" + panel.mail->text());

    opener.opened.clear();
    QTest::mouseClick(panel.web, Qt::LeftButton);
    QTest::mouseClick(panel.mail, Qt::LeftButton);
    EXPECT_EQ(opener.opened, (QStringList{panel.web->URLText(), panel.mail->URLText()}));
  }
}

TEST(ContactPanels, TheMakersNameIsLargeBoldAndBlueAndTheRegisterMakerShowsItsLogo) {
  TfrCompanyInfoKv maker;
  EXPECT_FALSE(maker.lblCompany->text().isEmpty());
  EXPECT_TRUE(maker.lblCompany->font().bold());
  EXPECT_GT(maker.lblCompany->font().pointSizeF(), maker.lblAddress->font().pointSizeF());
  EXPECT_EQ(maker.lblCompany->palette().color(QPalette::WindowText), QColor(Qt::blue));
  for (QLabel* line : {maker.lblAddress, maker.lblPhone, maker.lblFax}) EXPECT_FALSE(line->text().isEmpty());

  TfrCompanyInfoZq registerMaker;
  EXPECT_FALSE(registerMaker.imgLogo->pixmap().isNull());
  for (QLabel* line : {registerMaker.lblAddress, registerMaker.lblPhone, registerMaker.lblFax})
    EXPECT_FALSE(line->text().isEmpty());
}

}  // namespace
}  // namespace ecr

// The recorder's meta-object, made by moc from its header.
#include "moc_url_opener_recorder.cpp"
