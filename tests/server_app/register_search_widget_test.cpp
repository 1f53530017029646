// The register search against the register emulator on a pseudo-terminal: registers found
// InLine and OnLine (the OnLine message left unacknowledged), "None" for silent numbers,
// the input checks, the list's countdown, the bounded log, and Stop and close ending the
// thread.
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "line/simple_com_object.h"
#include "server_app/register_search_dialog.h"
#include "server_app/register_search_engine.h"
#include "tests/server_app/window_test_support.h"
#include "tests/support/register_emulator.h"

namespace ecr {
namespace {

using namespace std::chrono_literals;
using window_test::BoxRecorder;
using window_test::WaitUntil;

class RegisterSearchTest : public ::testing::Test {
 protected:
  RegisterEmulator emulator;
  TfmEcrSearch dialog;

  void SetUp() override {
    dialog.PortName = emulator.PortPath();
    dialog.show();
  }
  void MarkOnly(const QStringList& speeds) {
    for (int row = 0; row < dialog.cbSpeeds->count(); ++row) {
      QListWidgetItem* item = dialog.cbSpeeds->item(row);
      item->setCheckState(speeds.contains(item->text()) ? Qt::Checked : Qt::Unchecked);
    }
  }
  QStringList Memo() const { return dialog.mActions->toPlainText().split('\n', Qt::SkipEmptyParts); }
  bool MemoHas(const QString& line) const { return Memo().contains(line); }
  QStringList Row(int row) const {
    QStringList texts;
    const QTreeWidgetItem* item = dialog.lvECRs->topLevelItem(row);
    for (int column = 1; item && column < 5; ++column) texts << item->text(column);
    return texts;
  }
};

TEST_F(RegisterSearchTest, InputChecksRefuseToStart) {
  struct Case {
    const char* from;
    const char* to;
    QStringList speeds;
    const char* message;
  };
  const Case cases[] = {
      {"0", "8", {"4800"}, "Please, enter valid value for \"From ECR\" !"},
      {"100", "8", {"4800"}, "Please, enter valid value for \"From ECR\" !"},
      {"x", "8", {"4800"}, "Please, enter valid value for \"From ECR\" !"},
      {"1", "0", {"4800"}, "Please, enter valid value for \"To ECR\" !"},
      {"1", "100", {"4800"}, "Please, enter valid value for \"To ECR\" !"},
      {"1", "", {"4800"}, "Please, enter valid value for \"To ECR\" !"},
      {"8", "1", {"4800"}, "From ECR > To Ecr !"},
      {"1", "8", {}, "There is not marked speeds for test !"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message + std::string(" ") + c.from + ".." + c.to);
    BoxRecorder boxes;
    dialog.eFrom->setText(c.from);
    dialog.eTo->setText(c.to);
    MarkOnly(c.speeds);
    dialog.btnStartTest->click();
    EXPECT_EQ(boxes.texts, std::vector<std::string>{c.message});
    EXPECT_EQ(dialog.Engine(), nullptr);
    EXPECT_TRUE(dialog.btnStartTest->isEnabled());
  }
}

TEST_F(RegisterSearchTest, FindsInLineAndOnLineRegistersAndNoneForSilentNumbers) {
  emulator.AddRegister(2).SetStatus("1234;1;");
  emulator.AddRegister(4).QueueOnLineMessage("5678;17;SALE;1.00;");
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Search for ECRs on " + emulator.PortPath());
  dialog.eFrom->setText("1");
  dialog.eTo->setText("4");
  MarkOnly({"4800", "9600"});
  dialog.btnStartTest->click();
  ASSERT_NE(dialog.Engine(), nullptr);
  EXPECT_FALSE(dialog.btnStartTest->isEnabled());
  EXPECT_TRUE(dialog.btnStopTest->isEnabled());
  EXPECT_FALSE(dialog.cbSpeeds->isEnabled());
  EXPECT_FALSE(dialog.eFrom->isEnabled());

  ASSERT_TRUE(WaitUntil([&] { return MemoHas("Testing for ECR 4 at speed 9600 ... OnLine"); }, 20s))
      << dialog.mActions->toPlainText().toStdString();
  EXPECT_TRUE(MemoHas("Testing for ECR 1 at speed 4800 ... None"));
  EXPECT_TRUE(MemoHas("Testing for ECR 2 at speed 4800 ... InLine"));
  EXPECT_TRUE(MemoHas("Testing for ECR 3 at speed 9600 ... None"));
  EXPECT_TRUE(MemoHas("Testing for ECR 4 at speed 4800 ... OnLine"));
  ASSERT_TRUE(WaitUntil([&] { return dialog.lvECRs->topLevelItemCount() == 2; }, 5s));
  EXPECT_EQ(Row(0).mid(0, 1), QStringList({"2"}));
  EXPECT_EQ(Row(0).mid(2), QStringList({"InLine", "1234"}));
  EXPECT_EQ(Row(1).mid(2), QStringList({"OnLine", "5678"}));
  // The newest line is in view (the memo lays its lines out in the event loop, which a
  // loaded machine may not have reached yet).
  const QScrollBar* memoBar = dialog.mActions->verticalScrollBar();
  WaitUntil([&] { return memoBar->maximum() > 0 && memoBar->value() == memoBar->maximum(); }, 5s);
  EXPECT_GT(memoBar->maximum(), 0);
  EXPECT_EQ(memoBar->value(), memoBar->maximum());
  window_test::SavePicture(dialog, "register_search");

  dialog.btnStopTest->click();
  EXPECT_EQ(dialog.Engine(), nullptr);
  EXPECT_TRUE(dialog.btnStartTest->isEnabled());
  // The register's own message was never acknowledged: it waits for the real server.
  EXPECT_EQ(emulator.Register(4).QueuedMessages(), 1u);
  // The list and the memo keep their contents after the stop.
  EXPECT_EQ(dialog.lvECRs->topLevelItemCount(), 2);
  EXPECT_FALSE(Memo().isEmpty());
}

TEST_F(RegisterSearchTest, OneNumberAtOneSpeedIsScannedAgainAndAgain) {
  emulator.AddRegister(5);
  dialog.eFrom->setText("5");
  dialog.eTo->setText("5");
  MarkOnly({"9600"});
  dialog.btnStartTest->click();
  const QString probe = "Testing for ECR 5 at speed 9600 ... ";
  // A probe on a loaded machine may miss the register's 50 ms answer deadline and read
  // "None"; what counts here is that the scan finds the register and stays on its number
  // and speed.
  ASSERT_TRUE(WaitUntil([&] { return emulator.Register(5).Takes() >= 3 && MemoHas(probe + "InLine"); }, 10s));
  dialog.btnStopTest->click();
  for (const QString& line : Memo()) EXPECT_TRUE(line.startsWith(probe)) << line.toStdString();
}

TEST_F(RegisterSearchTest, ARegisterSwitchedOffLeavesTheListAfterTenRefreshes) {
  emulator.AddRegister(3);
  dialog.eFrom->setText("3");
  dialog.eTo->setText("3");
  MarkOnly({"9600"});
  dialog.btnStartTest->click();
  ASSERT_TRUE(WaitUntil([&] { return dialog.lvECRs->topLevelItemCount() == 1; }, 10s));
  emulator.Register(3).StaySilent(EmulatorReply::Take);
  ASSERT_TRUE(WaitUntil([&] { return MemoHas("Testing for ECR 3 at speed 9600 ... None"); }, 10s));
  // Ten refreshes of 500 ms; generous for a loaded machine.
  EXPECT_TRUE(WaitUntil([&] { return dialog.lvECRs->topLevelItemCount() == 0; }, 30s));
  dialog.btnStopTest->click();
}

TEST_F(RegisterSearchTest, APortThatCannotBeOpenedIsReportedInTheMemo) {
  dialog.PortName = "/nonexistent/tty";
  dialog.eFrom->setText("1");
  dialog.eTo->setText("1");
  dialog.btnStartTest->click();
  ASSERT_TRUE(WaitUntil([&] { return MemoHas("Exception !"); }, 10s)) << dialog.mActions->toPlainText().toStdString();
  EXPECT_EQ(Memo().size(), 2);
  // The dialog stays in the searching state until Stop.
  EXPECT_TRUE(dialog.btnStopTest->isEnabled());
  dialog.btnStopTest->click();
  EXPECT_TRUE(dialog.btnStartTest->isEnabled());
}

TEST_F(RegisterSearchTest, StopAndCloseEndTheThreadWithinOneProbe) {
  // Silent numbers: each probe waits out its time-out.
  for (const bool byClose : {false, true}) {
    SCOPED_TRACE(byClose ? "close" : "stop");
    dialog.eFrom->setText("1");
    dialog.eTo->setText("99");
    MarkOnly({"1200"});
    dialog.btnStartTest->click();
    ASSERT_TRUE(WaitUntil([&] { return Memo().size() >= 2; }, 10s));
    const auto before = std::chrono::steady_clock::now();
    if (byClose) {
      dialog.btnClose->click();
    } else {
      dialog.btnStopTest->click();
    }
    // One probe of a silent number lasts well under a second; a pass over the 99 numbers
    // would last far longer than this bound.
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_EQ(dialog.Engine(), nullptr);
    // The port is free again: another line can open it.
    TSimpleComObject line;
    line.PortName = emulator.PortPath();
    EXPECT_NO_THROW(line.Open());
    line.Close();
    dialog.show();
  }
}

TEST(SearchEngineTest, LogQueueAndMemoKeepTheLast101Lines) {
  TSearchEngine engine;
  int notified = 0;
  engine.SetNotifyWnd([&] { ++notified; });
  for (int i = 1; i <= 150; ++i) engine.AddSearchMessage("line " + std::to_string(i));
  EXPECT_EQ(notified, 150);
  std::string line;
  ASSERT_TRUE(engine.GetSearchMessage(line));
  EXPECT_EQ(line, "line 50");
  int left = 0;
  while (engine.GetSearchMessage(line)) ++left;
  EXPECT_EQ(left, 100);
  EXPECT_EQ(line, "line 150");
}

TEST(SearchEngineTest, SettersRefuseOnceTheScanRuns) {
  RegisterEmulator emulator;
  TSearchEngine engine;
  engine.SetLineClass(CommunicationObjectClassOf<TSimpleComObject>());
  engine.SetSearchPort(emulator.PortPath());
  engine.SetFirstEcr(1);
  engine.SetLastEcr(1);
  engine.Speeds = {"9600"};
  engine.Resume();
  try {
    engine.SetFirstEcr(2);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Scan is running !");
  }
  EXPECT_THROW(engine.SetTimeToLive(3), std::runtime_error);
}

TEST(SearchEngineTest, ASearchWithoutSpeedsEndsInsteadOfSpinning) {
  TSearchEngine engine;
  engine.SetLineClass(CommunicationObjectClassOf<TSimpleComObject>());
  engine.SetSearchPort("/nonexistent/tty");
  engine.Resume();
  EXPECT_TRUE(WaitUntil([&] { return !engine.Running(); }, 10s));
  std::string line;
  EXPECT_FALSE(engine.GetSearchMessage(line)) << line;
}

TEST_F(RegisterSearchTest, MemoKeepsTheLast101Lines) {
  emulator.AddRegister(1);
  dialog.eFrom->setText("1");
  dialog.eTo->setText("1");
  MarkOnly({"38400"});
  dialog.btnStartTest->click();
  ASSERT_TRUE(WaitUntil([&] { return emulator.Register(1).Takes() >= 130; }, 60s));
  EXPECT_LE(dialog.mActions->document()->blockCount(), 101);
  dialog.btnStopTest->click();
  EXPECT_EQ(dialog.mActions->document()->blockCount(), 101);
}

}  // namespace
}  // namespace ecr
