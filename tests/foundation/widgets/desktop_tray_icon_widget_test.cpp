// The tray icon that the window programs share: what shows on each kind of desktop, a tray
// that appears after the program or goes away again, the window that stands in for the
// icon where the desktop has no notification area, and the name by which an icon's tray
// is known to report single activations.
#include "foundation/widgets/desktop_tray_icon.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QGuiApplication>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/widgets/session_bus_tray.h"
#include "foundation/widgets/tray_desktop.h"
#include "foundation/widgets/tray_stand_in.h"
#include "tests/foundation/widgets/widget_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tray_test_support.h"

namespace ecr {
namespace {

using test::FakeTrayDesktop;
using Reason = QSystemTrayIcon::ActivationReason;
using WithoutTray = DesktopTrayIcon::WithoutTray;

constexpr int kWaitMs = 10000;

QIcon Image() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::darkGreen);
  return QIcon(pixmap);
}

// What the icon reported, in order.
struct Reports {
  explicit Reports(DesktopTrayIcon& tray) {
    QObject::connect(&tray, &DesktopTrayIcon::Activated, [this](Reason reason, QPoint) { reasons.push_back(reason); });
    QObject::connect(&tray, &DesktopTrayIcon::TrayChanged, [this](bool available) { changes.push_back(available); });
  }
  std::vector<Reason> reasons;
  std::vector<bool> changes;
};

TEST(DesktopTrayIcon, WhatShowsOnEachDesktop) {
  struct Case {
    const char* name;
    FakeTrayDesktop::Kind desktop;
    WithoutTray withoutTray;
    bool iconShown;
    bool onDesktop;
    bool standIn;
    bool noNotificationArea;
  };
  const Case cases[] = {
      {"offscreen", test::kNoDesktop, WithoutTray::StandInWindow, false, false, false, false},
      {"no tray, a stand-in asked for", test::kDesktopWithoutTray, WithoutTray::StandInWindow, false, false, true,
       true},
      {"no tray, nothing asked for", test::kDesktopWithoutTray, WithoutTray::Nothing, false, false, false, true},
      {"embedded tray", test::kEmbeddedTray, WithoutTray::StandInWindow, true, true, false, false},
      {"StatusNotifierItem tray", test::kStatusNotifierTray, WithoutTray::Nothing, true, true, false, false},
      {"a tray the icon cannot reach", test::kStatusNotifierHostOutOfReach, WithoutTray::StandInWindow, true, false,
       true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FakeTrayDesktop desktop(c.desktop);
    DesktopTrayIcon tray(c.withoutTray);
    tray.SetImage(Image());
    tray.SetHint(QStringLiteral("Harbendix v1.0.21"));
    EXPECT_EQ(tray.StandIn(), nullptr);  // nothing before the icon is shown

    tray.Show();
    EXPECT_EQ(tray.SystemIcon().isVisible(), c.iconShown);
    EXPECT_EQ(tray.OnDesktop(), c.onDesktop);
    EXPECT_EQ(tray.NoNotificationArea(), c.noNotificationArea);
    EXPECT_EQ(tray.SingleActivationOnly(), c.desktop.iconIsItem);
    ASSERT_EQ(tray.StandIn() != nullptr, c.standIn);
    if (c.standIn) {
      TrayStandIn& standIn = *tray.StandIn();
      EXPECT_TRUE(standIn.isVisible());
      EXPECT_EQ(standIn.windowTitle(), "Harbendix v1.0.21");
      EXPECT_EQ(standIn.Hint(), "Harbendix v1.0.21");
      EXPECT_FALSE(standIn.windowIcon().isNull());
      // A hint given later follows.
      tray.SetHint(QStringLiteral("Harbendix v1.0.22"));
      EXPECT_EQ(standIn.windowTitle(), "Harbendix v1.0.22");
    }

    tray.Hide();
    EXPECT_FALSE(tray.SystemIcon().isVisible());
    EXPECT_FALSE(tray.OnDesktop());
    EXPECT_EQ(tray.StandIn(), nullptr);
  }
}

TEST(DesktopTrayIcon, ATrayThatAppearsLaterTakesOverAndOneThatGoesGivesTheStandInBack) {
  FakeTrayDesktop desktop(test::kDesktopWithoutTray);
  QMenu menu;
  DesktopTrayIcon tray(WithoutTray::StandInWindow);
  Reports reports(tray);
  tray.SetImage(Image());
  tray.SetHint(QStringLiteral("Wexhaven v3.0.4"));
  tray.SetPopupMenu(&menu);
  tray.Show();
  ASSERT_NE(tray.StandIn(), nullptr);
  const QPointer<QSystemTrayIcon> madeWithoutTray(&tray.SystemIcon());

  desktop.kind = test::kEmbeddedTray;
  tray.CheckTray();
  EXPECT_EQ(tray.StandIn(), nullptr);
  EXPECT_TRUE(tray.OnDesktop());
  // A new icon, so that the toolkit reaches the tray that is there now, with everything set.
  EXPECT_TRUE(madeWithoutTray.isNull());
  EXPECT_TRUE(tray.SystemIcon().isVisible());
  EXPECT_EQ(tray.SystemIcon().toolTip(), "Wexhaven v3.0.4");
  EXPECT_EQ(tray.SystemIcon().contextMenu(), &menu);
  EXPECT_FALSE(tray.SystemIcon().icon().isNull());
  tray.CheckTray();  // nothing changed: nothing reported

  desktop.kind = test::kDesktopWithoutTray;
  tray.CheckTray();
  ASSERT_NE(tray.StandIn(), nullptr);
  EXPECT_TRUE(tray.StandIn()->isVisible());
  EXPECT_FALSE(tray.SystemIcon().isVisible());
  EXPECT_FALSE(tray.OnDesktop());

  // A StatusNotifierItem host comes, but the toolkit makes an embedded icon: the stand-in
  // stays, and the icon is not made again at every check.
  desktop.kind = test::kStatusNotifierHostOutOfReach;
  tray.CheckTray();
  const QPointer<QSystemTrayIcon> madeForTheHost(&tray.SystemIcon());
  tray.CheckTray();
  EXPECT_FALSE(madeForTheHost.isNull());
  EXPECT_FALSE(tray.OnDesktop());
  ASSERT_NE(tray.StandIn(), nullptr);
  // Once the icon is a StatusNotifierItem it is on the desktop.
  desktop.kind = test::kStatusNotifierTray;
  tray.CheckTray();
  EXPECT_TRUE(tray.OnDesktop());
  EXPECT_EQ(tray.StandIn(), nullptr);
  EXPECT_EQ(reports.changes, (std::vector<bool>{true, false, true}));
}

TEST(DesktopTrayIcon, TheDesktopIsAskedAgainEveryFewSecondsWhileTheIconIsShown) {
  FakeTrayDesktop desktop(test::kDesktopWithoutTray);
  DesktopTrayIcon tray(WithoutTray::StandInWindow);
  tray.SetImage(Image());
  tray.Show();
  ASSERT_NE(tray.StandIn(), nullptr);
  desktop.kind = test::kEmbeddedTray;
  EXPECT_TRUE(QTest::qWaitFor([&] { return tray.StandIn() == nullptr; }, DesktopTrayIcon::kTrayCheckMs + kWaitMs));
  EXPECT_TRUE(tray.OnDesktop());
}

// A desktop whose answers come later, through the event loop, as the session bus's do.
class LaterDesktop final : public TrayDesktop {
 public:
  LaterDesktop() : scope_(*this) {}
  bool Offscreen() const override { return false; }
  bool StatusNotifierHost() const override { return false; }
  bool EmbeddedTray() const override { return answer_.embeddedTray; }
  bool ShowsStatusNotifierItem() const override { return false; }
  bool Answered() const override { return answered_; }
  void Ask(std::function<void()> answered) const override {
    ++questions;
    waiting_.push_back(std::move(answered));
  }
  // The answer comes: every asker hears it.
  void Answer(FakeTrayDesktop::Kind kind) {
    answer_ = kind;
    answered_ = true;
    for (const auto& handler : std::exchange(waiting_, {})) handler();
  }
  mutable int questions = 0;

 private:
  FakeTrayDesktop::Kind answer_{};
  bool answered_ = false;
  mutable std::vector<std::function<void()>> waiting_;
  ScopedTrayDesktop scope_;
};

TEST(DesktopTrayIcon, TheIconFollowsAnswersThatComeLater) {
  LaterDesktop desktop;
  DesktopTrayIcon tray(WithoutTray::StandInWindow);
  Reports reports(tray);
  tray.SetImage(Image());
  tray.Show();
  EXPECT_GE(desktop.questions, 1);
  // No answer yet: neither the icon nor a stand-in that would go again at once.
  EXPECT_FALSE(tray.SystemIcon().isVisible());
  EXPECT_EQ(tray.StandIn(), nullptr);

  desktop.Answer(test::kDesktopWithoutTray);
  ASSERT_NE(tray.StandIn(), nullptr);
  EXPECT_TRUE(tray.NoNotificationArea());

  const int asked = desktop.questions;
  tray.CheckTray();  // the next check asks and returns: nothing has changed yet
  EXPECT_EQ(desktop.questions, asked + 1);
  EXPECT_NE(tray.StandIn(), nullptr);
  desktop.Answer(test::kEmbeddedTray);
  EXPECT_EQ(tray.StandIn(), nullptr);
  EXPECT_TRUE(tray.OnDesktop());
  EXPECT_TRUE(tray.SystemIcon().isVisible());
  EXPECT_EQ(reports.changes, std::vector<bool>{true});
}

TEST(DesktopTrayIcon, TheStandInReportsAsTheTrayDoes) {
  const FakeTrayDesktop desktop(test::kDesktopWithoutTray);
  QMenu menu;
  menu.addAction(QStringLiteral("Status"));
  DesktopTrayIcon tray(WithoutTray::StandInWindow);
  Reports reports(tray);
  tray.SetImage(Image());
  tray.Show();
  TrayStandIn* standIn = tray.StandIn();
  ASSERT_NE(standIn, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(standIn, kWaitMs));

  // Without a popup menu only the report comes; the owner shows its own menu.
  QTest::mouseClick(standIn->MenuButton(), Qt::LeftButton);
  EXPECT_EQ(reports.reasons, std::vector<Reason>{QSystemTrayIcon::Context});
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

  // With one, the menu button shows it, as the tray shows an icon's context menu.
  tray.SetPopupMenu(&menu);
  QTest::mouseClick(standIn->MenuButton(), Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return menu.isVisible(); }, kWaitMs));
  menu.hide();

  // A right click anywhere on the window is the same request.
  const QPoint inside(4, 4);
  QContextMenuEvent rightClick(QContextMenuEvent::Mouse, inside, standIn->mapToGlobal(inside));
  QApplication::sendEvent(standIn, &rightClick);
  EXPECT_TRUE(QTest::qWaitFor([&] { return menu.isVisible(); }, kWaitMs));
  menu.hide();

  // A double click on the window, on its text too, is the icon's double click.
  test::DoubleClickOn(*standIn);
  QWidget* hint = standIn->findChild<QWidget*>(QStringLiteral("lblHint"));
  ASSERT_NE(hint, nullptr);
  QTest::mouseDClick(hint, Qt::LeftButton);
  EXPECT_EQ(reports.reasons, (std::vector<Reason>{QSystemTrayIcon::Context, QSystemTrayIcon::Context,
                                                  QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick,
                                                  QSystemTrayIcon::DoubleClick}));
}

TEST(DesktopTrayIcon, ClosingTheStandInMinimisesItAndEndsNothing) {
  const FakeTrayDesktop desktop(test::kDesktopWithoutTray);
  DesktopTrayIcon tray(WithoutTray::StandInWindow);
  tray.SetImage(Image());
  tray.Show();
  TrayStandIn* standIn = tray.StandIn();
  ASSERT_NE(standIn, nullptr);
  EXPECT_FALSE(standIn->testAttribute(Qt::WA_QuitOnClose));
  EXPECT_FALSE(standIn->close());
  EXPECT_TRUE(standIn->isVisible());
  EXPECT_TRUE(QTest::qWaitFor([&] { return standIn->isMinimized(); }, kWaitMs));
  EXPECT_EQ(tray.StandIn(), standIn);
  EXPECT_TRUE(tray.Shown());
}

TEST(DesktopTrayIcon, HiddenFromInsideTheStandInsOwnReport) {
  const FakeTrayDesktop desktop(test::kDesktopWithoutTray);
  DesktopTrayIcon tray(WithoutTray::StandInWindow);
  tray.SetImage(Image());
  QObject::connect(&tray, &DesktopTrayIcon::Activated, [&tray] { tray.Hide(); });
  tray.Show();
  const QPointer<TrayStandIn> standIn(tray.StandIn());
  ASSERT_FALSE(standIn.isNull());
  test::DoubleClickOn(*standIn);
  EXPECT_EQ(tray.StandIn(), nullptr);
  ASSERT_FALSE(standIn.isNull());  // still inside its own event until the loop runs
  EXPECT_FALSE(standIn->isVisible());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(standIn.isNull());
}

TEST(DesktopTrayIcon, OffscreenIsNoDesktop) {
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) GTEST_SKIP() << "not the offscreen platform";
  EXPECT_TRUE(SystemTrayDesktop().Offscreen());
  DesktopTrayIcon tray(WithoutTray::StandInWindow);
  tray.SetImage(Image());
  tray.Show();
  EXPECT_FALSE(tray.OnDesktop());
  EXPECT_FALSE(tray.NoNotificationArea());
  EXPECT_EQ(tray.StandIn(), nullptr);
}

TEST(TrayDesktop, StatusNotifierItemNamesOfThisProcess) {
  struct Case {
    const char* name;
    bool ours;
  };
  const Case cases[] = {
      {"org.kde.StatusNotifierItem-4242-1", true},
      {"org.freedesktop.StatusNotifierItem-4242-17", true},
      {"org.kde.StatusNotifierItem-42421-1", false},
      {"org.kde.StatusNotifierItem-424-1", false},
      {"org.kde.StatusNotifierItem-4242-", false},
      {"org.kde.StatusNotifierItem-4242", false},
      {"org.kde.StatusNotifierWatcher", false},
      {"com.example.StatusNotifierItem-4242-1", false},
      {":1.4242", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsStatusNotifierItemName(QString::fromLatin1(c.name), 4242), c.ours) << c.name;
}

// The watcher of a StatusNotifierItem tray, as a panel puts it on the session bus. A
// hanging one takes every question and answers none until it is released.
class FakeWatcher : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)

 public:
  bool IsStatusNotifierHostRegistered() const {
    ++questions;
    std::unique_lock lock(mutex_);
    released_.wait(lock, [this] { return !hanging_; });
    return host;
  }
  void Hang() {
    const std::lock_guard lock(mutex_);
    hanging_ = true;
  }
  void Release() {
    {
      const std::lock_guard lock(mutex_);
      hanging_ = false;
    }
    released_.notify_all();
  }

  std::atomic<bool> host{true};
  mutable std::atomic<int> questions{0};

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable released_;
  bool hanging_ = false;
};

// A session bus of the test process's own: a dbus-daemon started at the first use and
// ended with the process (the process reaches for its session bus once, and keeps it).
class PrivateSessionBus {
 public:
  static PrivateSessionBus* Get() {
    static PrivateSessionBus bus;
    return bus.connected_ ? &bus : nullptr;
  }
  const std::string& Address() const { return address_; }
  const std::string& Why() const { return why_; }

 private:
  PrivateSessionBus() {
    const std::filesystem::path daemonProgram = "/usr/bin/dbus-daemon";
    if (!std::filesystem::exists(daemonProgram)) {
      why_ = "no dbus-daemon here";
      return;
    }
    address_ = "unix:path=" + folder_.File("bus");
    daemon_.emplace(daemonProgram.string(), std::vector<std::string>{"--session", "--nofork", "--address=" + address_},
                    ChildProcessOptions{.outputFile = folder_.Path() / "daemon.log"});
    if (!QTest::qWaitFor([&] { return std::filesystem::exists(folder_.Path() / "bus"); }, kWaitMs)) {
      why_ = ReadWholeFile(folder_.Path() / "daemon.log");
      return;
    }
    // Read when the process first reaches for its session bus, which is here.
    setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    QDBusConnection bus = QDBusConnection::sessionBus();
    connected_ = bus.isConnected();
    if (!connected_) why_ = bus.lastError().message().toStdString();
  }

  TempDir folder_;
  std::string address_;
  std::optional<ChildProcess> daemon_;
  bool connected_ = false;
  std::string why_;
};

// A panel: the watcher served from a thread of its own over a connection of its own.
class Panel {
 public:
  explicit Panel(const std::string& address)
      : bus_(QDBusConnection::connectToBus(QString::fromStdString(address), QStringLiteral("panel"))) {
    watcher_->moveToThread(&thread_);
    thread_.start();
    registered_ = bus_.registerObject(QStringLiteral("/StatusNotifierWatcher"), watcher_,
                                      QDBusConnection::ExportAllProperties) &&
                  bus_.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
  }
  ~Panel() {
    watcher_->Release();
    bus_.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
    bus_.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    thread_.quit();
    thread_.wait();
    delete watcher_;
    QDBusConnection::disconnectFromBus(QStringLiteral("panel"));
  }
  Panel(const Panel&) = delete;
  Panel& operator=(const Panel&) = delete;

  bool Registered() const { return registered_; }
  FakeWatcher& Watcher() { return *watcher_; }

 private:
  QDBusConnection bus_;
  QThread thread_;
  FakeWatcher* watcher_ = new FakeWatcher;
  bool registered_ = false;
};

// Asks and waits (bounded) for the answer; false when none came.
bool AskAndWait(const SystemTrayDesktop& system) {
  bool answered = false;
  system.Ask([&answered] { answered = true; });
  return QTest::qWaitFor([&] { return answered; }, kWaitMs);
}

// The system's desktop on a session bus of the test's own: the StatusNotifierItem host is
// known by its watcher, which a panel serves from a process (a thread here) of its own, and
// the icon by the bus name it takes.
TEST(TrayDesktop, TheSessionBusTellsTheStatusNotifierTrayAndTheIconsKind) {
  PrivateSessionBus* sessionBus = PrivateSessionBus::Get();
  if (sessionBus == nullptr) GTEST_SKIP() << "no session bus of our own";
  const SystemTrayDesktop system;
  EXPECT_FALSE(system.Answered());
  ASSERT_TRUE(AskAndWait(system));
  EXPECT_TRUE(system.Answered());
  EXPECT_FALSE(system.StatusNotifierHost());
  EXPECT_FALSE(system.ShowsStatusNotifierItem());
  EXPECT_FALSE(system.EmbeddedTray());  // no X11 display

  Panel panel(sessionBus->Address());
  ASSERT_TRUE(panel.Registered());
  ASSERT_TRUE(AskAndWait(system));
  EXPECT_TRUE(system.StatusNotifierHost());
  panel.Watcher().host = false;
  ASSERT_TRUE(AskAndWait(system));
  EXPECT_FALSE(system.StatusNotifierHost());
  panel.Watcher().host = true;

  QDBusConnection bus = QDBusConnection::sessionBus();
  const QString itemName = QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid());
  ASSERT_TRUE(bus.registerService(itemName));
  ASSERT_TRUE(AskAndWait(system));
  EXPECT_TRUE(system.ShowsStatusNotifierItem());
  ASSERT_TRUE(bus.unregisterService(itemName));
  ASSERT_TRUE(AskAndWait(system));
  EXPECT_FALSE(system.ShowsStatusNotifierItem());
}

// A panel that hangs never holds the main thread, which also serves the program's client
// sockets: the question returns at once, the event loop turns while it is open, a check
// that comes meanwhile asks nothing more, and the watcher counts as none once its time is up.
TEST(TrayDesktop, AWatcherThatHangsNeverHoldsTheMainThread) {
  PrivateSessionBus* sessionBus = PrivateSessionBus::Get();
  if (sessionBus == nullptr) GTEST_SKIP() << "no session bus of our own";
  Panel panel(sessionBus->Address());
  ASSERT_TRUE(panel.Registered());
  panel.Watcher().Hang();
  const SystemTrayDesktop system;

  int turnsWhileAsking = 0;
  QTimer turns;
  turns.setInterval(1);
  QObject::connect(&turns, &QTimer::timeout, [&] {
    if (system.Asking()) ++turnsWhileAsking;
  });
  turns.start();
  int answers = 0;
  system.Ask([&answers] { ++answers; });
  EXPECT_TRUE(system.Asking()) << "the question waited for its answer";
  ASSERT_TRUE(QTest::qWaitFor([&] { return panel.Watcher().questions.load() == 1; }, kWaitMs));
  system.Ask([&answers] { ++answers; });  // the next check while the question is open
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers == 2; }, SessionBusTray::kWatcherAnswerMs + kWaitMs));
  EXPECT_FALSE(system.Asking());
  EXPECT_GT(turnsWhileAsking, 0) << "the event loop stood still while the question was open";
  EXPECT_FALSE(system.StatusNotifierHost());

  panel.Watcher().Release();
  QTest::qWait(200);
  EXPECT_EQ(panel.Watcher().questions.load(), 1) << "a check asked again while its question was open";
}

TEST(TrayDesktop, ScreenOfADisplayName) {
  struct Case {
    const char* display;
    int screen;
  };
  const Case cases[] = {{":0", 0}, {":0.1", 1}, {"localhost:10.2", 2}, {"", 0}, {":1.x", 0}, {"host.example:0", 0}};
  for (const Case& c : cases) EXPECT_EQ(ScreenOfDisplayName(QString::fromLatin1(c.display)), c.screen) << c.display;
}

}  // namespace
}  // namespace ecr

#include "desktop_tray_icon_widget_test.moc"
