#pragma once
// Helpers of the window tests: answering message boxes, acting inside a modal dialog's
// own loop, and leaving a picture of a window for a person to look at.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QString>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "foundation/widgets/msg_box.h"

namespace ecr::window_test {

// Records every box and answers it with `answer`.
class BoxRecorder {
 public:
  explicit BoxRecorder(QMessageBox::StandardButton answer = QMessageBox::Ok)
      : answer_(answer), scope_([this](const MsgBoxRequest& request) {
          texts.push_back(request.text.toStdString());
          kinds.push_back(request.kind);
          captions.push_back(request.caption.toStdString());
          return answers.empty() ? answer_ : Next();
        }) {}
  std::vector<std::string> texts;
  std::vector<std::uint8_t> kinds;
  std::vector<std::string> captions;
  // Answers used in turn before the default one.
  std::vector<QMessageBox::StandardButton> answers;

 private:
  QMessageBox::StandardButton Next() {
    const QMessageBox::StandardButton next = answers.front();
    answers.erase(answers.begin());
    return next;
  }
  QMessageBox::StandardButton answer_;
  ScopedMsgBoxPresenter scope_;
};

// Runs action once the next modal loop has started (from inside that loop).
inline void WhenModal(std::function<void()> action) { QTimer::singleShot(0, qApp, std::move(action)); }

// Runs drive on the modal dialog of type Dialog as soon as one shows (from inside its
// loop), once; the wait ends with owner if no such dialog shows before.
template <typename Dialog>
void WhenShownAs(std::function<void(Dialog&)> drive, QObject* owner = qApp) {
  auto* timer = new QTimer(owner);
  QObject::connect(timer, &QTimer::timeout, [timer, drive = std::move(drive)] {
    if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      drive(*dialog);
    }
  });
  timer->start(10);
}

// Processes events until condition holds or timeout passes; true when it held.
inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() > timeout.count()) return false;
    QTest::qWait(10);
  }
  return true;
}

// Saves a picture of the window under the test run's picture folder.
inline void SavePicture(QWidget& window, const std::string& name) {
#ifdef ECR_PICTURE_DIR
  QDir().mkpath(QString::fromUtf8(ECR_PICTURE_DIR));
  window.grab().save(QString::fromUtf8(ECR_PICTURE_DIR) + "/" + QString::fromStdString(name) + ".png");
#else
  (void)window;
  (void)name;
#endif
}

}  // namespace ecr::window_test
