// The system's requests to end on the event loop: the program's handler runs on the main
// thread; a request that comes before the handler is set is kept, and every box that holds
// the start up, open or shown later, is dismissed meanwhile.
#include "foundation/widgets/termination_signal_host.h"

#include <signal.h>

#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <thread>

namespace ecr {
namespace {

constexpr int kWaitMs = 10000;

TEST(TerminationSignalHost, EachRequestCallsTheHandlerOnTheMainThread) {
  TerminationSignalHost host;
  int calls = 0;
  std::thread::id caller;
  host.SetHandler([&] {
    ++calls;
    caller = std::this_thread::get_id();
  });
  for (const int signalNumber : {SIGTERM, SIGHUP, SIGINT}) {
    const int before = calls;
    std::thread([signalNumber] { ::raise(signalNumber); }).join();  // raised on another thread
    EXPECT_TRUE(QTest::qWaitFor([&] { return calls == before + 1; }, kWaitMs)) << signalNumber;
  }
  EXPECT_EQ(caller, std::this_thread::get_id());
  EXPECT_FALSE(host.RequestKept());
}

TEST(TerminationSignalHost, ARequestBeforeTheHandlerDismissesTheBoxAndWaitsForTheHandler) {
  TerminationSignalHost host;
  QDialog box;
  bool rejected = false;
  QObject::connect(&box, &QDialog::rejected, [&rejected] { rejected = true; });
  // The start waits in a box; the request comes meanwhile.
  QTimer::singleShot(0, [] { ::raise(SIGTERM); });
  // Bounded, should the request never come: the test then fails below.
  QTimer::singleShot(kWaitMs, &box, &QDialog::accept);
  box.exec();
  EXPECT_TRUE(rejected);
  EXPECT_TRUE(host.RequestKept());

  int calls = 0;
  host.SetHandler([&calls] { ++calls; });
  EXPECT_EQ(calls, 1);  // at once, not at the next request
  EXPECT_FALSE(host.RequestKept());
}

// What a start does: one box after another. Each is shown modal, bounded should it not be
// rejected; true when it was.
bool RejectedAtOnce(QDialog& box) {
  bool rejected = false;
  QObject::connect(&box, &QDialog::rejected, [&rejected] { rejected = true; });
  QTimer::singleShot(kWaitMs, &box, &QDialog::accept);
  box.exec();
  return rejected;
}

// The first box is rejected by the request, the second one shows after it and is rejected
// as well, a message box too: the start goes on through all of them.
TEST(TerminationSignalHost, AKeptRequestRejectsEveryBoxOfTheStartAlsoThoseShownLater) {
  for (const bool bySignal : {true, false}) {
    SCOPED_TRACE(bySignal ? "a signal" : "another request to end");
    TerminationSignalHost host;
    QDialog first;
    QTimer::singleShot(0, [&host, bySignal] {
      if (bySignal) {
        ::raise(SIGTERM);
      } else {
        host.RequestEnd();
      }
    });
    EXPECT_TRUE(RejectedAtOnce(first));
    EXPECT_TRUE(host.RequestKept());
    QDialog second;
    EXPECT_TRUE(RejectedAtOnce(second));
    QMessageBox third(QMessageBox::Critical, "caption", "Function sd_bus_open_system not defined");
    EXPECT_TRUE(RejectedAtOnce(third));

    int calls = 0;
    host.SetHandler([&calls] { ++calls; });
    EXPECT_EQ(calls, 1);
    host.RequestEnd();  // with the handler set: at once
    EXPECT_EQ(calls, 2);
  }
}

// Once the handler is set, a request leaves the open box to it: rejecting a dialog answers
// it, and a running program's close decides itself how its dialogs go.
TEST(TerminationSignalHost, ARequestWithTheHandlerSetLeavesTheOpenBoxToTheHandler) {
  TerminationSignalHost host;
  QDialog box;
  bool rejected = false;
  QObject::connect(&box, &QDialog::rejected, [&rejected] { rejected = true; });
  bool boxOpenInHandler = false;
  host.SetHandler([&] {
    boxOpenInHandler = box.isVisible();
    box.accept();  // what a close that closes its dialogs its own way does
  });
  QTimer::singleShot(0, [] { ::raise(SIGTERM); });
  QTimer::singleShot(kWaitMs, &box, &QDialog::accept);
  box.exec();
  EXPECT_TRUE(boxOpenInHandler);
  EXPECT_FALSE(rejected);
  // Nor is a box that shows later rejected.
  QDialog later;
  bool laterRejected = false;
  QObject::connect(&later, &QDialog::rejected, [&laterRejected] { laterRejected = true; });
  QTimer::singleShot(100, &later, &QDialog::accept);
  later.exec();
  EXPECT_FALSE(laterRejected);
}

// The program takes the signals at the first moment of main and gives them to the host
// later; a signal that came before any event loop ran reaches the handler as it is set.
TEST(TerminationSignalHost, ASignalTakenBeforeTheHostIsHandedToTheHandler) {
  TerminationSignals taken;
  ::raise(SIGTERM);
  TerminationSignalHost host(taken);
  int calls = 0;
  host.SetHandler([&calls] { ++calls; });
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(host.RequestKept());
  ::raise(SIGINT);
  EXPECT_TRUE(QTest::qWaitFor([&] { return calls == 2; }, kWaitMs));
}

}  // namespace
}  // namespace ecr
