#include "server_app/tray_icon.h"

#include "server_app/menu_glyphs.h"

namespace ecr {

TrayIcon::TrayIcon(QObject* parent) : QObject(parent), desktop_(DesktopTrayIcon::WithoutTray::StandInWindow) {
  desktop_.SetImage(TrayImage(image_));
  connect(&desktop_, &DesktopTrayIcon::Activated, this,
          [this](QSystemTrayIcon::ActivationReason reason, QPoint screenPosition) {
            switch (reason) {
              case QSystemTrayIcon::Trigger:
                emit Clicked(Qt::LeftButton, screenPosition);
                break;
              case QSystemTrayIcon::Context:
                emit Clicked(Qt::RightButton, screenPosition);
                break;
              case QSystemTrayIcon::MiddleClick:
                emit Clicked(Qt::MiddleButton, screenPosition);
                break;
              case QSystemTrayIcon::DoubleClick:
                emit DoubleClicked();
                break;
              case QSystemTrayIcon::Unknown:
                break;
            }
          });
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::SetImage(int entry) {
  image_ = entry;
  desktop_.SetImage(TrayImage(entry));
}

void TrayIcon::SetHint(const QString& hint) { desktop_.SetHint(hint); }

void TrayIcon::Show() { desktop_.Show(); }

void TrayIcon::Hide() { desktop_.Hide(); }

}  // namespace ecr
