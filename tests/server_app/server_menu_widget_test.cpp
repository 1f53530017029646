// The tray menu of the register server: its items, their glyphs and their state with the
// service, the painted margin, and the tray images. Pictures of the menu and the glyph
// strip are saved beside the build for a person to look at.
#include "server_app/server_menu.h"

#include <QAction>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <set>

#include "server_app/margin_menu.h"
#include "server_app/menu_glyphs.h"
#include "server_app/tray_icon.h"

namespace ecr {
namespace {

void SavePicture(const QPixmap& picture, const char* name) {
  const QString dir = ECR_PICTURE_DIR;
  QDir().mkpath(dir);
  picture.save(dir + "/" + name);
}

struct ItemRow {
  MenuItem item;
  const char* objectName;
  const char* caption;
  int tag;
  int helpContext;
  bool settings;
};

const ItemRow kRows[] = {
    {MenuItem::Access, "miAccess", "&Access", 1, 210, true},
    {MenuItem::Offset, "miOffset", "&Offset", 2, 220, true},
    {MenuItem::ServerPorts, "miServerPorts", "Server &Ports", 3, 230, true},
    {MenuItem::Codetable, "miCodetable", "&Code table", 4, 240, true},
    {MenuItem::SearchForEcrs, "miSearchForEcrs", "&Search for ECRs", 11, 291, true},
    {MenuItem::TestLine, "miTestLine", "&Test line", 12, 292, true},
    {MenuItem::Language, "miLanguage", "La&nguage", -1, 0, true},
    {MenuItem::Status, "miStatus", "S&tatus", 5, 260, false},
    {MenuItem::Help, "miHelp", "&Help", 6, 270, false},
    {MenuItem::StartStop, "miStartStop", "&Start", 7, 280, false},
    {MenuItem::Exit, "miExit", "E&xit", 9, 290, false},
};

TEST(ServerMenu, ItemsInOrderWithSeparators) {
  ServerMenu menu("Harbendix");
  QStringList shown;
  for (QAction* action : menu.Menu().actions())
    shown << (action->isSeparator() ? QString("-") : action->objectName());
  EXPECT_EQ(shown.join(' ').toStdString(),
            "miAccess miOffset miServerPorts miCodetable miSearchForEcrs miTestLine - "
            "miLanguage - miStatus miHelp - miStartStop miExit");
  for (const ItemRow& row : kRows) {
    SCOPED_TRACE(row.objectName);
    QAction* action = menu.Item(row.item);
    EXPECT_EQ(action->objectName().toStdString(), row.objectName);
    EXPECT_EQ(action->text().toStdString(), row.caption);
    EXPECT_EQ(menu.Tag(row.item), row.tag);
    EXPECT_EQ(menu.HelpContext(row.item), row.helpContext);
    EXPECT_EQ(ServerMenu::IsSettingsItem(row.item), row.settings);
    EXPECT_FALSE(action->isCheckable());
    // Tag n above 0 shows cell n - 1 of the glyph strip.
    if (row.tag > 0) {
      EXPECT_EQ(action->icon().pixmap(kMenuGlyphSize).toImage().convertToFormat(QImage::Format_ARGB32),
                MenuGlyph(row.tag - 1).toImage().convertToFormat(QImage::Format_ARGB32));
    } else {
      EXPECT_TRUE(action->icon().isNull());
    }
  }
}

TEST(ServerMenu, StateFollowsTheService) {
  ServerMenu menu("Harbendix");
  for (const bool running : {true, false, true}) {
    SCOPED_TRACE(running);
    menu.ShowServiceRunning(running);
    menu.EnableSettingsMenus(!running);
    EXPECT_EQ(menu.Item(MenuItem::StartStop)->text().toStdString(), running ? "&Stop" : "&Start");
    EXPECT_EQ(menu.Tag(MenuItem::StartStop), running ? kTagStop : kTagStart);
    EXPECT_EQ(menu.OffersStart(), !running);
    EXPECT_EQ(menu.Item(MenuItem::StartStop)->icon().pixmap(kMenuGlyphSize).toImage(),
              MenuGlyph((running ? kTagStop : kTagStart) - 1).toImage());
    for (const ItemRow& row : kRows) {
      SCOPED_TRACE(row.objectName);
      EXPECT_EQ(menu.Item(row.item)->isEnabled(), row.settings ? !running : true);
    }
  }
}

TEST(ServerMenu, TriggeringAnItemNamesIt) {
  ServerMenu menu("Harbendix");
  std::vector<MenuItem> seen;
  QObject::connect(&menu, &ServerMenu::Triggered, [&](MenuItem item) { seen.push_back(item); });
  menu.Item(MenuItem::Status)->trigger();
  menu.Item(MenuItem::Exit)->trigger();
  menu.EnableSettingsMenus(false);
  menu.Item(MenuItem::Access)->trigger();  // disabled: nothing
  EXPECT_EQ(seen, (std::vector<MenuItem>{MenuItem::Status, MenuItem::Exit}));
}

TEST(MenuGlyphs, TwelveDistinctCellsAndTwoTrayImages) {
  std::set<QByteArray> cells;
  for (int cell = 0; cell < kMenuGlyphCount; ++cell) {
    const QImage image = MenuGlyph(cell).toImage();
    ASSERT_EQ(image.size(), QSize(kMenuGlyphSize, kMenuGlyphSize));
    cells.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()),
                            static_cast<int>(image.sizeInBytes())));
  }
  EXPECT_EQ(cells.size(), static_cast<std::size_t>(kMenuGlyphCount));
  EXPECT_TRUE(MenuGlyph(-1).isNull());
  EXPECT_TRUE(MenuGlyph(kMenuGlyphCount).isNull());

  const QImage running = TrayImage(kTrayImageRunning).pixmap(32).toImage();
  const QImage stopped = TrayImage(kTrayImageStopped).pixmap(32).toImage();
  EXPECT_FALSE(running.isNull());
  EXPECT_FALSE(stopped.isNull());
  EXPECT_NE(running, stopped);
  EXPECT_TRUE(TrayImage(2).isNull());
  SavePicture(MenuGlyphStrip().scaled(kMenuGlyphCount * 48, 48), "menu_glyphs.png");
  SavePicture(TrayImage(kTrayImageRunning).pixmap(64), "tray_running.png");
  SavePicture(TrayImage(kTrayImageStopped).pixmap(64), "tray_stopped.png");
}

TEST(MarginMenu, GradientLinesAndTurnedCaption) {
  const int height = 320;
  QImage image(kMenuMarginWidth + 10, height, QImage::Format_ARGB32);
  image.fill(Qt::black);
  QPalette palette;
  palette.setColor(QPalette::Dark, QColor(10, 20, 30));
  palette.setColor(QPalette::Light, QColor(200, 210, 220));
  {
    QPainter painter(&image);
    MarginMenu::DrawMargin(painter, height, "Harbendix", palette);
  }
  // 32 bands from yellow down to yellow shifted right by two bits, read in a column that
  // the caption does not reach.
  const int column = kMenuMarginWidth - 4;
  EXPECT_EQ(image.pixelColor(column, 0), QColor(255, 255, 0));
  EXPECT_EQ(image.pixelColor(column, height - 1), QColor(63, 63, 0));
  const QColor middle = image.pixelColor(column, height / 2);
  EXPECT_GT(middle.red(), 63);
  EXPECT_LT(middle.red(), 255);
  EXPECT_EQ(middle.red(), middle.green());
  std::set<int> bands;
  for (int y = 0; y < height; ++y) bands.insert(image.pixelColor(column, y).red());
  EXPECT_EQ(bands.size(), 32u);
  EXPECT_EQ(image.pixelColor(kMenuMarginWidth - 2, 10), QColor(10, 20, 30));
  EXPECT_EQ(image.pixelColor(kMenuMarginWidth - 1, 10), QColor(200, 210, 220));
  // Nothing is painted outside the margin.
  EXPECT_EQ(image.pixelColor(kMenuMarginWidth + 2, 10), QColor(Qt::black));
  // White caption pixels, all in the lower part (the text starts 5 pixels above the
  // bottom and runs upward) and none in the last 5 rows.
  int white = 0;
  int topmost = height;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < kMenuMarginWidth - 3; ++x) {
      if (image.pixelColor(x, y) == QColor(Qt::white)) {
        ++white;
        topmost = std::min(topmost, y);
        EXPECT_LT(y, height - 5);
      }
    }
  }
  EXPECT_GT(white, 20);
  EXPECT_GT(topmost, height / 3);
}

TEST(MarginMenu, ItemsLieRightOfTheMargin) {
  ServerMenu menu("Harbendix");
  menu.Menu().popup(QPoint(100, 100));
  ASSERT_TRUE(menu.Menu().isVisible());
  for (QAction* action : menu.Menu().actions()) {
    EXPECT_GE(menu.Menu().actionGeometry(action).left(), kMenuMarginWidth);
  }
  SavePicture(menu.Menu().grab(), "tray_menu.png");
  menu.Menu().hide();
}

TEST(TrayIcon, KeepsItsStateWithoutADesktopTray) {
  TrayIcon tray;
  tray.SetImage(kTrayImageRunning);
  tray.SetHint("Harbendix v1.0.21");
  tray.Show();
  EXPECT_EQ(tray.Image(), kTrayImageRunning);
  EXPECT_EQ(tray.Hint().toStdString(), "Harbendix v1.0.21");
  EXPECT_TRUE(tray.Shown());
  tray.Hide();
  EXPECT_FALSE(tray.Shown());
}

}  // namespace
}  // namespace ecr
