#include "foundation/widgets/contact_panels.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

#include "foundation/widgets/url_label.h"

namespace ecr {
namespace {

// The contact data of both companies (company data, not behaviour).
constexpr const char* kMakerName = "Kavrolen Systems Ltd.";
constexpr const char* kMakerAddress = "14 Quillan Row\nBrackmoor BM4 7TQ";
constexpr const char* kMakerPhone = "+1 555 0142";
constexpr const char* kMakerFax = "+1 555 0143";
constexpr const char* kMakerWeb = "www.kavrolen.example";
constexpr const char* kMakerWebUrl = "https://www.kavrolen.example/";
constexpr const char* kMakerMail = "support@kavrolen.example";

constexpr const char* kRegisterMakerAddress = "Zaquessa Register Works\nUnit 3, Tellimar Park\nOswick OW2 9LD";
constexpr const char* kRegisterMakerPhone = "+1 555 0177";
constexpr const char* kRegisterMakerFax = "+1 555 0178";
constexpr const char* kRegisterMakerWeb = "www.zaquessa.example";
constexpr const char* kRegisterMakerWebUrl = "https://www.zaquessa.example/";
constexpr const char* kRegisterMakerMail = "sales@zaquessa.example";

QLabel* NewLabel(const QString& text, const char* name, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  return label;
}

QLabel* NewLabel(const char* text, const char* name, QWidget* parent) {
  return NewLabel(QString::fromUtf8(text), name, parent);
}

// A line of the panel's words around a piece of company data.
QString Line(const QString& words, const char* data) { return words.arg(QString::fromLatin1(data)); }

TURLLabel* NewLink(const char* text, const QString& url, const char* name, QWidget* parent) {
  auto* label = new TURLLabel(QString::fromUtf8(text), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->SetURLText(url);
  StyleContactLink(*label);
  return label;
}

// A small register with a paper roll: the register maker's mark, drawn here.
QPixmap RegisterMakerLogo() {
  QPixmap logo(72, 56);
  logo.fill(Qt::transparent);
  QPainter painter(&logo);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(0x1f, 0x3a, 0x6e), 2));
  painter.setBrush(QColor(0xe8, 0xee, 0xf8));
  painter.drawRoundedRect(QRectF(6, 22, 60, 30), 4, 4);        // body
  painter.setBrush(QColor(0x3c, 0x8d, 0x5a));
  painter.drawRect(QRectF(14, 28, 28, 8));                     // display
  painter.setBrush(Qt::white);
  painter.drawRect(QRectF(48, 6, 12, 18));                     // paper
  painter.setBrush(QColor(0x1f, 0x3a, 0x6e));
  for (int row = 0; row < 2; ++row)
    for (int column = 0; column < 4; ++column)
      painter.drawRect(QRectF(14 + column * 8, 40 + row * 5, 5, 3));  // keys
  return logo;
}

}  // namespace

void StyleContactLink(TURLLabel& label) {
  QFont own = label.font();
  own.setUnderline(true);
  label.setFont(own);
  label.setCursor(Qt::PointingHandCursor);
  label.SetOverFont(own);
  label.SetOverColor(Qt::blue);
}

TfrCompanyInfoKv::TfrCompanyInfoKv(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("frCompanyInfoKv"));
  lblCompany = NewLabel(kMakerName, "lblCompany", this);
  QFont large = lblCompany->font();
  large.setBold(true);
  large.setPointSizeF(large.pointSizeF() * 1.6);
  lblCompany->setFont(large);
  QPalette palette = lblCompany->palette();
  palette.setColor(QPalette::WindowText, Qt::blue);
  lblCompany->setPalette(palette);
  lblAddress = NewLabel(kMakerAddress, "lblAddress", this);
  lblPhone =
      NewLabel(Line(QCoreApplication::translate("TfrCompanyInfoKv", "Phone: %1"), kMakerPhone), "lblPhone", this);
  lblFax = NewLabel(Line(QCoreApplication::translate("TfrCompanyInfoKv", "Fax: %1"), kMakerFax), "lblFax", this);
  lblMailCaption = NewLabel(QCoreApplication::translate("TfrCompanyInfoKv", "e-mail:"), "lblMailCaption", this);
  ulWeb = NewLink(kMakerWeb, QString::fromLatin1(kMakerWebUrl), "ulWeb", this);
  ulMail = NewLink(kMakerMail, QStringLiteral("mailto:") + QString::fromLatin1(kMakerMail), "ulMail", this);

  auto* mail = new QHBoxLayout;
  mail->addWidget(lblMailCaption);
  mail->addWidget(ulMail);
  mail->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblCompany);
  layout->addWidget(lblAddress);
  layout->addWidget(lblPhone);
  layout->addWidget(lblFax);
  layout->addLayout(mail);
  layout->addWidget(ulWeb);
  layout->addStretch();
}

TfrCompanyInfoZq::TfrCompanyInfoZq(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("frCompanyInfoZq"));
  imgLogo = new QLabel(this);
  imgLogo->setObjectName(QStringLiteral("imgLogo"));
  imgLogo->setPixmap(RegisterMakerLogo());
  lblAddress = NewLabel(kRegisterMakerAddress, "lblAddress", this);
  lblPhone = NewLabel(Line(QCoreApplication::translate("TfrCompanyInfoZq", "Phone: %1"), kRegisterMakerPhone),
                      "lblPhone", this);
  lblFax =
      NewLabel(Line(QCoreApplication::translate("TfrCompanyInfoZq", "Fax: %1"), kRegisterMakerFax), "lblFax", this);
  lblMailCaption = NewLabel(QCoreApplication::translate("TfrCompanyInfoZq", "e-mail:"), "lblMailCaption", this);
  ulWeb = NewLink(kRegisterMakerWeb, QString::fromLatin1(kRegisterMakerWebUrl), "ulWeb", this);
  ulMail = NewLink(kRegisterMakerMail, QStringLiteral("mailto:") + QString::fromLatin1(kRegisterMakerMail), "ulMail",
                   this);

  auto* text = new QVBoxLayout;
  text->addWidget(lblAddress);
  text->addWidget(lblPhone);
  text->addWidget(lblFax);
  auto* mail = new QHBoxLayout;
  mail->addWidget(lblMailCaption);
  mail->addWidget(ulMail);
  mail->addStretch();
  text->addLayout(mail);
  text->addWidget(ulWeb);
  text->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(imgLogo, 0, Qt::AlignTop);
  layout->addLayout(text);
}

}  // namespace ecr
