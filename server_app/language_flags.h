#pragma once
// The flags of the user-interface languages: a strip of square cells, 0 none, then
// Bulgarian, English, Russian, Ukrainian, French, Lithuanian and Estonian. Drawn here;
// nothing is loaded from files. Main thread only (QPixmap).

#include <QPixmap>

namespace ecr {

inline constexpr int kFlagCellCount = 8;
inline constexpr int kFlagCellSize = 16;

// The whole strip, kFlagCellCount cells side by side.
QPixmap FlagStrip();
// Cell `cell` of a strip whose cells are as wide as it is high (width / height cells);
// a cell outside the strip gives cell 0.
QPixmap FlagCell(const QPixmap& strip, int cell);
// Cell `cell` of FlagStrip().
QPixmap LanguageFlag(int cell);

}  // namespace ecr
