#pragma once
// Typing into a widget key by key as a keyboard of any layout sends it (QTest::keyClicks
// sends Latin-1 only): the widget checks every keystroke as it checks a user's.

#include <QApplication>
#include <QKeyEvent>
#include <QString>
#include <QWidget>

namespace ecr::test {

inline void TypeText(QWidget* widget, const QString& text) {
  for (const QChar character : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(character));
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(character));
    QApplication::sendEvent(widget, &release);
  }
}

}  // namespace ecr::test
