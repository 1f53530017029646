#pragma once
// The tray's popup menu: a menu with a 25-pixel band on its left in which a yellow
// gradient and the product caption, turned to run upward, are drawn, and without check
// marks. Main thread only.

#include <QMenu>
#include <QString>

class QPainter;

namespace ecr {

inline constexpr int kMenuMarginWidth = 25;

class MarginMenu : public QMenu {
  Q_OBJECT

 public:
  explicit MarginMenu(QString caption, QWidget* parent = nullptr);

  const QString& Caption() const { return caption_; }

  // Paints the margin band of a menu `height` pixels high into painter's coordinates
  // (0, 0)..(kMenuMarginWidth, height). paintEvent uses it; tests call it on an image.
  static void DrawMargin(QPainter& painter, int height, const QString& caption,
                         const QPalette& palette);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString caption_;
};

}  // namespace ecr
