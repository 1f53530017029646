#include "server_app/language_flags.h"

#include <QColor>
#include <QPainter>

#include <array>
#include <vector>

namespace ecr {
namespace {

enum class Stripes { Horizontal, Vertical };

struct FlagDesign {
  Stripes direction;
  std::vector<QColor> colours;
};

void DrawStripes(QPainter& painter, const QRect& cell, const FlagDesign& design) {
  const int count = static_cast<int>(design.colours.size());
  for (int i = 0; i < count; ++i) {
    QRect band = cell;
    if (design.direction == Stripes::Horizontal) {
      band.setTop(cell.top() + cell.height() * i / count);
      band.setBottom(cell.top() + cell.height() * (i + 1) / count - 1);
    } else {
      band.setLeft(cell.left() + cell.width() * i / count);
      band.setRight(cell.left() + cell.width() * (i + 1) / count - 1);
    }
    painter.fillRect(band, design.colours[static_cast<std::size_t>(i)]);
  }
}

// Red and white bands with a blue corner: our own picture for English.
void DrawEnglish(QPainter& painter, const QRect& cell) {
  DrawStripes(painter, cell,
              {Stripes::Horizontal, {Qt::red, Qt::white, Qt::red, Qt::white, Qt::red, Qt::white, Qt::red}});
  painter.fillRect(QRect(cell.left(), cell.top() + 3, cell.width() / 2, cell.height() / 2 - 1), QColor(0, 40, 120));
}

}  // namespace

QPixmap FlagStrip() {
  QPixmap strip(kFlagCellSize * kFlagCellCount, kFlagCellSize);
  strip.fill(Qt::transparent);
  QPainter painter(&strip);
  const QColor blue(0, 80, 180), green(0, 140, 70), yellow(250, 210, 0);
  const std::array<FlagDesign, kFlagCellCount> designs{{
      {Stripes::Horizontal, {}},
      {Stripes::Horizontal, {Qt::white, green, QColor(210, 20, 20)}},
      {Stripes::Horizontal, {}},
      {Stripes::Horizontal, {Qt::white, blue, QColor(210, 20, 20)}},
      {Stripes::Horizontal, {blue, yellow}},
      {Stripes::Vertical, {blue, Qt::white, QColor(230, 30, 50)}},
      {Stripes::Horizontal, {yellow, green, QColor(190, 30, 40)}},
      {Stripes::Horizontal, {blue, Qt::black, Qt::white}},
  }};
  for (int cell = 0; cell < kFlagCellCount; ++cell) {
    // Flags take the middle of their square cell, like a flag on a glyph.
    const QRect area(cell * kFlagCellSize, 3, kFlagCellSize, kFlagCellSize - 6);
    if (cell == 0) {
      painter.setPen(Qt::gray);
      painter.drawRect(area.adjusted(1, 0, -2, -1));
    } else if (cell == 2) {
      DrawEnglish(painter, area);
    } else {
      DrawStripes(painter, area, designs[static_cast<std::size_t>(cell)]);
    }
  }
  return strip;
}

QPixmap FlagCell(const QPixmap& strip, int cell) {
  const int size = strip.height();
  if (size <= 0) return {};
  const int cells = strip.width() / size;
  if (cell < 0 || cell >= cells) cell = 0;
  return strip.copy(cell * size, 0, size, size);
}

QPixmap LanguageFlag(int cell) {
  // Drawn afresh: a pixmap must not outlive the application, as a static one would.
  return FlagCell(FlagStrip(), cell);
}

}  // namespace ecr
