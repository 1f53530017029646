#include "server_app/server_menu.h"

#include <QAction>
#include <QCoreApplication>

#include "server_app/menu_glyphs.h"

namespace ecr {
namespace {

struct ItemRow {
  MenuItem item;
  const char* objectName;
  const char* caption;
  int tag;
  int helpContext;
  bool settings;         // enabled only while the service is stopped
  bool separatorBefore;
};

// Top to bottom as the menu shows them.
constexpr ItemRow kItems[] = {
    {MenuItem::Access, "miAccess", QT_TRANSLATE_NOOP("TfmMain", "&Access"), 1, 210, true, false},
    {MenuItem::Offset, "miOffset", QT_TRANSLATE_NOOP("TfmMain", "&Offset"), 2, 220, true, false},
    {MenuItem::ServerPorts, "miServerPorts", QT_TRANSLATE_NOOP("TfmMain", "Server &Ports"), 3, 230,
     true, false},
    {MenuItem::Codetable, "miCodetable", QT_TRANSLATE_NOOP("TfmMain", "&Code table"), 4, 240, true,
     false},
    {MenuItem::SearchForEcrs, "miSearchForEcrs", QT_TRANSLATE_NOOP("TfmMain", "&Search for ECRs"),
     11, 291, true, false},
    {MenuItem::TestLine, "miTestLine", QT_TRANSLATE_NOOP("TfmMain", "&Test line"), 12, 292, true,
     false},
    {MenuItem::Language, "miLanguage", QT_TRANSLATE_NOOP("TfmMain", "La&nguage"), kTagLanguageFlag,
     0, true, true},
    {MenuItem::Status, "miStatus", QT_TRANSLATE_NOOP("TfmMain", "S&tatus"), 5, 260, false, true},
    {MenuItem::Help, "miHelp", QT_TRANSLATE_NOOP("TfmMain", "&Help"), 6, 270, false, false},
    {MenuItem::StartStop, "miStartStop", QT_TRANSLATE_NOOP("TfmMain", "&Start"), kTagStart, 280,
     false, true},
    {MenuItem::Exit, "miExit", QT_TRANSLATE_NOOP("TfmMain", "E&xit"), 9, 290, false, false},
};
static_assert(std::size(kItems) == kMenuItemCount);

const ItemRow& Row(MenuItem item) { return kItems[static_cast<std::size_t>(item)]; }

QString Translated(const char* text) { return QCoreApplication::translate("TfmMain", text); }

}  // namespace

ServerMenu::ServerMenu(const QString& productCaption, QObject* parent)
    : QObject(parent), menu_(new MarginMenu(productCaption)) {
  menu_->setObjectName("PopupMenu");
  for (const ItemRow& row : kItems) {
    if (row.separatorBefore) menu_->addSeparator();
    QAction* action = menu_->addAction(Translated(row.caption));
    action->setObjectName(row.objectName);
    action->setCheckable(false);
    action->setIconVisibleInMenu(true);
    actions_[static_cast<std::size_t>(row.item)] = action;
    SetTag(row.item, row.tag);
    const MenuItem item = row.item;
    connect(action, &QAction::triggered, this, [this, item] { emit Triggered(item); });
  }
}

ServerMenu::~ServerMenu() { delete menu_; }

QAction* ServerMenu::Item(MenuItem item) const { return actions_[static_cast<std::size_t>(item)]; }

int ServerMenu::Tag(MenuItem item) const { return Item(item)->data().toInt(); }

int ServerMenu::HelpContext(MenuItem item) const { return Row(item).helpContext; }

bool ServerMenu::IsSettingsItem(MenuItem item) { return Row(item).settings; }

void ServerMenu::SetTag(MenuItem item, int tag) {
  QAction* action = Item(item);
  action->setData(tag);
  // A Tag n above 0 takes cell n - 1 of the glyph strip; the language flag is set apart.
  if (tag > 0) action->setIcon(QIcon(MenuGlyph(tag - 1)));
}

void ServerMenu::EnableSettingsMenus(bool value) {
  for (const ItemRow& row : kItems) {
    if (row.settings) Item(row.item)->setEnabled(value);
  }
}

void ServerMenu::ShowServiceRunning(bool running) {
  Item(MenuItem::StartStop)
      ->setText(running ? Translated(QT_TRANSLATE_NOOP("TfmMain", "&Stop"))
                        : Translated(QT_TRANSLATE_NOOP("TfmMain", "&Start")));
  SetTag(MenuItem::StartStop, running ? kTagStop : kTagStart);
}

bool ServerMenu::OffersStart() const { return Tag(MenuItem::StartStop) == kTagStart; }

void ServerMenu::SetLanguageFlag(const QIcon& flag) { Item(MenuItem::Language)->setIcon(flag); }

}  // namespace ecr
