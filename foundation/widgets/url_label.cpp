#include "foundation/widgets/url_label.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

namespace ecr {

TURLLabel::TURLLabel(QWidget* parent) : TURLLabel(QString(), parent) {}

TURLLabel::TURLLabel(const QString& text, QWidget* parent) : QLabel(text, parent), overFont_(font()) {}

void TURLLabel::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(event);
}

void TURLLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  if (!click) return;
  emit clicked();
  // The desktop's answer (no handler, no browser) is not the label's concern.
  if (!urlText_.isEmpty()) QDesktopServices::openUrl(QUrl(urlText_));
}

void TURLLabel::enterEvent(QEnterEvent* event) {
  // A second enter without a leave must not take OverFont for the label's own font.
  if (!hovered_) {
    ownFont_ = font();
    ownPalette_ = palette();
    hovered_ = true;
    setFont(overFont_);
    if (overColor_.isValid()) {
      QPalette over = ownPalette_;
      over.setColor(QPalette::WindowText, overColor_);
      setPalette(over);
    }
  }
  QLabel::enterEvent(event);
}

void TURLLabel::leaveEvent(QEvent* event) {
  if (hovered_) {
    hovered_ = false;
    setFont(ownFont_);
    setPalette(ownPalette_);
  }
  QLabel::leaveEvent(event);
}

}  // namespace ecr
