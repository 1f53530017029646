#include "foundation/widgets/tray_stand_in.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

namespace ecr {
namespace {

constexpr int kImageSize = 32;

}  // namespace

TrayStandIn::TrayStandIn(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("TrayStandIn"));
  // Never the reason the program ends: only its own close does that.
  setAttribute(Qt::WA_QuitOnClose, false);
  image_ = new QLabel(this);
  image_->setObjectName(QStringLiteral("lblImage"));
  image_->setFixedSize(kImageSize, kImageSize);
  image_->setAlignment(Qt::AlignCenter);
  hint_ = new QLabel(this);
  hint_->setObjectName(QStringLiteral("lblHint"));
  menuButton_ = new QPushButton(QCoreApplication::translate("TrayStandIn", "&Menu"), this);
  menuButton_->setObjectName(QStringLiteral("btnMenu"));
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(image_);
  layout->addWidget(hint_, 1);
  layout->addWidget(menuButton_);
  connect(menuButton_, &QPushButton::clicked, this, [this] {
    emit Activated(QSystemTrayIcon::Context, menuButton_->mapToGlobal(QPoint(0, menuButton_->height())));
  });
}

TrayStandIn::~TrayStandIn() = default;

void TrayStandIn::SetImage(const QIcon& image) {
  setWindowIcon(image);
  image_->setPixmap(image.pixmap(kImageSize, kImageSize));
}

void TrayStandIn::SetHint(const QString& hint) {
  setWindowTitle(hint);
  hint_->setText(hint);
}

QString TrayStandIn::Hint() const { return hint_->text(); }

void TrayStandIn::closeEvent(QCloseEvent* event) {
  event->ignore();
  showMinimized();
}

void TrayStandIn::contextMenuEvent(QContextMenuEvent* event) {
  emit Activated(QSystemTrayIcon::Context, event->globalPos());
}

void TrayStandIn::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit Activated(QSystemTrayIcon::DoubleClick, event->globalPosition().toPoint());
}

}  // namespace ecr
