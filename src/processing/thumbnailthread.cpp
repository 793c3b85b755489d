#include "processing/thumbnailthread.h"

#include "core/album.h"
#include "core/bitmaplist.h"
#include "core/picture.h"
#include "db/sqlaccess.h"
#include "db/userprompt.h"
#include "util/colour.h"
#include "util/imaging.h"
#include "util/jpegcodec.h"
#include "util/memorytuning.h"
#include "util/messages.h"
#include "util/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <exception>

namespace {

// Carries a preview announcement from the worker to the thread object, which forwards it on
// the user-interface thread to whichever receivers still exist.
class TForwardEvent : public QEvent {
public:
  TForwardEvent(int position, TLumenfoldPicture* picture)
      : QEvent(Type()), Position(position), Picture(picture) {}
  static QEvent::Type Type() {
    static const int type = QEvent::registerEventType();
    return QEvent::Type(type);
  }
  const int Position;
  TLumenfoldPicture* const Picture;
};

// Reads a preview file into a 32-bit bitmap; null when it cannot be decoded.
TLumenfoldBitmap LoadPreview(const QString& path) {
  try {
    return MakeBitmap(DecodeJpegFile(path));
  } catch (const EImageError&) {
    return nullptr;
  }
}

// Makes the preview file of an original and leaves the preview in bitmap; returns the original's
// stored size. A JPEG original is read once and decoded at the smallest DCT scale that still
// gives at least the preview's size, so the nearest filter only ever reduces.
QSize MakePreview(const QString& original, const QString& preview, QImage& bitmap) {
  QFile file(original);
  if (!file.open(QIODevice::ReadOnly))
    throw EImageError(QStringLiteral("Cannot open %1: %2").arg(original, file.errorString()));
  const QByteArray data = file.readAll();
  file.close();
  if (!data.startsWith("\xFF\xD8")) {
    // Some other picture format under a JPEG name: the general path handles it.
    const QSize size = ScalePictureFile(original, preview, TThumbnailThread::PreviewWidth,
                                        TThumbnailThread::PreviewHeight, true, rfNearest);
    bitmap = DecodeJpegFile(preview);
    return size;
  }
  try {
    const QSize full = ReadJpegSize(data);
    const TFitResult fit =
        FitIntoBoxTraced(full, TThumbnailThread::PreviewWidth, TThumbnailThread::PreviewHeight,
                         true, original + QStringLiteral("->") + preview + QLatin1Char('.'));
    if (fit.Size.isEmpty()) throw EImageError(QStringLiteral("The picture has no pixels."));
    const int d =
        fit.Scale >= 1.0 ? 1 : JpegScaleForMinimumSize(full, fit.Size.width(), fit.Size.height());
    const QImage decoded = DecodeJpegData(data, d);
    const QRectF window(0, 0, double(full.width()) / d, double(full.height()) / d);
    bitmap = ResampleBitmap(decoded, window, fit.Size, rfNearest);
    ConvertToSrgb(bitmap, ColourPlanForJpeg(data, original));
    EncodeJpegFile(bitmap, TThumbnailThread::PreviewQuality, preview);
    return full;
  } catch (const EImageRangeError&) {
    throw;
  } catch (const EImageError& e) {
    if (e.Text().contains(original)) throw;
    throw EImageError(original + QStringLiteral(": ") + e.Text());
  }
}

} // namespace

TThumbnailThread::TThumbnailThread(TLumenfoldAlbum* album, QObject* owner, QObject* view)
    : album_(album), owner_(owner), view_(view) {
  // finished() is emitted by the worker; this object lives on the creating thread, so the
  // handler runs there.
  connect(this, &QThread::finished, this, &TThumbnailThread::handleFinished, Qt::QueuedConnection);
}

TThumbnailThread::~TThumbnailThread() {
  Terminate();
  wait();
}

void TThumbnailThread::SetPaused(bool value) {
  QMutexLocker lock(&mutex_);
  paused_ = value;
  wake_.wakeAll();
}

bool TThumbnailThread::Paused() const {
  QMutexLocker lock(&mutex_);
  return paused_;
}

void TThumbnailThread::Terminate() {
  QMutexLocker lock(&mutex_);
  terminate_ = true;
  requestInterruption();
  wake_.wakeAll();
}

bool TThumbnailThread::TerminateRequested() const {
  return terminate_.load();
}

QString TThumbnailThread::ErrorText() const {
  QMutexLocker lock(&mutex_);
  return error_;
}

bool TThumbnailThread::waitWhilePaused() {
  QMutexLocker lock(&mutex_);
  while (paused_ && !terminate_)
    wake_.wait(&mutex_);
  return !terminate_;
}

void TThumbnailThread::run() {
  try {
    if (album_ && !album_->Path.isEmpty() && QFileInfo(album_->Path).isDir()) {
      previewFolder_ = IncludeTrailingSeparator(album_->Path) + QStringLiteral("ps_tmp");
      if (QDir().mkpath(previewFolder_)) {
        bool ended = false;
        for (int k = 0; !ended; ++k) {
          if (!waitWhilePaused()) break;
          if (k >= album_->Pictures.Count()) {
            ended = true;
            break;
          }
          if (TLumenfoldPicture* picture = album_->Pictures.Pictures(k)) processPicture(k, picture);
          ++visited_;
        }
        if (ended) {
          ReleaseImagingScratch();
          completed_ = true;
        }
      }
    }
  } catch (const EImageError& e) {
    QMutexLocker lock(&mutex_);
    error_ = e.Text();
  } catch (const std::exception& e) {
    QMutexLocker lock(&mutex_);
    error_ = QString::fromUtf8(e.what());
  } catch (...) {
    QMutexLocker lock(&mutex_);
    error_ = QStringLiteral("Unknown error while loading thumbnails.");
  }
  if (!completed_) ReleaseImagingScratch();
  ReleaseFreeHeap();
  // Rows may have been written through this thread's own connections.
  CloseThreadConnections();
}

void TThumbnailThread::processPicture(int position, TLumenfoldPicture* picture) {
  const QString original = picture->OriginalPath();
  if (!QFileInfo(original).isFile()) {
    if (picture->Thumbnail()) {
      picture->SetThumbnail(nullptr);
      announce(position, picture);
    }
    return;
  }

  const bool unchanged = picture->CheckOriginal();
  const QString preview = picture->TempThumbPath();
  const QFileInfo previewInfo(preview);
  if (unchanged && previewInfo.isFile() && previewInfo.size() >= MinPreviewBytes) {
    if (picture->Thumbnail()) return;
    if (TLumenfoldBitmap bitmap = LoadPreview(preview)) {
      ++reused_;
      picture->SetThumbnail(bitmap);
      announce(position, picture);
      return;
    }
    // An unreadable preview file is made again below.
  }

  QDir().mkpath(previewInfo.absolutePath());
  QImage made;
  const QSize size = MakePreview(original, preview, made);
  ++decoded_;
  picture->OriginalWidth = size.width();
  picture->OriginalHeight = size.height();
  // The bitmap just written serves as the preview; the file is read back on later visits.
  TLumenfoldBitmap bitmap = MakeBitmap(std::move(made));
  picture->SetModified(true);
  picture->SetThumbnail(bitmap);
  announce(position, picture);
  if (WriteRows) picture->Save();
}

void TThumbnailThread::announce(int position, TLumenfoldPicture* picture) {
  QCoreApplication::postEvent(this, new TForwardEvent(position, picture));
}

bool TThumbnailThread::event(QEvent* e) {
  if (e->type() == TForwardEvent::Type()) {
    const auto* f = static_cast<TForwardEvent*>(e);
    PostMessage(view_, LF_MSG_THUMBNAIL, f->Position, qintptr(f->Picture));
    if (owner_ != view_) PostMessage(owner_, LF_MSG_THUMBNAIL, f->Position, qintptr(f->Picture));
    return true;
  }
  return QThread::event(e);
}

void TThumbnailThread::handleFinished() {
  const QString error = ErrorText();
  if (!error.isEmpty()) Prompt()->error(error);
  emit Done(this);
  if (FreeOnEnd) deleteLater();
}
