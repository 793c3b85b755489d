#include "core/previewcache.h"

#include "core/bitmaplist.h"
#include "core/picture.h"

#include "util/imaging/imageerror.h"
#include "util/imaging/jpegcodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

qint64 TPreviewCache::LimitBytes() const {
  QMutexLocker lock(&ThumbnailLock());
  return limit_;
}

void TPreviewCache::SetLimitBytes(qint64 bytes) {
  QMutexLocker lock(&ThumbnailLock());
  limit_ = qMax<qint64>(0, bytes);
  trim();
}

qint64 TPreviewCache::Bytes() const {
  QMutexLocker lock(&ThumbnailLock());
  return bytes_;
}

int TPreviewCache::Count() const {
  QMutexLocker lock(&ThumbnailLock());
  return int(order_.size());
}

bool TPreviewCache::HasRoom(qint64 bytes) const {
  QMutexLocker lock(&ThumbnailLock());
  return bytes_ + bytes <= limit_;
}

void TPreviewCache::ReleaseAlbum(const TLumenfoldAlbum* album) {
  QMutexLocker lock(&ThumbnailLock());
  for (auto it = order_.begin(); it != order_.end();) {
    auto next = std::next(it);
    if (it->Picture->Album == album) drop(it);
    it = next;
  }
}

void TPreviewCache::enter(TLumenfoldPicture* picture, qint64 bytes) {
  leave(picture);
  order_.push_front({picture, bytes});
  index_[picture] = order_.begin();
  bytes_ += bytes;
  trim();
}

void TPreviewCache::touch(const TLumenfoldPicture* picture) {
  auto found = index_.find(picture);
  if (found != index_.end()) order_.splice(order_.begin(), order_, found->second);
}

void TPreviewCache::leave(const TLumenfoldPicture* picture) {
  auto found = index_.find(picture);
  if (found == index_.end()) return;
  bytes_ -= found->second->Bytes;
  order_.erase(found->second);
  index_.erase(found);
}

void TPreviewCache::trim() {
  // The most recent entry stays even when it alone is over the bound: it is being shown.
  while (bytes_ > limit_ && order_.size() > 1)
    drop(std::prev(order_.end()));
}

void TPreviewCache::drop(std::list<Entry>::iterator entry) {
  TLumenfoldPicture* picture = entry->Picture;
  bytes_ -= entry->Bytes;
  index_.erase(picture);
  order_.erase(entry);
  // A face picture keeps its preview outside the bound (one per album, for the album list).
  if (picture->IsFace) return;
  if (picture->thumbnail_) BitmapList().Remove(picture->thumbnail_);
  picture->thumbnail_ = nullptr;
}

TPreviewCache& PreviewCache() {
  static TPreviewCache cache;
  return cache;
}

QSize PreviewStepBox(int step) {
  const int factor = 1 << qBound(0, step, kPreviewSteps - 1);
  return QSize(160 * factor, 120 * factor);
}

int PreviewStepFor(QSize pixels) {
  for (int step = 0; step < kPreviewSteps - 1; ++step) {
    const QSize box = PreviewStepBox(step);
    // The picture fills the box's width or its height, whichever its shape reaches first: the
    // box serves when the tile needs no more than it on both sides.
    if (pixels.width() <= box.width() && pixels.height() <= box.height()) return step;
  }
  return kPreviewSteps - 1;
}

QString PreviewStepPath(const QString& basePath, int step) {
  if (basePath.isEmpty() || step <= 0) return basePath;
  const QFileInfo base(basePath);
  QString name = base.fileName();
  if (!name.startsWith(QLatin1String("tmp_"))) return QString();
  name.insert(3, QString::number(PreviewStepBox(step).width()));
  return base.dir().filePath(name);
}

bool PreviewServesStep(QSize preview, QSize originalSize, int step) {
  if (preview.isEmpty()) return false;
  const QSize box = PreviewStepBox(step);
  // One pixel less for the rounding of the fitted size.
  if (preview.width() >= box.width() - 1 || preview.height() >= box.height() - 1) return true;
  return originalSize.isValid() && !originalSize.isEmpty() &&
         preview.width() >= originalSize.width() - 1 &&
         preview.height() >= originalSize.height() - 1;
}

QString WritePreviewFile(const QString& path, const QByteArray& jpeg) {
  auto reason = [](int error) { return QString::fromLocal8Bit(std::strerror(error)); };
  static std::atomic<unsigned> counter{0};
  const QByteArray target = QFile::encodeName(path);
  const QByteArray temp = target + ".tmp" + QByteArray::number(qint64(::getpid())) + '-' +
                          QByteArray::number(counter.fetch_add(1));
  const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return reason(errno);
  for (qint64 done = 0; done < jpeg.size();) {
    const ssize_t n = ::write(fd, jpeg.constData() + done, size_t(jpeg.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      ::close(fd);
      ::unlink(temp.constData());
      return reason(error);
    }
    done += n;
  }
  if (::close(fd) != 0 || ::rename(temp.constData(), target.constData()) != 0) {
    const int error = errno;
    ::unlink(temp.constData());
    return reason(error);
  }
  return QString();
}

QImage ReadPreviewFile(const QString& path) {
  QFile file(path);
  if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return QImage();
  const QByteArray data = file.readAll();
  // A whole JPEG file starts with its SOI marker and ends with its EOI marker.
  if (data.size() < 4 || !data.startsWith("\xFF\xD8") || !data.endsWith("\xFF\xD9"))
    return QImage();
  try {
    return DecodeJpegData(data, 1, nullptr, path);
  } catch (const EImageError&) {
    return QImage();
  }
}
