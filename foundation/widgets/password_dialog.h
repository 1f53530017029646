#pragma once
// The administrator password dialog that guards settings menus, stopping a service and
// closing a program. The entry must equal the kept password exactly; a wrong entry shows
// "Incorrect Password" and may be retried without limit.
//
// Thread safety: main thread only.

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

namespace ecr {

class TfmPassword : public QDialog {
  Q_OBJECT

 public:
  explicit TfmPassword(QWidget* parent = nullptr);

  // An empty `password` ends with mrOk at once, showing nothing; otherwise the dialog
  // runs modally. Returns the modal result (mrOk: the caller may proceed; mrCancel).
  int AskPassword(const QString& password);
  int ModalResult() const { return result(); }

  QLineEdit* ePassword = nullptr;
  QPushButton* BitBtnOK = nullptr;
  QPushButton* BitBtnCancel = nullptr;

 public slots:
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Confirm();
  void ClearEntry();

  QString password_;
};

}  // namespace ecr
