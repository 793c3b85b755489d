#include "ui/fittedimage.h"

#include <QMouseEvent>
#include <QPainter>

TFittedImage::TFittedImage(QWidget* parent) : QWidget(parent) {}

void TFittedImage::SetImage(const QImage& image) {
  image_ = image;
  scaled_ = QImage();
  update();
}

void TFittedImage::SetCentred(bool value) {
  centred_ = value;
  update();
}

QRect TFittedImage::FittedRect(QSize image, QRect box, bool centred) {
  if (image.isEmpty() || box.isEmpty()) return QRect();
  const QSize size = image.scaled(box.size(), Qt::KeepAspectRatio);
  QPoint topLeft = box.topLeft();
  if (centred)
    topLeft += QPoint((box.width() - size.width()) / 2, (box.height() - size.height()) / 2);
  return QRect(topLeft, size);
}

void TFittedImage::paintEvent(QPaintEvent*) {
  const QRect target = FittedRect(image_.size(), rect(), centred_);
  if (target.isEmpty()) return;
  if (scaled_.size() != target.size())
    scaled_ = image_.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  QPainter painter(this);
  painter.drawImage(target.topLeft(), scaled_);
}

void TFittedImage::mouseDoubleClickEvent(QMouseEvent* event) {
  emit doubleClicked();
  event->accept();
}
