#include "foundation/widgets/desktop_tray_icon.h"

#include <QCursor>
#include <QMenu>

#include "foundation/widgets/tray_desktop.h"
#include "foundation/widgets/tray_stand_in.h"

namespace ecr {

DesktopTrayIcon::DesktopTrayIcon(WithoutTray withoutTray, QObject* parent)
    : QObject(parent), withoutTray_(withoutTray) {
  ReadTrays();
  MakeSystemIcon();
  checkTimer_.setInterval(kTrayCheckMs);
  connect(&checkTimer_, &QTimer::timeout, this, &DesktopTrayIcon::CheckTray);
  AskDesktop();
}

DesktopTrayIcon::~DesktopTrayIcon() = default;

void DesktopTrayIcon::MakeSystemIcon() {
  icon_ = std::make_unique<QSystemTrayIcon>(image_);
  icon_->setToolTip(hint_);
  icon_->setContextMenu(menu_);
  connect(icon_.get(), &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) { emit Activated(reason, QCursor::pos()); });
}

void DesktopTrayIcon::SetImage(const QIcon& image) {
  image_ = image;
  icon_->setIcon(image);
  if (standIn_) standIn_->SetImage(image);
}

void DesktopTrayIcon::SetHint(const QString& hint) {
  hint_ = hint;
  icon_->setToolTip(hint);
  if (standIn_) standIn_->SetHint(hint);
}

void DesktopTrayIcon::SetPopupMenu(QMenu* menu) {
  menu_ = menu;
  icon_->setContextMenu(menu);
}

void DesktopTrayIcon::Show() {
  shown_ = true;
  Follow();
  // The offscreen platform never gets a tray: nothing to watch for.
  if (!offscreen_) checkTimer_.start();
}

void DesktopTrayIcon::Hide() {
  shown_ = false;
  checkTimer_.stop();
  Follow();
}

bool DesktopTrayIcon::NoNotificationArea() const {
  if (offscreen_) return false;
  return shown_ ? !onDesktop_ : !statusNotifierHost_ && !embeddedTray_;
}

bool DesktopTrayIcon::SingleActivationOnly() const { return CurrentTrayDesktop().ShowsStatusNotifierItem(); }

bool DesktopTrayIcon::ReadTrays() {
  const TrayDesktop& desktop = CurrentTrayDesktop();
  offscreen_ = desktop.Offscreen();
  const bool statusNotifierHost = !offscreen_ && desktop.StatusNotifierHost();
  const bool embeddedTray = !offscreen_ && desktop.EmbeddedTray();
  const bool changed = statusNotifierHost != statusNotifierHost_ || embeddedTray != embeddedTray_;
  statusNotifierHost_ = statusNotifierHost;
  embeddedTray_ = embeddedTray;
  return changed;
}

void DesktopTrayIcon::AskDesktop() {
  // The offscreen platform has no desktop to ask.
  if (offscreen_) return;
  CurrentTrayDesktop().Ask([self = QPointer<DesktopTrayIcon>(this)] {
    if (self) self->FollowDesktop();
  });
}

void DesktopTrayIcon::CheckTray() {
  AskDesktop();
  FollowDesktop();
}

void DesktopTrayIcon::FollowDesktop() {
  // An icon made before a tray came may never reach it: the toolkit picks the kind of tray
  // when it makes the icon. Made again only when the trays change, never at every check.
  if (ReadTrays() && (statusNotifierHost_ || embeddedTray_)) MakeSystemIcon();
  if (Follow()) emit TrayChanged(onDesktop_);
}

bool DesktopTrayIcon::Follow() {
  const TrayDesktop& desktop = CurrentTrayDesktop();
  const bool iconWanted = shown_ && (statusNotifierHost_ || embeddedTray_);
  const bool iconAppears = iconWanted && !icon_->isVisible();
  icon_->setVisible(iconWanted);
  // The kind of icon the toolkit made shows in the bus names it takes once shown.
  if (iconAppears) AskDesktop();
  const bool wasOnDesktop = onDesktop_;
  onDesktop_ = iconWanted && (desktop.ShowsStatusNotifierItem() ? statusNotifierHost_ : embeddedTray_);

  // Not before the desktop's first answer: a stand-in that would go again at once.
  const bool standInWanted = withoutTray_ == WithoutTray::StandInWindow && shown_ && !offscreen_ && !onDesktop_ &&
                             desktop.Answered();
  if (standInWanted && !standIn_) {
    standIn_ = std::make_unique<TrayStandIn>();
    standIn_->SetImage(image_);
    standIn_->SetHint(hint_);
    connect(standIn_.get(), &TrayStandIn::Activated, this, &DesktopTrayIcon::StandInActivated);
    standIn_->show();
  } else if (!standInWanted && standIn_) {
    standIn_->hide();
    // Inside one of the stand-in's own signals it goes once control is back in the loop.
    if (standInSignals_ > 0) {
      standIn_.release()->deleteLater();
    } else {
      standIn_.reset();
    }
  }
  return onDesktop_ != wasOnDesktop;
}

void DesktopTrayIcon::StandInActivated(QSystemTrayIcon::ActivationReason reason, QPoint screenPosition) {
  ++standInSignals_;
  // The tray shows the icon's context menu by itself; the stand-in does the same.
  if (reason == QSystemTrayIcon::Context && menu_) menu_->popup(screenPosition);
  emit Activated(reason, screenPosition);
  --standInSignals_;
}

}  // namespace ecr
