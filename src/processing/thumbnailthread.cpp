#include "processing/thumbnailthread.h"

#include "core/album.h"
#include "core/bitmaplist.h"
#include "core/picture.h"
#include "core/previewcache.h"
#include "util/colour.h"
#include "util/handover.h"
#include "util/helpers.h"
#include "util/imaging.h"
#include "util/jpegcodec.h"
#include "util/lumenfolderror.h"
#include "util/memorytuning.h"
#include "util/messages.h"
#include "util/programfolder.h"
#include "util/safefile.h"
#include "util/userprompt.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <exception>

namespace {

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
  QFile file;
  QString problem;
  if (!OpenRegularFile(file, original, &problem)) throw EImageError(problem);
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
    const QSize full = ReadJpegSize(data, original);
    const TFitResult fit =
        FitIntoBoxTraced(full, TThumbnailThread::PreviewWidth, TThumbnailThread::PreviewHeight,
                         true, original + QStringLiteral("->") + preview + QLatin1Char('.'));
    if (fit.Size.isEmpty()) throw EImageError(QStringLiteral("The picture has no pixels."));
    const int d =
        fit.Scale >= 1.0 ? 1 : JpegScaleForMinimumSize(full, fit.Size.width(), fit.Size.height());
    const QImage decoded = DecodeJpegData(data, d, nullptr, original);
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

// One picture as the worker sees it, taken on the user-interface thread.
struct TThumbnailThread::Snapshot {
  int Position = -1;
  TLumenfoldPicture* Picture = nullptr; // identity only: never dereferenced by the worker
  QString OriginalPath;
  QString PreviewPath;
  int OriginalDate = -1;
  int OriginalSize = -1;
  QString OriginalHash;
  bool HasPreview = false;
};

// What the worker found out about one picture.
struct TThumbnailThread::Finding {
  enum class TKind { Nothing, Missing, Reused, Remade, Failed };
  TKind Kind = TKind::Nothing;
  int Position = -1;
  TLumenfoldPicture* Picture = nullptr;
  QString OriginalPath;
  bool Changed = false; // the original differs from its recorded date, size or checksum
  int Date = -1;
  int Size = -1;
  QString Hash;
  QSize Dimensions;         // Remade: the original's size
  TLumenfoldBitmap Preview; // Reused, Remade (none for a remade preview not wanted in memory)
  QString Error;            // Failed: why no preview could be made
  bool Asked = false;       // a view asked for the preview (else it is kept only while room)
};

// Carries a finding from the worker to the thread object on the user-interface thread.
class TThumbnailThread::FindingEvent : public QEvent {
public:
  explicit FindingEvent(Finding finding) : QEvent(Type()), Found(std::move(finding)) {
    HandOver(this);
  }
  static QEvent::Type Type() {
    static const int type = QEvent::registerEventType();
    return QEvent::Type(type);
  }
  const Finding Found;
};

TThumbnailThread::TThumbnailThread(TLumenfoldAlbum* album, QObject* owner, QObject* view)
    : album_(album), owner_(owner), view_(view) {
  if (album_) {
    albumPath_ = album_->Path;
    snapshot_.reserve(size_t(album_->Pictures.Count()));
    for (int k = 0; k < album_->Pictures.Count(); ++k) {
      Snapshot s;
      s.Position = k;
      if (TLumenfoldPicture* p = album_->Pictures.Pictures(k)) {
        s.Picture = p;
        s.OriginalPath = p->OriginalPath();
        s.PreviewPath = p->TempThumbPath();
        s.OriginalDate = p->OriginalDate;
        s.OriginalSize = p->OriginalSize;
        s.OriginalHash = p->OriginalHash;
        s.HasPreview = p->Thumbnail() != nullptr;
        positions_.insert(p, k);
      }
      snapshot_.push_back(std::move(s));
    }
    queued_.assign(snapshot_.size(), 0);
  }
  // finished() is emitted by the worker; this object lives on the creating thread, so the
  // handler runs there, after every finding posted before it.
  connect(this, &QThread::finished, this, &TThumbnailThread::handleFinished, Qt::QueuedConnection);
}

TThumbnailThread::~TThumbnailThread() {
  Terminate();
  wait();
}

void TThumbnailThread::SetPaused(bool value) {
  std::unique_lock lock(mutex_);
  paused_ = value;
  wake_.notify_all();
}

bool TThumbnailThread::Paused() const {
  std::unique_lock lock(mutex_);
  return paused_;
}

void TThumbnailThread::Terminate() {
  std::unique_lock lock(mutex_);
  terminate_ = true;
  requestInterruption();
  wake_.notify_all();
}

void TThumbnailThread::StopAndWait(QPointer<TThumbnailThread>& held) {
  if (!held) return;
  QPointer<TThumbnailThread> loader = held;
  loader->Terminate();
  while (loader && held == loader) {
    QEventLoop wait;
    connect(loader.data(), &TThumbnailThread::Done, &wait, &QEventLoop::quit);
    QTimer::singleShot(50, &wait, &QEventLoop::quit);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
  }
  if (held == loader) held = nullptr;
}

QList<TLumenfoldPicture*> TThumbnailThread::Request(const QList<TLumenfoldPicture*>& pictures) {
  std::unique_lock lock(mutex_);
  if (closed_ || terminate_) return pictures;
  // The newest request goes first (the rows on screen now), each picture queued once.
  QList<TLumenfoldPicture*> left;
  std::vector<int> batch;
  for (TLumenfoldPicture* picture : pictures) {
    const int position = positions_.value(picture, -1);
    if (position < 0)
      left.append(picture);
    else if (!queued_[size_t(position)]) {
      queued_[size_t(position)] = 1;
      batch.push_back(position);
    }
  }
  requests_.insert(requests_.begin(), batch.begin(), batch.end());
  wake_.notify_all();
  return left;
}

QList<TLumenfoldPicture*> TThumbnailThread::LoadWanted(TThumbnailThread* loader,
                                                       const QList<TLumenfoldPicture*>& pictures) {
  QList<TLumenfoldPicture*> loaded;
  for (TLumenfoldPicture* picture : loader ? loader->Request(pictures) : pictures) {
    if (picture->OriginalMissing || picture->Thumbnail()) continue;
    picture->LoadThumbnail();
    if (picture->Thumbnail()) loaded.append(picture);
  }
  return loaded;
}

bool TThumbnailThread::TerminateRequested() const {
  return terminate_.load();
}

QString TThumbnailThread::ErrorText() const {
  std::unique_lock lock(mutex_);
  return error_;
}

bool TThumbnailThread::waitWhilePaused() {
  std::unique_lock lock(mutex_);
  while (paused_ && !terminate_)
    wake_.wait(lock);
  return !terminate_;
}

void TThumbnailThread::run() {
  QString error;
  try {
    if (!albumPath_.isEmpty() && QFileInfo(albumPath_).isDir()) {
      const QString previewFolder = IncludeTrailingSeparator(albumPath_) + QStringLiteral("ps_tmp");
      if (QDir().mkpath(previewFolder)) {
        bool ended = true;
        int failed = 0;
        QString firstFailure;
        std::vector<char> examined(snapshot_.size(), 0);
        size_t next = 0;
        for (;;) {
          if (!waitWhilePaused()) {
            ended = false;
            break;
          }
          // Rows the view shows come first, then the walk goes on in album order.
          int position = -1;
          bool requested = false;
          {
            std::unique_lock lock(mutex_);
            if (!requests_.empty()) {
              position = requests_.front();
              requests_.pop_front();
              queued_[size_t(position)] = 0;
              requested = true;
            } else {
              while (next < snapshot_.size() && examined[next])
                ++next;
              if (next == snapshot_.size()) {
                closed_ = true;
                break;
              }
              position = int(next++);
            }
          }
          const Snapshot& picture = snapshot_[size_t(position)];
          if (picture.Picture) {
            Finding found =
                examined[size_t(position)] ? reload(picture) : examine(picture, requested);
            if (found.Kind == Finding::TKind::Failed && failed++ == 0) firstFailure = found.Error;
            if (found.Kind != Finding::TKind::Nothing)
              QCoreApplication::postEvent(this, new FindingEvent(std::move(found)));
          }
          if (!examined[size_t(position)]) {
            examined[size_t(position)] = 1;
            ++visited_;
          }
        }
        if (ended) {
          ReleaseImagingScratch();
          completed_ = true;
        }
        // The pictures without a preview are marked; the user is told once.
        if (failed == 1) error = firstFailure;
        if (failed > 1)
          error = QStringLiteral("%1 pictures have no preview. The first: %2")
                      .arg(failed)
                      .arg(firstFailure);
      }
    }
  } catch (const std::exception& e) {
    error = TextOf(e);
  } catch (...) {
    error = QStringLiteral("Unknown error while loading thumbnails.");
  }
  {
    std::unique_lock lock(mutex_);
    closed_ = true;
    if (!error.isEmpty()) error_ = error;
  }
  if (!completed_) ReleaseImagingScratch();
  ReleaseFreeHeap();
}

TThumbnailThread::Finding TThumbnailThread::reload(const Snapshot& picture) {
  Finding found;
  found.Position = picture.Position;
  found.Picture = picture.Picture;
  found.OriginalPath = picture.OriginalPath;
  const QFileInfo previewInfo(picture.PreviewPath);
  if (CheckRegularFile(picture.OriginalPath) != TFileRefusal::None || !previewInfo.isFile() ||
      previewInfo.size() < MinPreviewBytes)
    return found;
  if (TLumenfoldBitmap bitmap = LoadPreview(picture.PreviewPath)) {
    ++reused_;
    found.Kind = Finding::TKind::Reused;
    found.Preview = std::move(bitmap);
    found.Asked = true;
  }
  return found;
}

TThumbnailThread::Finding TThumbnailThread::examine(const Snapshot& picture, bool wanted) {
  Finding found;
  found.Position = picture.Position;
  found.Picture = picture.Picture;
  found.OriginalPath = picture.OriginalPath;
  // A FIFO, device or link out of the album folder under a picture's name is never read: it
  // counts as missing (a name not allowed in the folder gives no path at all).
  if (CheckRegularFile(picture.OriginalPath) != TFileRefusal::None) {
    found.Kind = Finding::TKind::Missing;
    return found;
  }

  // The original is unchanged when its date, size and checksum are the recorded ones.
  found.Date = FileDosDateTime(picture.OriginalPath);
  found.Size = GetFileSizeBytes(picture.OriginalPath);
  found.Hash = GetFileHash(picture.OriginalPath);
  found.Changed = found.Date != picture.OriginalDate || found.Size != picture.OriginalSize ||
                  found.Hash != picture.OriginalHash;

  // Besides the rows shown, previews are kept in memory only while the cache has room.
  constexpr qint64 previewBytes = qint64(PreviewWidth) * PreviewHeight * 4;
  const bool requested = wanted;
  found.Asked = requested;
  wanted = wanted || PreviewCache().HasRoom(previewBytes);
  const QFileInfo previewInfo(picture.PreviewPath);
  if (!found.Changed && previewInfo.isFile() && previewInfo.size() >= MinPreviewBytes) {
    // Nothing to do: the file is current (a requested row has lost its preview since).
    if (!wanted || (picture.HasPreview && !requested)) return found;
    if (TLumenfoldBitmap bitmap = LoadPreview(picture.PreviewPath)) {
      ++reused_;
      found.Kind = Finding::TKind::Reused;
      found.Preview = std::move(bitmap);
      return found;
    }
    // An unreadable preview file is made again below.
  }

  // A preview whose name the file system cannot hold is not made; the loader goes on.
  if (!FileNameLengthProblem(previewInfo.absolutePath(), previewInfo.fileName(),
                             kTemporaryNameBytes)
           .isEmpty())
    return found;
  QDir().mkpath(previewInfo.absolutePath());
  QImage made;
  try {
    found.Dimensions = MakePreview(picture.OriginalPath, picture.PreviewPath, made);
  } catch (const EImageError& e) {
    // One picture that cannot be read or decoded: it is marked, the others go on.
    found.Kind = Finding::TKind::Failed;
    found.Error = e.Text();
    return found;
  }
  ++decoded_;
  // The bitmap just written serves as the preview; the file is read back on later visits.
  if (wanted) found.Preview = MakeBitmap(std::move(made));
  found.Kind = Finding::TKind::Remade;
  return found;
}

void TThumbnailThread::apply(const Finding& found) {
  // The picture must still be the one at its position, with the same original.
  if (!album_ || found.Position >= album_->Pictures.Count() ||
      album_->Pictures.Pictures(found.Position) != found.Picture)
    return;
  TLumenfoldPicture* picture = found.Picture;
  if (picture->OriginalPath() != found.OriginalPath) return;

  if (found.Kind == Finding::TKind::Missing) {
    if (picture->Thumbnail() || !picture->OriginalMissing) {
      picture->OriginalMissing = true;
      picture->SetThumbnail(nullptr);
      announce(found.Position, picture);
    }
    return;
  }
  picture->OriginalMissing = false;
  if (found.Changed) {
    picture->OriginalDate = found.Date;
    picture->OriginalSize = found.Size;
    picture->OriginalHash = found.Hash;
    picture->OriginalChanged = true;
    picture->SetModified(true);
  }
  if (found.Kind == Finding::TKind::Failed) {
    picture->SetThumbnail(nullptr);
    picture->PreviewError = found.Error;
    announce(found.Position, picture);
    return;
  }
  picture->PreviewError.clear();
  // Findings still on their way when the worker saw room may fill the cache meanwhile: a preview
  // nobody asked for never pushes out one that is shown.
  const bool keep =
      found.Preview && (found.Asked || PreviewCache().HasRoom(found.Preview->sizeInBytes()));
  if (found.Kind == Finding::TKind::Reused) {
    // A preview set meanwhile stays.
    if (picture->Thumbnail() || !keep) return;
    picture->SetThumbnail(found.Preview);
    announce(found.Position, picture);
    return;
  }
  picture->OriginalWidth = found.Dimensions.width();
  picture->OriginalHeight = found.Dimensions.height();
  picture->SetModified(true);
  if (keep) picture->SetThumbnail(found.Preview);
  announce(found.Position, picture);
  if (!WriteRows) return;
  if (picture->Dirty)
    picture->Save();
  else if (found.Changed && picture->Id != -1)
    RecordOriginalFacts(*picture);
}

void TThumbnailThread::announce(int position, TLumenfoldPicture* picture) {
  PostMessage(view_, LF_MSG_THUMBNAIL, position, qintptr(picture));
  if (owner_ != view_) PostMessage(owner_, LF_MSG_THUMBNAIL, position, qintptr(picture));
}

bool TThumbnailThread::event(QEvent* e) {
  TakeOver(e); // before its first field is read
  if (e->type() == FindingEvent::Type()) {
    apply(static_cast<FindingEvent*>(e)->Found);
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
