#pragma once
// The administrator password dialog that guards settings menus, stopping a service and
// closing a program. The entry must equal the kept password exactly; a wrong entry shows
// "Incorrect Password" and may be retried without limit.
//
// A password kept in a record field of n bytes is asked with an entry of n bytes, as the
// entries that set it have: a password typed longer than the field when it was set was
// kept as what fitted of it, and the same typing at the prompt gives the same text.
//
// Thread safety: main thread only.

#include <QDialog>
#include <QString>

#include <cstddef>
#include <optional>

class QLineEdit;
class QPushButton;

namespace ecr {

class TfmPassword : public QDialog {
  Q_OBJECT

 public:
  explicit TfmPassword(QWidget* parent = nullptr);

  // An empty `password` ends with mrOk at once, showing nothing; otherwise the dialog
  // runs modally. Returns the modal result (mrOk: the caller may proceed; mrCancel).
  // keptBytes: the UTF-8 bytes of the field that keeps the password; the entry takes no
  // more (no limit when not given).
  int AskPassword(const QString& password, std::optional<std::size_t> keptBytes = std::nullopt);
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
