#include "server_app/margin_menu.h"

#include <QPaintEvent>
#include <QPainter>

#include <utility>

namespace ecr {
namespace {

constexpr int kGradientBands = 32;
// The band ends 3 pixels short of the margin's right edge; two lines are drawn there.
constexpr int kGradientWidth = kMenuMarginWidth - 3;
constexpr QRgb kGradientTop = qRgb(255, 255, 0);
// The top colour with every channel shifted right by two bits.
constexpr QRgb kGradientBottom = qRgb(255 >> 2, 255 >> 2, 0);

int Blend(int top, int bottom, int band) {
  return top + (bottom - top) * band / (kGradientBands - 1);
}

}  // namespace

MarginMenu::MarginMenu(QString caption, QWidget* parent)
    : QMenu(parent), caption_(std::move(caption)) {
  setSeparatorsCollapsible(false);
  // The margin is the menu's left contents margin: the items are laid out to its right.
  QMargins margins = contentsMargins();
  margins.setLeft(margins.left() + kMenuMarginWidth);
  setContentsMargins(margins);
}

void MarginMenu::DrawMargin(QPainter& painter, int height, const QString& caption,
                            const QPalette& palette) {
  painter.save();
  const QRect margin(0, 0, kMenuMarginWidth, height);
  painter.setClipRect(margin);
  for (int band = 0; band < kGradientBands; ++band) {
    const int top = height * band / kGradientBands;
    const int bottom = height * (band + 1) / kGradientBands;
    const QColor color(Blend(qRed(kGradientTop), qRed(kGradientBottom), band),
                       Blend(qGreen(kGradientTop), qGreen(kGradientBottom), band),
                       Blend(qBlue(kGradientTop), qBlue(kGradientBottom), band));
    painter.fillRect(QRect(0, top, kGradientWidth, bottom - top), color);
  }
  painter.setPen(palette.color(QPalette::Dark));
  painter.drawLine(kMenuMarginWidth - 2, 0, kMenuMarginWidth - 2, height - 1);
  painter.setPen(palette.color(QPalette::Light));
  painter.drawLine(kMenuMarginWidth - 1, 0, kMenuMarginWidth - 1, height - 1);

  QFont font("Arial");
  font.setBold(true);
  font.setPointSize(15);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.setBackgroundMode(Qt::TransparentMode);
  // Turned by 90 degrees so that the text runs upward from 5 pixels above the bottom;
  // the text's top lies against the margin's left edge.
  painter.translate(0, height - 5);
  painter.rotate(-90);
  const QFontMetrics metrics(font);
  painter.drawText(0, metrics.ascent(), caption);
  painter.restore();
}

void MarginMenu::paintEvent(QPaintEvent* event) {
  QMenu::paintEvent(event);
  QPainter painter(this);
  painter.translate(contentsMargins().left() - kMenuMarginWidth, 0);
  DrawMargin(painter, height(), caption_, palette());
}

}  // namespace ecr
