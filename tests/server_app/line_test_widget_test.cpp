// The line test against the register emulator on a pseudo-terminal: its five counters for
// a register that answers, one that is silent, one with a pending OnLine message and one
// that sends bad CRCs; the input check; and the stop on close releasing the port.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "line/simple_com_object.h"
#include "server_app/line_test_dialog.h"
#include "server_app/line_test_engine.h"
#include "tests/server_app/window_test_support.h"
#include "tests/support/register_emulator.h"

namespace ecr {
namespace {

using namespace std::chrono_literals;
using window_test::BoxRecorder;
using window_test::WaitUntil;

class LineTestTest : public ::testing::Test {
 protected:
  RegisterEmulator emulator;
  TfmTestLine dialog;

  void SetUp() override {
    dialog.PortName = emulator.PortPath();
    dialog.Speed = 9600;
    dialog.show();
  }
  int Panel(QLabel* panel) const { return panel->text().toInt(); }
};

TEST_F(LineTestTest, CountersForEachKindOfRegister) {
  enum class Kind { Answers, Silent, OnLine, BadCrc };
  struct Case {
    const char* name;
    Kind kind;
    QLabel* TfmTestLine::*counter;  // the panel that grows with the sent blocks
  };
  const Case cases[] = {
      {"answers", Kind::Answers, &TfmTestLine::pnlRcvBlocks},
      {"silent", Kind::Silent, &TfmTestLine::pnlTimeOut_Errors},
      {"pending OnLine message", Kind::OnLine, &TfmTestLine::pnlRcvBlocks},
      {"bad CRC", Kind::BadCrc, &TfmTestLine::pnlCRC_Errors},
  };
  int ecrNo = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ++ecrNo;
    // A line of its own for each case: on a loaded machine the last case's register may
    // answer its last take only after that test has stopped, and on a shared line this
    // case's first take would read that answer.
    RegisterEmulator line;
    dialog.PortName = line.PortPath();
    EmulatedRegister& reg = line.AddRegister(ecrNo);
    if (c.kind == Kind::Silent) reg.StaySilent(EmulatorReply::Take);
    if (c.kind == Kind::OnLine) reg.QueueOnLineMessage("1234;17;SALE;1.00;");
    if (c.kind == Kind::BadCrc) reg.SendBadCrc(EmulatorReply::Take);
    dialog.eECR->setText(QString::number(ecrNo));
    dialog.btnStartTest->click();
    ASSERT_NE(dialog.Engine(), nullptr);
    EXPECT_FALSE(dialog.btnStartTest->isEnabled());
    EXPECT_TRUE(dialog.Timer.isActive());
    // The panels show the last test's counts until the first tick; the case's own counter
    // differs from the last case's, so it grows only with this test's takes.
    ASSERT_TRUE(WaitUntil([&] { return dialog.Engine()->SentBlocks() >= 3 && Panel(dialog.*c.counter) >= 3; }, 20s));
    dialog.btnStopTest->click();
    EXPECT_EQ(dialog.Engine(), nullptr);
    EXPECT_TRUE(dialog.btnStartTest->isEnabled());
    const int sent = Panel(dialog.pnlSndBlocks);
    EXPECT_GE(sent, 3);
    // Every take lands in exactly one panel: the case's own, or, when a loaded machine makes
    // a reply miss its deadline, one of the time-outs; never in another kind's panel.
    int total = 0;
    for (QLabel* panel : {dialog.pnlRcvBlocks, dialog.pnlCRC_Errors, dialog.pnlByteTimeOut_Errors, dialog.pnlTimeOut_Errors}) {
      total += Panel(panel);
      const bool allowed = panel == dialog.*c.counter || panel == dialog.pnlTimeOut_Errors ||
                           panel == dialog.pnlByteTimeOut_Errors;
      if (!allowed) {
        EXPECT_EQ(Panel(panel), 0) << panel->objectName().toStdString();
      }
    }
    EXPECT_EQ(total, sent);
    // The emulator reads the line on its own thread and may be behind the stopped test. The
    // test frees the register after each take and once more when it closes the line: once
    // that last free frame is recorded, so is every take before it; the emulator then
    // handles (and counts) the takes it recorded.
    EXPECT_TRUE(line.WaitForFrames("FREE", sent + 1, 20s));
    char take[16];
    std::snprintf(take, sizeof take, "TAKE %02d", ecrNo);
    const std::vector<std::string> frames = line.ReceivedFrames();
    EXPECT_EQ(std::count(frames.begin(), frames.end(), "FREE"), sent + 1);
    EXPECT_EQ(std::count(frames.begin(), frames.end(), take), sent);
    EXPECT_TRUE(line.WaitFor([&] { return reg.Takes() >= sent; }, 20s));
    EXPECT_EQ(reg.Takes(), sent);
    if (c.kind == Kind::OnLine) {
      EXPECT_EQ(reg.QueuedMessages(), 1u);
    }
    if (c.kind == Kind::BadCrc) {
      window_test::SavePicture(dialog, "line_test");
    }
  }
}

TEST_F(LineTestTest, ShowsPortAndSpeedAndRefusesInvalidNumbers) {
  EXPECT_EQ(dialog.windowTitle(), "Test line");
  EXPECT_EQ(dialog.lblInfo->text().toStdString(), "port: " + emulator.PortPath() + "  speed: 9600");
  for (const char* text : {"0", "100", "abc", ""}) {
    SCOPED_TRACE(text);
    BoxRecorder boxes;
    dialog.eECR->setText(text);
    dialog.btnStartTest->click();
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"Please, enter valid value for \"ECR\" !"});
    EXPECT_EQ(dialog.Engine(), nullptr);
    EXPECT_EQ(dialog.focusWidget(), dialog.eECR);
  }
}

TEST_F(LineTestTest, ClosingTheDialogEndsTheTestAndReleasesThePort) {
  emulator.AddRegister(1);
  dialog.btnStartTest->click();
  ASSERT_TRUE(emulator.WaitFor([&] { return emulator.Register(1).Takes() >= 1; }, 10s));
  dialog.btnClose->click();
  EXPECT_EQ(dialog.Engine(), nullptr);
  EXPECT_EQ(dialog.Com(), nullptr);
  TSimpleComObject line;
  line.PortName = emulator.PortPath();
  EXPECT_NO_THROW(line.Open());
  // Showing again starts from zero.
  dialog.show();
  EXPECT_EQ(dialog.pnlSndBlocks->text(), "0");
}

TEST(TestEngineTest, APortThatCannotBeOpenedEndsSilentlyWithZeroCounts) {
  TSimpleComObject line;
  line.PortName = "/nonexistent/tty";
  TTestEngine engine;
  engine.Com = &line;
  engine.Resume();
  ASSERT_TRUE(WaitUntil([&] { return !engine.Running(); }, 10s));
  EXPECT_EQ(engine.SentBlocks(), 0);
  TTestEngine unassigned;
  unassigned.Resume();
  unassigned.WaitFor();
  EXPECT_EQ(unassigned.SentBlocks(), 0);
}

}  // namespace
}  // namespace ecr
