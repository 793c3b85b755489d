#include "ui/picture/cropimage.h"

#include "ui/common/fittedimage.h"
#include "util/imaging/resample.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace {
constexpr double kHandleSize = 7.0;
constexpr int kMove = 8;

bool movesLeft(int h) {
  return h == 0 || h == 6 || h == 7;
}
bool movesRight(int h) {
  return h == 2 || h == 3 || h == 4;
}
bool movesTop(int h) {
  return h == 0 || h == 1 || h == 2;
}
bool movesBottom(int h) {
  return h == 4 || h == 5 || h == 6;
}
} // namespace

TCropImage::TCropImage(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TCropImage::SetPicture(const QImage& pixels, QSize fullSize) {
  pixels_ = pixels;
  full_ = pixels.isNull() ? QSize(0, 0) : fullSize;
  screenCopy_ = QImage();
  cache_ = QImage();
  cacheFilter_ = -1;
  if (!pixels_.isNull()) {
    QSize screen(1920, 1200);
    if (const QScreen* s = QGuiApplication::primaryScreen()) screen = s->size();
    const QSize fitted = pixels_.size().scaled(screen, Qt::KeepAspectRatio);
    if (fitted.width() < pixels_.width() && !fitted.isEmpty())
      screenCopy_ = ResampleBitmap(pixels_, QRectF(pixels_.rect()), fitted, rfLinear);
    else
      screenCopy_ = pixels_;
  }
  if (scaleMode_) resize(ScaledSize());
  update();
}

double TCropImage::PixelScale() const {
  if (full_.width() <= 0) return 1.0;
  return double(pixels_.width()) / full_.width();
}

void TCropImage::SetScaleMode(bool on, double scale) {
  scaleMode_ = on;
  scale_ = on ? scale : 1.0;
  if (on) resize(ScaledSize());
  update();
}

QSize TCropImage::ScaledSize() const {
  return QSize(std::max(1, int(std::lround(full_.width() * scale_))),
               std::max(1, int(std::lround(full_.height() * scale_))));
}

void TCropImage::SetFilter(int code) {
  if (filter_ == code) return;
  filter_ = code;
  update();
}

void TCropImage::SetCropVisible(bool visible) {
  cropVisible_ = visible;
  if (!visible) {
    hit_ = -1;
    dragging_ = false;
  }
  update();
}

void TCropImage::SetCrop(const QRectF& crop) {
  crop_ = crop;
  update();
}

QRectF TCropImage::CorrectCrop(QRectF r, QSize size) {
  double left = r.left(), top = r.top(), right = r.right(), bottom = r.bottom();
  const double w = size.width(), h = size.height();
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  if (right - left < 1) right = left + 1;
  if (bottom - top < 1) bottom = top + 1;
  if (right > w) right = w;
  if (bottom > h) bottom = h;
  if (right - left < 1) left = right - 1;
  if (bottom - top < 1) top = bottom - 1;
  if (right < 1) right = 1;
  if (bottom < 1) bottom = 1;
  return QRectF(QPointF(left, top), QPointF(right, bottom));
}

QRectF TCropImage::DefaultCrop(QSize size) {
  const int c = size.width() / 10, d = size.height() / 10;
  return QRectF(QPointF(c, d), QPointF(size.width() - c, size.height() - d));
}

QRectF TCropImage::CropInside(const QRectF& stored, QSize size) {
  const QRectF inside = stored.normalized().intersected(QRectF(QPointF(0, 0), QSizeF(size)));
  if (inside.width() < 1 || inside.height() < 1) return DefaultCrop(size);
  return inside;
}

QRectF TCropImage::PictureRect() const {
  if (full_.isEmpty()) return QRectF();
  if (scaleMode_) return QRectF(QPointF(0, 0), QSizeF(ScaledSize()));
  return QRectF(TFittedImage::FittedRect(full_, rect(), true));
}

QPointF TCropImage::ToPicture(QPointF p) const {
  const QRectF r = PictureRect();
  if (r.isEmpty()) return QPointF();
  return QPointF((p.x() - r.left()) * full_.width() / r.width(),
                 (p.y() - r.top()) * full_.height() / r.height());
}

QPointF TCropImage::ToControl(QPointF p) const {
  const QRectF r = PictureRect();
  if (full_.isEmpty()) return QPointF();
  return QPointF(r.left() + p.x() * r.width() / full_.width(),
                 r.top() + p.y() * r.height() / full_.height());
}

void TCropImage::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  if (pixels_.isNull()) return;
  if (scaleMode_)
    paintScaled(painter, event->rect());
  else
    paintFitted(painter);
  if (cropVisible_) paintCrop(painter);
}

void TCropImage::paintFitted(QPainter& painter) {
  const QRect target = PictureRect().toRect();
  if (target.isEmpty()) return;
  const int filter = dragging_ ? rfNearest : filter_;
  if (cache_.isNull() || cacheSize_ != target.size() || cacheFilter_ != filter) {
    // Nearest neighbour comes from the screen-sized copy, so interactions stay cheap on
    // pictures of any size; the finer filters read the held pixels.
    const QImage& source = filter == rfNearest ? screenCopy_ : pixels_;
    cache_ =
        ResampleBitmap(source, QRectF(source.rect()), target.size(), ResizeFilterFromCode(filter));
    cacheSize_ = target.size();
    cacheFilter_ = filter;
  }
  painter.drawImage(target.topLeft(), cache_);
}

void TCropImage::paintScaled(QPainter& painter, const QRect& exposed) {
  const QRect area = exposed.intersected(QRect(QPoint(0, 0), ScaledSize()));
  if (area.isEmpty()) return;
  const double kx = double(pixels_.width()) / ScaledSize().width();
  const double ky = double(pixels_.height()) / ScaledSize().height();
  const QRectF window(area.x() * kx, area.y() * ky, area.width() * kx, area.height() * ky);
  const int filter = dragging_ ? rfNearest : filter_;
  painter.drawImage(area.topLeft(),
                    ResampleBitmap(pixels_, window, area.size(), ResizeFilterFromCode(filter)));
}

void TCropImage::paintCrop(QPainter& painter) {
  const QRectF r(ToControl(crop_.topLeft()), ToControl(crop_.bottomRight()));
  QPainterPath outside;
  outside.addRect(PictureRect());
  outside.addRect(r);
  painter.fillPath(outside, QColor(0, 0, 0, 110));
  painter.setPen(QPen(Qt::white, 1));
  painter.drawRect(r);
  painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
  painter.drawRect(r);
  const QPointF points[8] = {r.topLeft(),     QPointF(r.center().x(), r.top()),
                             r.topRight(),    QPointF(r.right(), r.center().y()),
                             r.bottomRight(), QPointF(r.center().x(), r.bottom()),
                             r.bottomLeft(),  QPointF(r.left(), r.center().y())};
  painter.setPen(QPen(Qt::black, 1));
  for (const QPointF& p : points)
    painter.fillRect(
        QRectF(p.x() - kHandleSize / 2, p.y() - kHandleSize / 2, kHandleSize, kHandleSize),
        Qt::white);
  for (const QPointF& p : points)
    painter.drawRect(
        QRectF(p.x() - kHandleSize / 2, p.y() - kHandleSize / 2, kHandleSize, kHandleSize));
}

int TCropImage::hitTest(QPointF pos) const {
  if (!cropVisible_ || full_.isEmpty()) return -1;
  const QRectF r(ToControl(crop_.topLeft()), ToControl(crop_.bottomRight()));
  const QPointF points[8] = {r.topLeft(),     QPointF(r.center().x(), r.top()),
                             r.topRight(),    QPointF(r.right(), r.center().y()),
                             r.bottomRight(), QPointF(r.center().x(), r.bottom()),
                             r.bottomLeft(),  QPointF(r.left(), r.center().y())};
  for (int i = 0; i < 8; ++i)
    if (std::abs(pos.x() - points[i].x()) <= kHandleSize &&
        std::abs(pos.y() - points[i].y()) <= kHandleSize)
      return i;
  if (r.contains(pos)) return kMove;
  return -1;
}

void TCropImage::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  hit_ = hitTest(event->position());
  pressPos_ = ToPicture(event->position());
  pressCrop_ = crop_;
  emit dragStarted();
}

void TCropImage::mouseMoveEvent(QMouseEvent* event) {
  if (hit_ < 0 || !(event->buttons() & Qt::LeftButton)) {
    static const Qt::CursorShape shapes[9] = {
        Qt::SizeFDiagCursor, Qt::SizeVerCursor,   Qt::SizeBDiagCursor,
        Qt::SizeHorCursor,   Qt::SizeFDiagCursor, Qt::SizeVerCursor,
        Qt::SizeBDiagCursor, Qt::SizeHorCursor,   Qt::SizeAllCursor};
    const int h = hitTest(event->position());
    if (h >= 0)
      setCursor(shapes[h]);
    else
      unsetCursor();
    return;
  }
  const QPointF delta = ToPicture(event->position()) - pressPos_;
  QRectF proposed = pressCrop_;
  if (hit_ == kMove) {
    // A move keeps the size and stops at the picture's edges.
    const double dx = std::max(-pressCrop_.left(),
                               std::min(delta.x(), double(full_.width()) - pressCrop_.right()));
    const double dy = std::max(-pressCrop_.top(),
                               std::min(delta.y(), double(full_.height()) - pressCrop_.bottom()));
    proposed.translate(dx, dy);
  } else if (event->modifiers() & Qt::ControlModifier) {
    proposed = symmetricCrop(delta);
  } else {
    if (movesLeft(hit_)) proposed.setLeft(pressCrop_.left() + delta.x());
    if (movesRight(hit_)) proposed.setRight(pressCrop_.right() + delta.x());
    if (movesTop(hit_)) proposed.setTop(pressCrop_.top() + delta.y());
    if (movesBottom(hit_)) proposed.setBottom(pressCrop_.bottom() + delta.y());
  }
  crop_ = CorrectCrop(proposed, full_);
  dragging_ = true;
  update();
  emit cropChanged(crop_);
}

QRectF TCropImage::symmetricCrop(QPointF delta) const {
  // The dragged side sets the half size; the opposite side mirrors it about the centre the
  // rectangle had when the drag began. Each half is at least half a pixel and at most the
  // distance from the centre to the nearer edge of the picture, so the rectangle stays centred
  // and inside.
  const QPointF c = pressCrop_.center();
  const auto half = [](double wanted, double centre, double size) {
    const double room = std::min(centre, size - centre);
    return std::clamp(wanted, std::min(0.5, room), room);
  };
  double hx = pressCrop_.width() / 2, hy = pressCrop_.height() / 2;
  if (movesLeft(hit_)) hx = c.x() - (pressCrop_.left() + delta.x());
  if (movesRight(hit_)) hx = pressCrop_.right() + delta.x() - c.x();
  if (movesTop(hit_)) hy = c.y() - (pressCrop_.top() + delta.y());
  if (movesBottom(hit_)) hy = pressCrop_.bottom() + delta.y() - c.y();
  hx = half(hx, c.x(), full_.width());
  hy = half(hy, c.y(), full_.height());
  return QRectF(QPointF(c.x() - hx, c.y() - hy), QPointF(c.x() + hx, c.y() + hy));
}

void TCropImage::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  hit_ = -1;
  dragging_ = false;
  update();
  emit dragFinished();
}
