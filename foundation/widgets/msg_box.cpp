#include "foundation/widgets/msg_box.h"

#include <QGuiApplication>
#include <utility>

namespace ecr {
namespace {

// The one seam of every box; a function-local object, made on first use.
MsgBoxPresenter& CurrentPresenter() {
  static MsgBoxPresenter presenter;
  return presenter;
}

}  // namespace

QMessageBox::Icon MsgBoxIcon(std::uint8_t kind) {
  switch (kind) {
    case kMsgWarning: return QMessageBox::Warning;
    case kMsgError: return QMessageBox::Critical;
    case kMsgInformation: return QMessageBox::Information;
    case kMsgConfirmation: return QMessageBox::Question;
    default: return QMessageBox::NoIcon;
  }
}

QString ApplicationTitle() { return QGuiApplication::applicationDisplayName(); }

QMessageBox::StandardButton ShowMsgBox(QWidget* owner, const QString& text, std::uint8_t kind,
                                       QMessageBox::StandardButtons buttons, const QString& caption,
                                       QMessageBox::StandardButton defaultButton) {
  MsgBoxRequest request;
  request.owner = owner;
  request.text = text;
  request.kind = kind;
  request.icon = MsgBoxIcon(kind);
  request.buttons = buttons;
  request.caption = caption.isEmpty() ? ApplicationTitle() : caption;
  request.defaultButton = defaultButton;
  // A copy: the presenter may replace itself while its box is open.
  MsgBoxPresenter presenter = CurrentPresenter();
  return presenter ? presenter(request) : PresentMsgBox(request);
}

MsgBoxPresenter SetMsgBoxPresenter(MsgBoxPresenter presenter) {
  return std::exchange(CurrentPresenter(), std::move(presenter));
}

QMessageBox::StandardButton PresentMsgBox(const MsgBoxRequest& request) {
  QMessageBox box(request.icon, request.caption, request.text, request.buttons, request.owner);
  box.setWindowModality(Qt::ApplicationModal);
  if (request.defaultButton != QMessageBox::NoButton) box.setDefaultButton(request.defaultButton);
  const int pressed = box.exec();
  return static_cast<QMessageBox::StandardButton>(pressed);
}

}  // namespace ecr
