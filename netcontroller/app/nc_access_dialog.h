#pragma once
// TfmAccess, the dialog of the administrator (server) password, typed twice alike, and of
// the SET passwords. The caller stores the new server password after OK. A SET password
// is handed to the caller's ApplySetPassword at once (its OK button, or Enter in its
// field), cut to 9 bytes, whatever button later closes the dialog; the caller keeps it in
// memory until the next save of the settings. The password entries take no more than the
// 9 bytes (UTF-8) that the record keeps of a password, so what is typed is what is kept.
// Enter on a focused button presses it.
//
// Threads: main thread only.

#include <QDialog>
#include <QString>

#include <functional>
#include <string>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace ecr::nc {

// A password as the settings record keeps it: at most its first 9 bytes (UTF-8), never a
// character cut in two.
std::string CutPassword(const QString& text);

class TfmAccess : public QDialog {
  Q_OBJECT

 public:
  // setNo 1..14 and the password, already cut.
  using ApplySetPassword = std::function<void(int setNo, const std::string& password)>;

  static constexpr int kServerPasswordEditMax = 16;
  static constexpr int kSetPasswordEditMax = 20;

  explicit TfmAccess(ApplySetPassword applySetPassword, QWidget* parent = nullptr);

  // Caption := the application title; runs modally. Returns mrOk or mrCancel; after mrOk
  // the new server password is in eNewPW.
  int Execute();

  QLineEdit* eNewPW = nullptr;
  QLineEdit* eVerify = nullptr;
  QPushButton* BitBtnOK = nullptr;
  QPushButton* BitBtnCancel = nullptr;
  QComboBox* cbSetNo = nullptr;
  QLineEdit* eSetPW = nullptr;
  QPushButton* BitBtnSetPWOK = nullptr;
  QPushButton* BitBtnPWCancel = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Confirm();
  void ApplySetPasswordClick();

  ApplySetPassword applySetPassword_;
};

}  // namespace ecr::nc
