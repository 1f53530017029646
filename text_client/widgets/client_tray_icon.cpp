#include "text_client/widgets/client_tray_icon.h"

#include <QPainter>
#include <QPixmap>

namespace ecr {

QIcon ClientTrayImage(int entry) {
    if (entry != kTrayImageRunning && entry != kTrayImageStopped) return {};
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // A sheet of paper with a coloured corner: green while files are sold, red when stopped.
    painter.setPen(QColor(60, 60, 60));
    painter.setBrush(Qt::white);
    painter.drawRect(2, 1, 10, 13);
    painter.setPen(QColor(120, 120, 120));
    for (int y = 4; y <= 10; y += 3) painter.drawLine(4, y, 10, y);
    painter.setPen(Qt::NoPen);
    painter.setBrush(entry == kTrayImageRunning ? QColor(0, 160, 0) : QColor(200, 0, 0));
    painter.drawEllipse(8, 8, 8, 8);
    painter.end();
    return QIcon(pixmap);
}

ClientTrayIcon::ClientTrayIcon(QObject* parent)
    : QObject(parent), desktop_(DesktopTrayIcon::WithoutTray::StandInWindow) {
    desktop_.SetImage(ClientTrayImage(image_));
    connect(&desktop_, &DesktopTrayIcon::Activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick) emit DoubleClicked();
    });
}

ClientTrayIcon::~ClientTrayIcon() = default;

void ClientTrayIcon::SetImage(int entry) {
    image_ = entry;
    desktop_.SetImage(ClientTrayImage(entry));
}

void ClientTrayIcon::SetHint(const QString& hint) { desktop_.SetHint(hint); }

void ClientTrayIcon::SetPopupMenu(QMenu* menu) { desktop_.SetPopupMenu(menu); }

void ClientTrayIcon::Show() { desktop_.Show(); }

void ClientTrayIcon::Hide() { desktop_.Hide(); }

}  // namespace ecr
