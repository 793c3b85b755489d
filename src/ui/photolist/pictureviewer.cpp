#include "ui/photolist/pictureviewer.h"

#include "core/picture.h"
#include "core/previewcache.h"
#include "core/project.h"
#include "processing/viewerimage.h"
#include "util/imaging/imaging.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>

namespace {
constexpr int kCaptionHeight = 28;
// The current picture, the one before and the one after, and the one just left.
constexpr int kKeptDecodes = 4;
} // namespace

TPictureViewer::TPictureViewer(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("pnlViewer"));
  setFocusPolicy(Qt::StrongFocus);
  setAutoFillBackground(false);
  refine_.setSingleShot(true);
  refine_.setInterval(150);
  connect(&refine_, &QTimer::timeout, this, &TPictureViewer::refine);
}

TPictureViewer::~TPictureViewer() {
  ++generation_; // a decode still running finds itself stale
}

void TPictureViewer::Open(const QList<TLumenfoldPicture*>& pictures, int index) {
  pictures_ = pictures;
  index_ = pictures_.isEmpty() ? -1 : std::clamp(index, 0, int(pictures_.size()) - 1);
  load();
}

void TPictureViewer::Clear() {
  ++generation_;
  pending_.clear();
  decoded_.clear();
  pictures_.clear();
  index_ = -1;
  bitmap_ = QImage();
  problem_.clear();
  ready_ = false;
  standIn_ = false;
  update();
}

bool TPictureViewer::HasDecoded(int index) const {
  if (index < 0 || index >= pictures_.size()) return false;
  const TDecodeKey key = keyOf(index);
  return std::any_of(decoded_.begin(), decoded_.end(),
                     [&](const TDecoded& d) { return d.Key == key; });
}

TPictureViewer::TDecodeKey TPictureViewer::keyOf(int index) const {
  const TLumenfoldPicture* p = pictures_.at(index);
  const TLumenfoldProject* project = p->Project();
  return {p->OriginalPath(), p->Orientation,
          (QSizeF(size() - QSize(0, kCaptionHeight)) * devicePixelRatioF()).toSize(),
          project ? qint64(std::max(0, project->MaxMegapixels)) * 1000000 : qint64(0)};
}

bool TPictureViewer::Step(int delta) {
  if (pictures_.isEmpty()) return false;
  const int next = std::clamp(index_ + delta, 0, int(pictures_.size()) - 1);
  if (next == index_) return false;
  direction_ = next > index_ ? 1 : -1;
  index_ = next;
  load();
  return true;
}

void TPictureViewer::load(bool standIn) {
  ready_ = false;
  standIn_ = false;
  problem_.clear();
  update();
  if (index_ < 0) return;
  const TDecodeKey key = keyOf(index_);
  const auto found = std::find_if(decoded_.begin(), decoded_.end(),
                                  [&](const TDecoded& d) { return d.Key == key; });
  if (found != decoded_.end()) {
    TDecoded d = *found; // the newest now
    decoded_.erase(found);
    decoded_.append(d);
    display(d);
    return;
  }
  if (!pending_.contains(key)) decode(key); // else: shown when the running decode arrives
  if (standIn) showStandIn();
}

void TPictureViewer::showStandIn() {
  // The list's largest preview file, else the preview the list holds in memory when it is not
  // too coarse to look like the picture.
  const TLumenfoldPicture* p = pictures_.at(index_);
  const QSize box = keyOf(index_).Box;
  QImage image = LoadViewerPreview(PreviewStepPath(p->TempThumbPath(), kPreviewSteps - 1), box,
                                   p->Orientation);
  if (image.isNull()) {
    const TLumenfoldBitmap held = p->Thumbnail();
    if (held && std::max(held->width(), held->height()) >= PreviewStepBox(1).width()) {
      image = *held;
      ApplyOrientation(image, p->Orientation);
    }
  }
  if (image.isNull()) return; // the picture before stays until this one arrives
  bitmap_ = std::move(image);
  standIn_ = true;
}

void TPictureViewer::decode(const TDecodeKey& key) {
  pending_.append(key);
  QPointer<TPictureViewer> self(this);
  const quint64 generation = generation_;
  QThreadPool::globalInstance()->start([self, generation, key] {
    TViewerImage image = LoadViewerImage(key.Path, key.Box, key.Orientation, key.MaxPixels);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, generation, key, image = std::move(image)]() mutable {
          if (!self || self->generation_ != generation) return;
          self->pending_.removeOne(key);
          self->decoded_.append(
              {key, std::move(image.Bitmap), image.FullSize, std::move(image.Problem)});
          while (self->decoded_.size() > kKeptDecodes)
            self->decoded_.removeFirst();
          if (!self->ready_ && self->index_ >= 0 && self->keyOf(self->index_) == key)
            self->display(self->decoded_.last());
        },
        Qt::QueuedConnection);
  });
}

void TPictureViewer::display(const TDecoded& decoded) {
  bitmap_ = decoded.Bitmap;
  fullSize_ = decoded.FullSize;
  problem_ = decoded.Problem;
  ready_ = true;
  standIn_ = false;
  update();
  decodeNeighbours();
}

void TPictureViewer::decodeNeighbours() {
  for (const int index : {index_ + direction_, index_ - direction_}) {
    if (index < 0 || index >= pictures_.size() || HasDecoded(index)) continue;
    if (const TDecodeKey key = keyOf(index); !pending_.contains(key)) decode(key);
  }
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
    const QRectF to = target(area);
    // A bitmap made for this size is copied as it is; only a stand-in or a window that has
    // changed since the decode needs filtering.
    if (to.size() != QSizeF(bitmap_.size()) / devicePixelRatioF())
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(to, bitmap_);
  } else if (ready_) {
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, problem_);
  } else if (index_ >= 0) {
    painter.drawText(area, Qt::AlignCenter, QStringLiteral("Loading…"));
  }
  painter.drawText(rect().adjusted(8, rect().height() - kCaptionHeight, -8, 0),
                   Qt::AlignVCenter | Qt::AlignLeft, caption());
}

QRectF TPictureViewer::target(const QRect& area) const {
  // Never enlarged beyond its own pixels: a small original stays sharp in the middle. A
  // stand-in takes the place the picture will take.
  QSizeF own = QSizeF(bitmap_.size());
  if (standIn_ && index_ >= 0) {
    const TLumenfoldPicture* p = pictures_.at(index_);
    const QSize full = OrientedSize(QSize(p->OriginalWidth, p->OriginalHeight), p->Orientation);
    own = full.isValid() && !full.isEmpty() ? QSizeF(full)
                                            : QSizeF(area.size()) * devicePixelRatioF();
  }
  const QSizeF shown = own / devicePixelRatioF();
  QSizeF fitted = shown.scaled(QSizeF(area.size()), Qt::KeepAspectRatio);
  if (fitted.width() > shown.width()) fitted = shown;
  QRectF to(QPointF(), fitted);
  to.moveCenter(QRectF(area).center());
  return to;
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
  // Asked once the window has stopped changing, not on every step of a drag.
  if (ready_ && index_ >= 0 && !bitmap_.isNull()) refine_.start();
}

void TPictureViewer::refine() {
  if (!ready_ || standIn_ || index_ < 0 || bitmap_.isNull()) return;
  // A larger window needs a finer picture when the original has more pixels to give; the one
  // shown stays until it arrives.
  const QSize full = OrientedSize(fullSize_, pictures_.at(index_)->Orientation);
  const QSize wanted = full.scaled(keyOf(index_).Box, Qt::KeepAspectRatio).boundedTo(full);
  if (wanted.width() > bitmap_.width() + bitmap_.width() / 20) load(false);
}
