#pragma once
// TAboutBox, the network-controller server's about box: the product name (the
// application title) and picture, and the maker's contacts, whose web and e-mail labels
// open the browser or the mail program when clicked.
//
// Threads: main thread only.

#include <QDialog>

class QLabel;
class QPushButton;

namespace ecr {
class TfrCompanyInfoKv;
class TURLLabel;
}  // namespace ecr

namespace ecr::nc {

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* parent = nullptr);

  QLabel* ProdName = nullptr;
  QLabel* Img = nullptr;
  TfrCompanyInfoKv* Contacts = nullptr;
  TURLLabel* lblEMail = nullptr;  // the maker's support address
  TURLLabel* lblLINK = nullptr;   // the maker's web address
  QPushButton* OKButton = nullptr;
};

}  // namespace ecr::nc
