#include "foundation/widgets/password_edit.h"

#include <QLineEdit>
#include <QProxyStyle>
#include <QValidator>

#include "foundation/widgets/utf8_cut.h"

namespace ecr {
namespace {

class StarPasswordStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

// Invalid input is refused by the entry as a whole: the keystroke or paste does not
// happen, and what was typed before stays as it was. A longer text set by the program is
// cut to what fits when Enter confirms it.
class Utf8ByteLimit : public QValidator {
 public:
  Utf8ByteLimit(std::size_t maxBytes, QObject* parent) : QValidator(parent), maxBytes_(maxBytes) {}

  State validate(QString& input, int&) const override {
    return static_cast<std::size_t>(input.toUtf8().size()) <= maxBytes_ ? Acceptable : Invalid;
  }
  void fixup(QString& input) const override { input = QString::fromStdString(CutToUtf8Bytes(input, maxBytes_)); }

 private:
  const std::size_t maxBytes_;
};

}  // namespace

QLineEdit* NewPasswordEdit(const QString& objectName, QWidget* parent, int maxCharacters,
                           std::optional<std::size_t> maxBytes) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(objectName);
  edit->setMaxLength(maxCharacters);
  edit->setEchoMode(QLineEdit::Password);
  // The style must outlive the entry: as a later child of the same parent it is deleted
  // after it.
  auto* style = new StarPasswordStyle;
  style->setParent(parent);
  edit->setStyle(style);
  if (maxBytes) LimitToUtf8Bytes(*edit, *maxBytes);
  return edit;
}

void LimitToUtf8Bytes(QLineEdit& edit, std::size_t maxBytes) {
  const auto* previous = dynamic_cast<const Utf8ByteLimit*>(edit.validator());
  edit.setValidator(new Utf8ByteLimit(maxBytes, &edit));
  delete previous;
}

}  // namespace ecr
