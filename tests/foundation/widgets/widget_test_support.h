#pragma once
// Helpers of the widget tests: answer message boxes instead of showing them, and drive a
// modal dialog from inside its own exec() without ever blocking for good.

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/widgets/msg_box.h"

#include <ostream>

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace ecr::test {

// Records every box and answers it with `answer`.
class MsgBoxRecorder {
 public:
  explicit MsgBoxRecorder(QMessageBox::StandardButton answer = QMessageBox::Ok)
      : scope_([this, answer](const MsgBoxRequest& request) {
          boxes.push_back(request);
          if (onBox) onBox(request);
          return answer;
        }) {}

  std::vector<MsgBoxRequest> boxes;
  std::function<void(const MsgBoxRequest&)> onBox;

 private:
  ScopedMsgBoxPresenter scope_;
};

// Runs `action` inside the modal loop of `dialog` once the dialog is shown and active
// (activation empties some entries, so typing must come after it). Started before the
// call that runs the dialog modally.
inline void WhenShown(QDialog& dialog, std::function<void()> action) {
  QTimer::singleShot(0, &dialog, [&dialog, action = std::move(action)] {
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog, 10000)) << "the dialog never became active";
    action();
  });
}

// Closes whatever modal window is open when a test overruns, so that a failing test
// fails instead of hanging. Generous: the machine is shared.
class ModalWatchdog {
 public:
  ModalWatchdog() {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [] {
      ADD_FAILURE() << "a modal window was still open after the watchdog's time";
      for (int i = 0; i < 10; ++i)
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    timer_.start(60000);
  }

 private:
  QTimer timer_;
};

inline constexpr const char* kTestTitle = "Test Register Program";

// The application's title for the dialogs' captions.
inline void SetTestTitle() { QGuiApplication::setApplicationDisplayName(QString::fromLatin1(kTestTitle)); }

// As a fixture's first member: the title is set before the dialogs are made.
struct TestTitle {
  TestTitle() { SetTestTitle(); }
};

}  // namespace ecr::test
