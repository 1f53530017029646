#include "netcontroller/app/nc_indicator.h"

#include <QPainter>

namespace ecr::nc {

TIndicator::TIndicator(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("shIndicator"));
  setFixedSize(33, 33);
}

void TIndicator::SetColor(const QColor& color) {
  if (color == color_) return;
  color_ = color;
  update();
}

void TIndicator::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(color_);
  const int side = qMin(width(), height()) - 2;
  painter.drawEllipse(QRectF((width() - side) / 2.0, (height() - side) / 2.0, side, side));
}

}  // namespace ecr::nc
