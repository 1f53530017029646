#pragma once

// Event-loop helpers for widget tests: run the Qt event loop until a condition holds (bounded),
// and answer the next modal window when it opens.

#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace ecr::testing_support {

// Runs events until `done` holds or `timeoutMs` pass; true when `done` held.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    QTimer wake;  // wakes the blocking event processing at least every 10 ms
    wake.start(10);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

inline void RunEventsFor(int milliseconds) {
    QDeadlineTimer deadline(milliseconds);
    WaitUntil([&] { return deadline.hasExpired(); }, milliseconds + 1000);
}

// When a modal window of type W opens (within `timeoutMs`), `answer` gets it. The watcher
// lives until it has answered or timed out.
template <typename W>
void AnswerNextModal(std::function<void(W*)> answer, int timeoutMs = 10000) {
    auto* watcher = new QTimer;
    auto deadline = std::make_shared<QDeadlineTimer>(timeoutMs);
    QObject::connect(watcher, &QTimer::timeout, [watcher, deadline, answer = std::move(answer)] {
        if (auto* window = qobject_cast<W*>(QApplication::activeModalWidget())) {
            watcher->stop();
            watcher->deleteLater();
            answer(window);
        } else if (deadline->hasExpired()) {
            watcher->stop();
            watcher->deleteLater();
        }
    });
    watcher->start(10);
}

}  // namespace ecr::testing_support
