#pragma once
// The pictures of the register server's tray: the two tray images and the glyph strip of
// the popup menu. All are drawn here with QPainter; nothing is loaded from files.
// Main thread only (QPixmap).

#include <QIcon>
#include <QPixmap>

namespace ecr {

inline constexpr int kMenuGlyphCount = 12;
inline constexpr int kMenuGlyphSize = 16;

// Tray image entries.
inline constexpr int kTrayImageRunning = 0;
inline constexpr int kTrayImageStopped = 1;

// Cell `cell` (0..11) of the menu's glyph strip, kMenuGlyphSize pixels square. A menu
// item with Tag n (n >= 1) shows cell n - 1: 1 access, 2 offset, 3 ports, 4 code table,
// 5 status, 6 help, 7 start, 8 stop, 9 exit, 11 search, 12 test line; cell 9 is spare.
// A cell outside the strip gives a null pixmap.
QPixmap MenuGlyph(int cell);

// The whole strip, the cells side by side.
QPixmap MenuGlyphStrip();

// Tray image `entry`: kTrayImageRunning or kTrayImageStopped; any other gives a null icon.
QIcon TrayImage(int entry);

}  // namespace ecr
