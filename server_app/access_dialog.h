#pragma once
// TfmAccess, the dialog that sets the administrator password and the SET passwords. The
// new administrator password must be typed twice alike; the caller stores it on OK. A SET
// password is applied to the settings record at once ("Apply SET password", or Enter in
// its field) whatever button later closes the dialog; it reaches the settings file with
// the next save. The password entries take no more than the 9 bytes (UTF-8) that the
// record keeps of a password. Enter moves from the new password to its verification and
// on to OK; Enter on a focused button presses it. Main thread only.

#include <QDialog>
#include <QString>

#include <string>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace ecr {

struct ServerSettings;

// A password as the settings record keeps it: its first 9 bytes (UTF-8), never a
// character cut in two.
std::string CutPassword(const QString& text);

class TfmAccess : public QDialog {
  Q_OBJECT

 public:
  // settings outlives the dialog.
  explicit TfmAccess(ServerSettings& settings, QWidget* parent = nullptr);

  // Runs the dialog modally and returns the modal result; on mrOk the new administrator
  // password is NewPassword().
  int EditAccess();
  QString NewPassword() const;

  QLineEdit* eNewPW = nullptr;
  QLineEdit* eVerify = nullptr;
  QPushButton* BitBtnOK = nullptr;
  QPushButton* BitBtnCancel = nullptr;
  QComboBox* cbSetNo = nullptr;
  QLineEdit* eSetPW = nullptr;
  QPushButton* BitBtnSetPWOK = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Confirm();
  void ApplySetPassword();

  ServerSettings& settings_;
};

}  // namespace ecr
