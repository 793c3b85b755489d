#include "ui/pictureviewer.h"

#include "core/picture.h"
#include "processing/viewerimage.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QThreadPool>

namespace {
constexpr int kCaptionHeight = 28;
} // namespace

TPictureViewer::TPictureViewer(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("pnlViewer"));
  setFocusPolicy(Qt::StrongFocus);
  setAutoFillBackground(false);
}

TPictureViewer::~TPictureViewer() {
  ++request_; // a decode still running finds its request stale
}

void TPictureViewer::Open(const QList<TLumenfoldPicture*>& pictures, int index) {
  pictures_ = pictures;
  index_ = pictures_.isEmpty() ? -1 : std::clamp(index, 0, int(pictures_.size()) - 1);
  load();
}

void TPictureViewer::Clear() {
  ++request_;
  pictures_.clear();
  index_ = -1;
  bitmap_ = QImage();
  problem_.clear();
  ready_ = false;
  update();
}

bool TPictureViewer::Step(int delta) {
  if (pictures_.isEmpty()) return false;
  const int next = std::clamp(index_ + delta, 0, int(pictures_.size()) - 1);
  if (next == index_) return false;
  index_ = next;
  load();
  return true;
}

void TPictureViewer::load() {
  const quint64 request = ++request_;
  ready_ = false;
  problem_.clear();
  update();
  if (index_ < 0) return;
  const TLumenfoldPicture* p = pictures_.at(index_);
  const QString path = p->OriginalPath();
  const int orientation = p->Orientation;
  const QSize box = (QSizeF(size() - QSize(0, kCaptionHeight)) * devicePixelRatioF()).toSize();
  QPointer<TPictureViewer> self(this);
  QThreadPool::globalInstance()->start([self, request, path, orientation, box] {
    TViewerImage image = LoadViewerImage(path, box, orientation);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, request, image = std::move(image)]() mutable {
          if (!self || self->request_ != request) return;
          self->bitmap_ = std::move(image.Bitmap);
          self->fullSize_ = image.FullSize;
          self->problem_ = image.Problem;
          self->ready_ = true;
          self->update();
        },
        Qt::QueuedConnection);
  });
}

QString TPictureViewer::caption() const {
  if (index_ < 0) return QString();
  const TLumenfoldPicture* p = pictures_.at(index_);
  const QString title = p->Title.trimmed().isEmpty() ? p->OriginalFileName : p->Title;
  return QStringLiteral("%1   —   %2 of %3   (←/→ move, Esc back to the pictures, F full screen)")
      .arg(title)
      .arg(index_ + 1)
      .arg(pictures_.size());
}

void TPictureViewer::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(24, 24, 24));
  const QRect area = rect().adjusted(0, 0, 0, -kCaptionHeight);
  painter.setPen(QColor(220, 220, 220));
  if (!bitmap_.isNull()) {
    const QSizeF shown = QSizeF(bitmap_.size()) / devicePixelRatioF();
    QSizeF fitted = shown.scaled(QSizeF(area.size()), Qt::KeepAspectRatio);
    // Never enlarged beyond its own pixels: a small original stays sharp in the middle.
    if (fitted.width() > shown.width()) fitted = shown;
    QRectF target(QPointF(), fitted);
    target.moveCenter(QRectF(area).center());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, bitmap_);
  } else if (ready_) {
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, problem_);
  } else if (index_ >= 0) {
    painter.drawText(area, Qt::AlignCenter, QStringLiteral("Loading…"));
  }
  painter.drawText(rect().adjusted(8, rect().height() - kCaptionHeight, -8, 0),
                   Qt::AlignVCenter | Qt::AlignLeft, caption());
}

void TPictureViewer::keyPressEvent(QKeyEvent* e) {
  switch (e->key()) {
  case Qt::Key_Left:
  case Qt::Key_PageUp:
  case Qt::Key_Backspace:
    Step(-1);
    break;
  case Qt::Key_Right:
  case Qt::Key_PageDown:
  case Qt::Key_Space:
    Step(1);
    break;
  case Qt::Key_Home:
    Step(-Count());
    break;
  case Qt::Key_End:
    Step(Count());
    break;
  case Qt::Key_Escape:
    emit CloseRequested(index_);
    break;
  case Qt::Key_F:
    emit FullScreenRequested();
    break;
  default:
    QWidget::keyPressEvent(e);
  }
}

void TPictureViewer::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  // A larger window may need a finer decode.
  // A larger window may need a finer decode, when the original has more pixels to give.
  const bool finer = fullSize_.width() > bitmap_.width() && fullSize_.height() > bitmap_.height();
  if (index_ >= 0 && !bitmap_.isNull() && finer &&
      (bitmap_.width() < width() * devicePixelRatioF() / 2 &&
       bitmap_.height() < (height() - kCaptionHeight) * devicePixelRatioF() / 2))
    load();
}
