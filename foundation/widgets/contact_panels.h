#pragma once
// The support contacts on the status window's "Support" page: the system's maker
// (TfrCompanyInfoKv) and the register maker (TfrCompanyInfoZq). Window layouts only; the
// hyperlink labels do the rest.
//
// Thread safety: main thread only.

#include <QFrame>

class QLabel;

namespace ecr {

class TURLLabel;

class TfrCompanyInfoKv : public QFrame {
  Q_OBJECT

 public:
  explicit TfrCompanyInfoKv(QWidget* parent = nullptr);

  QLabel* lblCompany = nullptr;
  QLabel* lblAddress = nullptr;
  QLabel* lblPhone = nullptr;
  QLabel* lblFax = nullptr;
  QLabel* lblMailCaption = nullptr;
  TURLLabel* ulWeb = nullptr;
  TURLLabel* ulMail = nullptr;
};

class TfrCompanyInfoZq : public QFrame {
  Q_OBJECT

 public:
  explicit TfrCompanyInfoZq(QWidget* parent = nullptr);

  QLabel* lblAddress = nullptr;
  QLabel* lblPhone = nullptr;
  QLabel* lblFax = nullptr;
  QLabel* lblMailCaption = nullptr;
  QLabel* imgLogo = nullptr;
  TURLLabel* ulWeb = nullptr;
  TURLLabel* ulMail = nullptr;
};

// Underlined, hand-pointer cursor, OverFont the same size, underlined, in blue.
void StyleContactLink(TURLLabel& label);

}  // namespace ecr
