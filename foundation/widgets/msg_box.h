#pragma once
// Message boxes with the system's fixed style: task-modal (application-modal), the icon
// of a kind, the application's title as caption when none is given. Every box of every
// program goes through ShowMsgBox, and ShowMsgBox goes through one replaceable
// presenter, so that tests answer boxes instead of blocking on them.
//
// Thread safety: main thread only (boxes are windows).

#include <QMessageBox>
#include <QString>
#include <cstdint>
#include <functional>

class QWidget;

namespace ecr {

// Kinds of box; any other value shows no icon.
inline constexpr std::uint8_t kMsgWarning = 0;
inline constexpr std::uint8_t kMsgError = 1;
inline constexpr std::uint8_t kMsgInformation = 2;
inline constexpr std::uint8_t kMsgConfirmation = 3;
inline constexpr std::uint8_t kMsgPlain = 255;

// One box as the presenter receives it: the caption already filled in.
struct MsgBoxRequest {
  QWidget* owner = nullptr;
  QString text;
  std::uint8_t kind = kMsgPlain;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  QString caption;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Shows the box and returns the button pressed.
using MsgBoxPresenter = std::function<QMessageBox::StandardButton(const MsgBoxRequest&)>;

// The icon of a kind: warning, critical, information, question, else none.
QMessageBox::Icon MsgBoxIcon(std::uint8_t kind);

// The application's title: the display name, which falls back to the application name.
QString ApplicationTitle();

// Shows one box and returns the button pressed (NoButton when the box was closed
// without one). An empty caption becomes ApplicationTitle(). `defaultButton` stands for
// the further style flags; the programs leave it to the box.
QMessageBox::StandardButton ShowMsgBox(QWidget* owner, const QString& text, std::uint8_t kind,
                                       QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                       const QString& caption = QString(),
                                       QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

// Replaces the presenter (an empty one restores the real boxes) and returns the one
// in use before.
MsgBoxPresenter SetMsgBoxPresenter(MsgBoxPresenter presenter);

// The real presenter: a QMessageBox, application-modal, run with exec(). Its buttons carry
// the toolkit's standard texts, which an installed language module translates as well.
QMessageBox::StandardButton PresentMsgBox(const MsgBoxRequest& request);

// Installs a presenter for its lifetime and puts the previous one back afterwards.
class ScopedMsgBoxPresenter {
 public:
  explicit ScopedMsgBoxPresenter(MsgBoxPresenter presenter) : previous_(SetMsgBoxPresenter(std::move(presenter))) {}
  ~ScopedMsgBoxPresenter() { SetMsgBoxPresenter(std::move(previous_)); }
  ScopedMsgBoxPresenter(const ScopedMsgBoxPresenter&) = delete;
  ScopedMsgBoxPresenter& operator=(const ScopedMsgBoxPresenter&) = delete;

 private:
  MsgBoxPresenter previous_;
};

}  // namespace ecr
