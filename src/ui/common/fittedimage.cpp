#include "ui/common/fittedimage.h"

#include "util/imaging/drawing.h"
#include "util/imaging/resample.h"

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
  if (centred) return FittedDestination(image.width(), image.height(), box);
  const QSize size = image.scaled(box.size(), Qt::KeepAspectRatio);
  return QRect(box.topLeft(), size);
}

void TFittedImage::paintEvent(QPaintEvent*) {
  const QRect target = FittedRect(image_.size(), rect(), centred_);
  if (target.isEmpty()) return;
  if (scaled_.size() != target.size())
    scaled_ = ResampleBitmap(image_, QRectF(image_.rect()), target.size(), rfLanczos);
  QPainter painter(this);
  painter.drawImage(target.topLeft(), scaled_);
}

void TFittedImage::mouseDoubleClickEvent(QMouseEvent* event) {
  emit doubleClicked();
  event->accept();
}
