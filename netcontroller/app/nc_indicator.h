#pragma once
// The round lamp in the main window's top panel: green while the controller is started,
// red otherwise.
//
// Threads: main thread only.

#include <QColor>
#include <QWidget>

namespace ecr::nc {

class TIndicator : public QWidget {
  Q_OBJECT

 public:
  explicit TIndicator(QWidget* parent = nullptr);

  QColor Color() const { return color_; }
  void SetColor(const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor color_{Qt::red};
};

}  // namespace ecr::nc
