// The network-controller server's tray icon: the click logic driven through the handler of
// the desktop's reports and through the activations each kind of tray gives, the popup
// menu, the tip limit, and its state on a desktop without a tray.
#include "netcontroller/app/nc_tray_icon.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMenu>
#include <QStyleHints>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

#include <vector>

#include "tests/netcontroller/nc_app_fixture.h"
#include "tests/support/tray_test_support.h"

namespace ecr::nc {
namespace {

using Mouse = TTrayIcon::MouseMessage;
using test::Pump;
using test::PumpUntil;

class TrayIconTest : public ::testing::Test {
 protected:
  TrayIconTest() {
    tray.OnClick = [this](TTrayIcon& sender) {
      EXPECT_EQ(&sender, &tray);
      ++clicks;
      clickAfterMs = clock.elapsed();
    };
    tray.OnDblClick = [this](TTrayIcon& sender) {
      EXPECT_EQ(&sender, &tray);
      ++doubleClicks;
    };
    clock.start();
  }

  static int DoubleClickTime() { return QGuiApplication::styleHints()->mouseDoubleClickInterval(); }
  // Long enough for any pending click to have fired on a loaded machine.
  static std::chrono::milliseconds Settle() { return std::chrono::milliseconds(DoubleClickTime() + 1000); }

  TTrayIcon tray;
  QElapsedTimer clock;
  int clicks = 0;
  int doubleClicks = 0;
  qint64 clickAfterMs = -1;
};

TEST_F(TrayIconTest, LeftButtonSequences) {
  struct Case {
    const char* name;
    std::vector<Mouse> messages;
    int clicks;
    int doubleClicks;
  };
  const Case cases[] = {
      {"one click", {Mouse::LeftButtonDown}, 1, 0},
      {"double click", {Mouse::LeftButtonDown, Mouse::LeftButtonDoubleClick}, 0, 1},
      {"second press while a click is pending", {Mouse::LeftButtonDown, Mouse::LeftButtonDown}, 1, 0},
      {"double click without a first press", {Mouse::LeftButtonDoubleClick}, 0, 1},
      {"other buttons", {Mouse::Other, Mouse::RightButtonDown, Mouse::RightButtonUp}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clicks = doubleClicks = 0;
    for (const Mouse message : c.messages) tray.HandleMouse(message, QPoint(10, 10));
    // A double click is reported at once, a click never before the double-click time.
    EXPECT_EQ(doubleClicks, c.doubleClicks);
    EXPECT_EQ(clicks, 0);
    Pump(Settle());
    EXPECT_EQ(clicks, c.clicks);
    EXPECT_EQ(doubleClicks, c.doubleClicks);
    EXPECT_FALSE(tray.ClickPending());
  }
}

// The embedded tray reports a click and a double click, and its click comes once the
// double-click time has passed; a StatusNotifierItem tray reports single activations only,
// each a click at once, since no double click can follow.
TEST_F(TrayIconTest, ActivationsOfEachKindOfTray) {
  using Reason = QSystemTrayIcon::ActivationReason;
  struct Case {
    const char* name;
    ecr::test::FakeTrayDesktop::Kind desktop;
    std::vector<Reason> reasons;
    int clicksAtOnce;
    int clicks;
    int doubleClicks;
  };
  const Case cases[] = {
      {"embedded: a click", ecr::test::kEmbeddedTray, {QSystemTrayIcon::Trigger}, 0, 1, 0},
      {"embedded: a double click", ecr::test::kEmbeddedTray, {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick},
       0, 0, 1},
      {"single activations: a click", ecr::test::kStatusNotifierTray, {QSystemTrayIcon::Trigger}, 1, 1, 0},
      {"single activations: two clicks", ecr::test::kStatusNotifierTray,
       {QSystemTrayIcon::Trigger, QSystemTrayIcon::Trigger}, 2, 2, 0},
      {"right and middle button", ecr::test::kStatusNotifierTray,
       {QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown}, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ecr::test::FakeTrayDesktop desktop(c.desktop);
    clicks = doubleClicks = 0;
    for (const Reason reason : c.reasons) emit tray.Desktop().SystemIcon().activated(reason);
    EXPECT_EQ(doubleClicks, c.doubleClicks);
    EXPECT_EQ(clicks, c.clicksAtOnce);
    Pump(Settle());
    EXPECT_EQ(clicks, c.clicks);
    EXPECT_EQ(doubleClicks, c.doubleClicks);
  }
}

TEST_F(TrayIconTest, SingleClickComesAfterTheDoubleClickTime) {
  clock.restart();
  tray.HandleMouse(Mouse::LeftButtonDown, QPoint());
  EXPECT_TRUE(tray.ClickPending());
  ASSERT_TRUE(PumpUntil([this] { return clicks == 1; }, Settle() * 5));
  EXPECT_GE(clickAfterMs, DoubleClickTime());
  EXPECT_LT(clickAfterMs, DoubleClickTime() + 5000);
}

TEST_F(TrayIconTest, RightClickShowsThePopupMenuOnlyWhenSet) {
  tray.HandleMouse(Mouse::RightButtonDown, QPoint(40, 40));
  tray.HandleMouse(Mouse::RightButtonUp, QPoint(40, 40));
  Pump(std::chrono::milliseconds(50));
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

  QMenu menu;
  menu.addAction(QStringLiteral("Item"));
  tray.SetPopupMenu(&menu);
  tray.HandleMouse(Mouse::RightButtonDown, QPoint(40, 40));
  tray.HandleMouse(Mouse::RightButtonUp, QPoint(40, 40));
  EXPECT_TRUE(PumpUntil([&] { return menu.isVisible(); }, std::chrono::seconds(5)));
  menu.close();
  EXPECT_EQ(clicks + doubleClicks, 0);
}

TEST_F(TrayIconTest, TipIsCutAndTakesEffectAtTheNextAdd) {
  const QString tip(100, QChar(u'x'));
  tray.SetTip(tip);
  tray.SetIcon(QApplication::windowIcon());
  EXPECT_FALSE(tray.Added());
  tray.AddIcon();
  EXPECT_TRUE(tray.Added());
  EXPECT_EQ(tray.ShownTip(), tip.left(63));
  EXPECT_EQ(tray.Tip(), tip);

  tray.SetTip(QStringLiteral("Later"));
  EXPECT_EQ(tray.ShownTip(), tip.left(63));
  tray.AddIcon();
  EXPECT_EQ(tray.ShownTip(), "Later");

  tray.RemoveIcon();
  EXPECT_FALSE(tray.Added());
  EXPECT_EQ(tray.ShownTip(), "");
}

TEST_F(TrayIconTest, WithoutATrayNothingIsShownButTheStateIsKept) {
  if (QSystemTrayIcon::isSystemTrayAvailable()) GTEST_SKIP() << "this desktop has a tray";
  tray.AddIcon();
  EXPECT_TRUE(tray.Added());
  EXPECT_FALSE(tray.OnDesktop());
  // The handler still works: the program's own double click shows its window.
  tray.HandleMouse(Mouse::LeftButtonDoubleClick, QPoint());
  EXPECT_EQ(doubleClicks, 1);
}

}  // namespace
}  // namespace ecr::nc
