#include "foundation/widgets/enter_clicks.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPushButton>

namespace ecr {
namespace {

class EnterClicks : public QObject {
 public:
  explicit EnterClicks(QPushButton& button) : QObject(&button), button_(button) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != &button_ || event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<const QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (!enter || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    button_.click();
    return true;
  }

 private:
  QPushButton& button_;
};

}  // namespace

void ClickOnEnter(QPushButton& button) { button.installEventFilter(new EnterClicks(button)); }

}  // namespace ecr
