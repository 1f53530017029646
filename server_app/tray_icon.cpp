#include "server_app/tray_icon.h"

#include <QCursor>
#include <QSystemTrayIcon>

#include "server_app/menu_glyphs.h"

namespace ecr {

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  icon_ = std::make_unique<QSystemTrayIcon>(TrayImage(image_));
  connect(icon_.get(), &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            switch (reason) {
              case QSystemTrayIcon::Trigger:
                emit Clicked(Qt::LeftButton, QCursor::pos());
                break;
              case QSystemTrayIcon::Context:
                emit Clicked(Qt::RightButton, QCursor::pos());
                break;
              case QSystemTrayIcon::MiddleClick:
                emit Clicked(Qt::MiddleButton, QCursor::pos());
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
  if (icon_) icon_->setIcon(TrayImage(entry));
}

void TrayIcon::SetHint(const QString& hint) {
  hint_ = hint;
  if (icon_) icon_->setToolTip(hint);
}

void TrayIcon::Show() {
  shown_ = true;
  if (icon_) icon_->show();
}

void TrayIcon::Hide() {
  shown_ = false;
  if (icon_) icon_->hide();
}

bool TrayIcon::OnDesktop() const { return icon_ && icon_->isVisible(); }

}  // namespace ecr
