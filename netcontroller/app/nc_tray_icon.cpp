#include "netcontroller/app/nc_tray_icon.h"

#include <QGuiApplication>
#include <QMenu>
#include <QStyleHints>

namespace ecr::nc {

TTrayIcon::TTrayIcon(QObject* parent) : QObject(parent), desktop_(DesktopTrayIcon::WithoutTray::Nothing) {
  clickTimer_.setSingleShot(true);
  // A coarse timer may fire up to 5% early; the click must not come before its time.
  clickTimer_.setTimerType(Qt::PreciseTimer);
  connect(&clickTimer_, &QTimer::timeout, this, &TTrayIcon::RaiseClick);
  connect(&desktop_, &DesktopTrayIcon::Activated, this, &TTrayIcon::HandleActivation);
  connect(&desktop_, &DesktopTrayIcon::TrayChanged, this, [this] {
    if (OnTrayChange) OnTrayChange(*this);
  });
}

TTrayIcon::~TTrayIcon() = default;

void TTrayIcon::AddIcon() {
  shownTip_ = tip_.left(kTipLimit);
  added_ = true;
  desktop_.SetImage(icon_);
  desktop_.SetHint(shownTip_);
  desktop_.Show();
}

void TTrayIcon::RemoveIcon() {
  shownTip_.clear();
  added_ = false;
  desktop_.Hide();
}

void TTrayIcon::HandleActivation(QSystemTrayIcon::ActivationReason reason, QPoint cursor) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      if (desktop_.SingleActivationOnly()) {
        clickTimer_.stop();
        RaiseClick();
      } else {
        HandleMouse(MouseMessage::LeftButtonDown, cursor);
      }
      break;
    case QSystemTrayIcon::DoubleClick:
      HandleMouse(MouseMessage::LeftButtonDoubleClick, cursor);
      break;
    case QSystemTrayIcon::Context:
      HandleMouse(MouseMessage::RightButtonDown, cursor);
      HandleMouse(MouseMessage::RightButtonUp, cursor);
      break;
    case QSystemTrayIcon::MiddleClick:
    case QSystemTrayIcon::Unknown:
      HandleMouse(MouseMessage::Other, cursor);
      break;
  }
}

void TTrayIcon::HandleMouse(MouseMessage message, QPoint cursor) {
  switch (message) {
    case MouseMessage::LeftButtonDown:
      if (!clickTimer_.isActive()) clickTimer_.start(QGuiApplication::styleHints()->mouseDoubleClickInterval());
      break;
    case MouseMessage::LeftButtonDoubleClick:
      clickTimer_.stop();
      if (OnDblClick) OnDblClick(*this);
      break;
    case MouseMessage::RightButtonDown:
      // The tray holds no window that could take the foreground; the menu closes by
      // itself when the user clicks elsewhere.
      lastCursor_ = cursor;
      break;
    case MouseMessage::RightButtonUp:
      lastCursor_ = cursor;
      if (popupMenu_ != nullptr) popupMenu_->popup(lastCursor_);
      break;
    case MouseMessage::Other:
      break;
  }
}

void TTrayIcon::RaiseClick() {
  if (OnClick) OnClick(*this);
}

}  // namespace ecr::nc
