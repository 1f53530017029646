// Enter on a focused button clicks it; Enter elsewhere, or with Ctrl or Alt, does not.
#include "foundation/widgets/enter_clicks.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace ecr {
namespace {

TEST(ClickOnEnter, EnterAndKeypadEnterClickTheFocusedButton) {
  struct Case {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int clicks;
  };
  const Case cases[] = {
      {Qt::Key_Return, Qt::NoModifier, 1},
      {Qt::Key_Enter, Qt::KeypadModifier, 1},
      {Qt::Key_Return, Qt::ControlModifier, 0},
      {Qt::Key_Return, Qt::AltModifier, 0},
      {Qt::Key_A, Qt::NoModifier, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.key << " " << c.modifiers.toInt());
    QWidget window;
    auto* button = new QPushButton("OK", &window);
    button->setAutoDefault(false);
    ClickOnEnter(*button);
    window.show();
    const QSignalSpy clicked(button, &QPushButton::clicked);
    QTest::keyClick(button, c.key, c.modifiers);
    EXPECT_EQ(clicked.count(), c.clicks);
    // Space still clicks, as on any button.
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(clicked.count(), c.clicks + 1);
  }
}

}  // namespace
}  // namespace ecr
