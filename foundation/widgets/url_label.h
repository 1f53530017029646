#pragma once
// A label that behaves like a hyperlink: it shows OverFont while the mouse is over it
// and, when clicked, has the desktop open URLText (a web address or a "mailto:" address).
//
// Thread safety: main thread only.

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QLabel>
#include <QString>

namespace ecr {

class TURLLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TURLLabel(QWidget* parent = nullptr);
  explicit TURLLabel(const QString& text, QWidget* parent = nullptr);

  // The target; empty: a click only raises clicked().
  QString URLText() const { return urlText_; }
  void SetURLText(const QString& url) { urlText_ = url; }

  // Copied; later changes to the caller's font do not reach the label.
  QFont OverFont() const { return overFont_; }
  void SetOverFont(const QFont& font) { overFont_ = font; }
  // The text colour that goes with OverFont (Qt fonts carry none); invalid: unchanged.
  QColor OverColor() const { return overColor_; }
  void SetOverColor(const QColor& color) { overColor_ = color; }

  bool IsMouseOver() const { return hovered_; }

 signals:
  // A left-button click inside the label; raised before the target is opened.
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QString urlText_;
  QFont overFont_;
  QColor overColor_;
  QFont ownFont_;
  QPalette ownPalette_;
  bool hovered_ = false;
  bool pressed_ = false;
};

}  // namespace ecr
