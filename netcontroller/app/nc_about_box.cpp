#include "netcontroller/app/nc_about_box.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/widgets/contact_panels.h"
#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/url_label.h"

namespace ecr::nc {

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(tr("About"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);

  Img = new QLabel(panel);
  Img->setObjectName(QStringLiteral("Img"));
  Img->setPixmap(QApplication::windowIcon().pixmap(32, 32));
  ProdName = new QLabel(ApplicationTitle(), panel);
  ProdName->setObjectName(QStringLiteral("ProdName"));
  QFont large = ProdName->font();
  large.setBold(true);
  large.setPointSizeF(large.pointSizeF() * 1.3);
  ProdName->setFont(large);
  Contacts = new TfrCompanyInfoKv(panel);
  lblEMail = Contacts->ulMail;
  lblLINK = Contacts->ulWeb;

  auto* heading = new QHBoxLayout;
  heading->addWidget(Img, 0, Qt::AlignTop);
  heading->addWidget(ProdName, 1);
  auto* panelLayout = new QVBoxLayout(panel);
  panelLayout->addLayout(heading);
  panelLayout->addWidget(Contacts);

  OKButton = new QPushButton(tr("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(OKButton);
  buttons->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(panel);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace ecr::nc
