#pragma once
// TTrayIcon, the network-controller server's icon in the desktop's tray: one icon with a
// tip, mouse activity on it turned into a click, a double click and a popup menu.
//
// A single left click is reported (OnClick) once the double-click time has passed
// without a second click; a double click cancels the pending click and is reported
// (OnDblClick) at once. A right click shows PopupMenu, when one is set, at the pointer.
// The tip given to the desktop is cut to kTipLimit characters. A new icon or tip takes
// effect at the next AddIcon; nothing changes an icon that is shown.
//
// Where the tray reports a click as a single activation and never a double click (a
// StatusNotifierItem tray over D-Bus), no double click can follow to cancel it: the click is
// reported at once. The owner decides what a click does.
//
// Where the desktop has no tray the object keeps its state (Added, the click timer) and
// shows nothing; NoNotificationArea tells the owner, so that its window stays the way into
// the program. OnTrayChange is raised when a tray appears or goes away while the icon is
// added (the desktop is asked every few seconds).
//
// Threads: main thread only.

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QTimer>

#include <functional>

#include "foundation/widgets/desktop_tray_icon.h"

class QMenu;

namespace ecr::nc {

class TTrayIcon : public QObject {
  Q_OBJECT

 public:
  static constexpr int kTipLimit = 63;

  // What the mouse did on the icon, as the desktop reports it.
  enum class MouseMessage { LeftButtonDown, LeftButtonDoubleClick, RightButtonDown, RightButtonUp, Other };

  using NotifyEvent = std::function<void(TTrayIcon& sender)>;

  explicit TTrayIcon(QObject* parent = nullptr);
  // Does not remove the icon: the owner calls RemoveIcon first.
  ~TTrayIcon() override;

  NotifyEvent OnClick;
  NotifyEvent OnDblClick;
  NotifyEvent OnTrayChange;

  const QString& Tip() const { return tip_; }
  void SetTip(const QString& tip) { tip_ = tip; }
  const QIcon& Icon() const { return icon_; }
  // Copies the icon.
  void SetIcon(const QIcon& icon) { icon_ = icon; }
  // Not owned; null for none.
  QMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(QMenu* menu) { popupMenu_ = menu; }

  void AddIcon();
  void RemoveIcon();

  bool Added() const { return added_; }
  // The tip as the desktop was given it at the last AddIcon (empty after RemoveIcon).
  const QString& ShownTip() const { return shownTip_; }
  // Whether an icon is really on the desktop (false where there is no tray).
  bool OnDesktop() const { return desktop_.OnDesktop(); }
  // A desktop without a notification area (the offscreen platform is no desktop at all).
  bool NoNotificationArea() const { return desktop_.NoNotificationArea(); }
  DesktopTrayIcon& Desktop() { return desktop_; }
  bool ClickPending() const { return clickTimer_.isActive(); }

  // The desktop's report of mouse activity on the icon, at the pointer's screen position.
  void HandleMouse(MouseMessage message, QPoint cursor);

 private:
  // The tray's activation, as the mouse messages it stands for.
  void HandleActivation(QSystemTrayIcon::ActivationReason reason, QPoint cursor);
  void RaiseClick();

  DesktopTrayIcon desktop_;
  QIcon icon_;
  QString tip_;
  QString shownTip_;
  QMenu* popupMenu_ = nullptr;
  QTimer clickTimer_;
  QPoint lastCursor_;
  bool added_ = false;
};

}  // namespace ecr::nc
