#include "server_app/menu_glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <functional>

namespace ecr {
namespace {

// Every glyph is drawn on a 16 x 16 design grid and scaled to the pixmap's size.
using GlyphPainter = std::function<void(QPainter&)>;

QPixmap Paint(int size, const GlyphPainter& draw) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 16.0, size / 16.0);
  draw(painter);
  return pixmap;
}

void Outline(QPainter& p, const QColor& color, qreal width = 1.2) {
  p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

void DrawAccess(QPainter& p) {  // a key
  Outline(p, QColor(120, 80, 0));
  p.setBrush(QColor(240, 190, 40));
  p.drawEllipse(QRectF(1.5, 4.5, 6, 6));
  p.setBrush(Qt::NoBrush);
  p.drawLine(QPointF(7.5, 7.5), QPointF(14.5, 7.5));
  p.drawLine(QPointF(12.5, 7.5), QPointF(12.5, 10.5));
  p.drawLine(QPointF(14.5, 7.5), QPointF(14.5, 10));
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(3.5, 6.5, 2, 2));
}

void DrawOffset(QPainter& p) {  // a counter with an arrow up
  Outline(p, QColor(30, 60, 120));
  p.setBrush(QColor(210, 225, 250));
  p.drawRect(QRectF(1.5, 5.5, 9, 7));
  QFont font("Sans");
  font.setPixelSize(6);
  font.setBold(true);
  p.setFont(font);
  p.drawText(QRectF(1.5, 5.5, 9, 7), Qt::AlignCenter, "12");
  p.setBrush(QColor(30, 140, 60));
  Outline(p, QColor(20, 90, 40));
  p.drawPolygon(QPolygonF({QPointF(13, 2), QPointF(15.5, 6), QPointF(10.5, 6)}));
  p.drawLine(QPointF(13, 6), QPointF(13, 12));
}

void DrawPorts(QPainter& p) {  // a serial plug with a cable
  Outline(p, QColor(60, 60, 60));
  p.setBrush(QColor(170, 180, 190));
  p.drawPolygon(QPolygonF({QPointF(1.5, 4.5), QPointF(11.5, 4.5), QPointF(10, 10.5), QPointF(3, 10.5)}));
  p.setBrush(QColor(40, 40, 40));
  for (int i = 0; i < 4; ++i) p.drawEllipse(QPointF(3.6 + 2 * i, 6.8), 0.5, 0.5);
  for (int i = 0; i < 3; ++i) p.drawEllipse(QPointF(4.6 + 2 * i, 8.8), 0.5, 0.5);
  p.setBrush(Qt::NoBrush);
  Outline(p, QColor(40, 40, 160), 1.5);
  QPainterPath cable(QPointF(11.5, 7.5));
  cable.cubicTo(QPointF(14.5, 7.5), QPointF(12, 14), QPointF(15, 14.5));
  p.drawPath(cable);
}

void DrawCodeTable(QPainter& p) {  // a small grid of characters
  Outline(p, QColor(70, 70, 70), 1.0);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(1.5, 1.5, 13, 13));
  p.drawLine(QPointF(8, 1.5), QPointF(8, 14.5));
  p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
  QFont font("Sans");
  font.setPixelSize(6);
  font.setBold(true);
  p.setFont(font);
  p.setPen(QColor(160, 20, 20));
  p.drawText(QRectF(1.5, 1.5, 6.5, 6.5), Qt::AlignCenter, "A");
  p.setPen(QColor(20, 20, 160));
  p.drawText(QRectF(8, 8, 6.5, 6.5), Qt::AlignCenter, "b");
  p.setPen(QColor(20, 120, 20));
  p.drawText(QRectF(8, 1.5, 6.5, 6.5), Qt::AlignCenter, "7");
  p.drawText(QRectF(1.5, 8, 6.5, 6.5), Qt::AlignCenter, "$");
}

void DrawStatus(QPainter& p) {  // a chart of bars
  p.setPen(Qt::NoPen);
  const QColor colors[] = {QColor(40, 120, 200), QColor(60, 170, 80), QColor(230, 150, 30)};
  const qreal heights[] = {6, 11, 8};
  for (int i = 0; i < 3; ++i) {
    p.setBrush(colors[i]);
    p.drawRect(QRectF(2 + 4.3 * i, 14 - heights[i], 3.3, heights[i]));
  }
  Outline(p, QColor(60, 60, 60), 1.0);
  p.drawLine(QPointF(1, 14.5), QPointF(15, 14.5));
}

void DrawHelp(QPainter& p) {  // a question mark in a circle
  Outline(p, QColor(20, 60, 150));
  p.setBrush(QColor(60, 120, 220));
  p.drawEllipse(QRectF(1, 1, 14, 14));
  QFont font("Sans");
  font.setPixelSize(11);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(1, 1, 14, 14), Qt::AlignCenter, "?");
}

void DrawStart(QPainter& p) {  // a green triangle
  Outline(p, QColor(20, 100, 30));
  p.setBrush(QColor(50, 190, 70));
  p.drawPolygon(QPolygonF({QPointF(4, 2), QPointF(14, 8), QPointF(4, 14)}));
}

void DrawStop(QPainter& p) {  // a red square
  Outline(p, QColor(130, 20, 20));
  p.setBrush(QColor(220, 50, 40));
  p.drawRoundedRect(QRectF(3, 3, 10, 10), 1.5, 1.5);
}

void DrawExit(QPainter& p) {  // an open door with an arrow
  Outline(p, QColor(90, 60, 30));
  p.setBrush(QColor(200, 150, 90));
  p.drawRect(QRectF(2.5, 1.5, 7, 13));
  p.setBrush(QColor(90, 60, 30));
  p.drawEllipse(QPointF(8, 8), 0.6, 0.6);
  Outline(p, QColor(200, 30, 30), 1.6);
  p.drawLine(QPointF(9, 8), QPointF(15, 8));
  p.drawLine(QPointF(12.5, 5.5), QPointF(15, 8));
  p.drawLine(QPointF(12.5, 10.5), QPointF(15, 8));
}

void DrawSpare(QPainter& p) {  // a plain grey dot, shown by no item
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(150, 150, 150));
  p.drawEllipse(QRectF(5, 5, 6, 6));
}

void DrawSearch(QPainter& p) {  // a magnifying glass
  Outline(p, QColor(50, 50, 50), 1.6);
  p.setBrush(QColor(200, 230, 250));
  p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
  Outline(p, QColor(110, 70, 30), 2.5);
  p.drawLine(QPointF(9.5, 9.5), QPointF(14.5, 14.5));
}

void DrawTestLine(QPainter& p) {  // a pulse on a line between two ends
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(60, 60, 60));
  p.drawRect(QRectF(0.5, 6, 2.5, 4));
  p.drawRect(QRectF(13, 6, 2.5, 4));
  Outline(p, QColor(210, 40, 120), 1.4);
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF({QPointF(3, 8), QPointF(5, 8), QPointF(6.5, 3), QPointF(9, 13),
                            QPointF(10.5, 8), QPointF(13, 8)}));
}

// A register on the tray: a body with a display whose colour tells the state.
void DrawRegister(QPainter& p, const QColor& display, bool stopped) {
  Outline(p, QColor(40, 40, 40), 0.8);
  p.setBrush(QColor(90, 95, 105));
  p.drawRoundedRect(QRectF(1, 6, 14, 9), 1.5, 1.5);
  p.setBrush(QColor(200, 200, 205));
  p.drawRect(QRectF(4, 1.5, 8, 5));
  p.setBrush(display);
  p.drawRect(QRectF(3, 8, 10, 2.5));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(220, 220, 220));
  for (int i = 0; i < 4; ++i) p.drawRect(QRectF(3.2 + 2.5 * i, 12, 1.6, 1.5));
  if (stopped) {
    Outline(p, QColor(200, 20, 20), 1.8);
    p.drawLine(QPointF(2, 2), QPointF(14, 14));
  }
}

const GlyphPainter& CellPainter(int cell) {
  static const GlyphPainter painters[kMenuGlyphCount] = {
      DrawAccess, DrawOffset, DrawPorts, DrawCodeTable, DrawStatus, DrawHelp,
      DrawStart,  DrawStop,   DrawExit,  DrawSpare,     DrawSearch, DrawTestLine,
  };
  return painters[cell];
}

}  // namespace

QPixmap MenuGlyph(int cell) {
  if (cell < 0 || cell >= kMenuGlyphCount) return {};
  return Paint(kMenuGlyphSize, CellPainter(cell));
}

QPixmap MenuGlyphStrip() {
  QPixmap strip(kMenuGlyphSize * kMenuGlyphCount, kMenuGlyphSize);
  strip.fill(Qt::transparent);
  QPainter painter(&strip);
  for (int cell = 0; cell < kMenuGlyphCount; ++cell)
    painter.drawPixmap(cell * kMenuGlyphSize, 0, MenuGlyph(cell));
  return strip;
}

QIcon TrayImage(int entry) {
  if (entry != kTrayImageRunning && entry != kTrayImageStopped) return {};
  const bool stopped = entry == kTrayImageStopped;
  const QColor display = stopped ? QColor(120, 120, 120) : QColor(80, 230, 90);
  QIcon icon;
  for (const int size : {16, 22, 32, 48, 64}) {
    icon.addPixmap(Paint(size, [&](QPainter& p) { DrawRegister(p, display, stopped); }));
  }
  return icon;
}

}  // namespace ecr
