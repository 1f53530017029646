#include "netcontroller/app/nc_program_icon.h"

#include <QPainter>
#include <QPixmap>

namespace ecr::nc {
namespace {

// A controller box with a lamp and four line sockets, wired to a register below it.
QPixmap Picture(int side) {
  QPixmap picture(side, side);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(side / 32.0, side / 32.0);
  painter.setPen(QPen(QColor(0x20, 0x30, 0x50), 1.2));
  painter.setBrush(QColor(0x4a, 0x78, 0xb8));
  painter.drawRoundedRect(QRectF(3, 4, 26, 13), 2, 2);  // controller
  painter.setBrush(QColor(0x40, 0xd0, 0x40));
  painter.drawEllipse(QRectF(6, 7, 4, 4));  // lamp
  painter.setBrush(QColor(0xe8, 0xee, 0xf8));
  for (int socket = 0; socket < 4; ++socket) painter.drawRect(QRectF(12 + socket * 4, 8, 3, 3));
  painter.drawLine(QPointF(16, 17), QPointF(16, 22));  // line to the register
  painter.setBrush(QColor(0xf0, 0xf0, 0xf0));
  painter.drawRect(QRectF(8, 22, 16, 8));  // register
  painter.setBrush(QColor(0x3c, 0x8d, 0x5a));
  painter.drawRect(QRectF(10, 24, 8, 3));  // its display
  return picture;
}

}  // namespace

QIcon ProgramIcon() {
  QIcon icon;
  for (const int side : {16, 32, 64}) icon.addPixmap(Picture(side));
  return icon;
}

}  // namespace ecr::nc
