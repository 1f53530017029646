#include "netcontroller/app/nc_tray_icon.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QStyleHints>
#include <QSystemTrayIcon>

namespace ecr::nc {

TTrayIcon::TTrayIcon(QObject* parent) : QObject(parent) {
  clickTimer_.setSingleShot(true);
  // A coarse timer may fire up to 5% early; the click must not come before its time.
  clickTimer_.setTimerType(Qt::PreciseTimer);
  connect(&clickTimer_, &QTimer::timeout, this, &TTrayIcon::ClickTimerFired);
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  trayIcon_ = std::make_unique<QSystemTrayIcon>();
  connect(trayIcon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    const QPoint cursor = QCursor::pos();
    switch (reason) {
      case QSystemTrayIcon::Trigger:
        HandleMouse(MouseMessage::LeftButtonDown, cursor);
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
  });
}

TTrayIcon::~TTrayIcon() = default;

void TTrayIcon::AddIcon() {
  shownTip_ = tip_.left(kTipLimit);
  added_ = true;
  if (!trayIcon_) return;
  trayIcon_->setIcon(icon_);
  trayIcon_->setToolTip(shownTip_);
  trayIcon_->show();
}

void TTrayIcon::RemoveIcon() {
  shownTip_.clear();
  added_ = false;
  if (trayIcon_) trayIcon_->hide();
}

bool TTrayIcon::OnDesktop() const { return trayIcon_ && trayIcon_->isVisible(); }

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

void TTrayIcon::ClickTimerFired() {
  if (OnClick) OnClick(*this);
}

}  // namespace ecr::nc
