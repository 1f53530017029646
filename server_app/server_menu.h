#pragma once
// The items of the register server's tray menu, their glyphs (by Tag) and their state
// with the service: the settings items are enabled only while the service is stopped, and
// the start/stop item reads "&Start" (Tag 7) or "&Stop" (Tag 8). Main thread only.

#include <QIcon>
#include <QObject>
#include <QString>

#include <array>

#include "server_app/margin_menu.h"

class QAction;

namespace ecr {

enum class MenuItem {
  Access,
  Offset,
  ServerPorts,
  Codetable,
  SearchForEcrs,
  TestLine,
  Language,
  Status,
  Help,
  StartStop,
  Exit,
};
inline constexpr std::size_t kMenuItemCount = 11;

inline constexpr int kTagStart = 7;
inline constexpr int kTagStop = 8;
// The Tag of the language item: its glyph is the flag of the active language.
inline constexpr int kTagLanguageFlag = -1;

class ServerMenu : public QObject {
  Q_OBJECT

 public:
  explicit ServerMenu(const QString& productCaption, QObject* parent = nullptr);
  ~ServerMenu() override;

  MarginMenu& Menu() { return *menu_; }
  QAction* Item(MenuItem item) const;
  int Tag(MenuItem item) const;
  int HelpContext(MenuItem item) const;
  // Whether the item is one of those that EnableSettingsMenus switches.
  static bool IsSettingsItem(MenuItem item);

  // Enables or disables the settings items (true while the service is stopped).
  void EnableSettingsMenus(bool value);
  // The start/stop item's caption and Tag: "&Stop"/8 while running, "&Start"/7 while not.
  void ShowServiceRunning(bool running);
  // Whether the start/stop item reads "&Start".
  bool OffersStart() const;

  // The glyph of the item with Tag -1; empty until the languages give one.
  void SetLanguageFlag(const QIcon& flag);

 signals:
  void Triggered(MenuItem item);

 private:
  void SetTag(MenuItem item, int tag);

  MarginMenu* menu_;  // owned; a QMenu cannot be parented to a QObject
  std::array<QAction*, kMenuItemCount> actions_{};
};

}  // namespace ecr
