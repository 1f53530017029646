// The system's requests to end on the event loop: the program's handler runs on the main
// thread; a request that comes before the handler is set is kept, and a box that holds the
// start up is dismissed meanwhile.
#include "foundation/widgets/termination_signal_host.h"

#include <signal.h>

#include <QDialog>
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

}  // namespace
}  // namespace ecr
