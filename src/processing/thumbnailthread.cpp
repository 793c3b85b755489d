#include "processing/thumbnailthread.h"

#include "processing/previewfiles.h"

#include "core/album.h"
#include "core/bitmaplist.h"
#include "core/picture.h"
#include "core/previewcache.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "util/handover.h"
#include "util/helpers.h"
#include "util/imaging/imaging.h"
#include "util/imaging/jpegcodec.h"
#include "util/imaging/memorybudget.h"
#include "util/imaging/memorytuning.h"
#include "util/lumenfolderror.h"
#include "util/messages.h"
#include "util/programfolder.h"
#include "util/safefile.h"
#include "util/userprompt.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <exception>

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
    if (album_->Project) maxPixels_ = qint64(std::max(0, album_->Project->MaxMegapixels)) * 1000000;
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
  rowTimer_.setSingleShot(true);
  rowTimer_.setInterval(250);
  connect(&rowTimer_, &QTimer::timeout, this, &TThumbnailThread::writeRows);
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

QList<TLumenfoldPicture*> TThumbnailThread::Request(const QList<TLumenfoldPicture*>& pictures,
                                                    int step) {
  std::unique_lock lock(mutex_);
  if (closed_ || terminate_) return pictures;
  // The newest request goes first (the rows on screen now), each picture queued once.
  QList<TLumenfoldPicture*> left;
  std::vector<Wanted> batch;
  for (TLumenfoldPicture* picture : pictures) {
    const int position = positions_.value(picture, -1);
    if (position < 0)
      left.append(picture);
    else if (!queued_[size_t(position)]) {
      queued_[size_t(position)] = 1;
      batch.push_back({position, step});
    }
  }
  requests_.insert(requests_.begin(), batch.begin(), batch.end());
  wake_.notify_all();
  return left;
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

// What the workers share about the walk; guarded by mutex_.
struct TThumbnailThread::Walk {
  std::vector<char> Examined; // per position: visited once
  size_t Next = 0;            // the walk's next position in album order
  int Failed = 0;
  QString FirstFailure;
  bool Ended = false; // a worker saw the end asked for
};

void TThumbnailThread::run() {
  QString error;
  try {
    if (!albumPath_.isEmpty() && QFileInfo(albumPath_).isDir()) {
      const QString previewFolder = IncludeTrailingSeparator(albumPath_) + QStringLiteral("ps_tmp");
      if (QDir().mkpath(previewFolder)) {
        Walk walk;
        walk.Examined.assign(snapshot_.size(), 0);
        // Decodes of other formats than JPEG reserve their memory as a processing run does.
        TMemoryBudget budget(RunMemoryBudget(AvailableMemoryBytes(), ResidentMemoryBytes()));
        budget_ = &budget;
        // The walk runs on this thread and on the pool's threads at once, one picture each.
        QThreadPool pool;
        const int helpers = std::max(0, QThread::idealThreadCount() - 1);
        pool.setMaxThreadCount(std::max(1, helpers));
        for (int k = 0; k < helpers; ++k)
          pool.start([this, &walk] { work(walk); });
        work(walk);
        pool.waitForDone();
        budget_ = nullptr;
        if (!walk.Ended) {
          ReleaseImagingScratch();
          completed_ = true;
        }
        // The pictures without a preview are marked; the user is told once.
        if (walk.Failed == 1) error = walk.FirstFailure;
        if (walk.Failed > 1)
          error = QStringLiteral("%1 pictures have no preview. The first: %2")
                      .arg(walk.Failed)
                      .arg(walk.FirstFailure);
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
    if (!error.isEmpty() && error_.isEmpty()) error_ = error;
  }
  if (!completed_) ReleaseImagingScratch();
  ReleaseFreeHeap();
}

void TThumbnailThread::work(Walk& walk) {
  try {
    for (;;) {
      if (!waitWhilePaused()) {
        std::unique_lock lock(mutex_);
        walk.Ended = true;
        return;
      }
      // Rows the view shows come first, then the walk goes on in album order.
      int position = -1, step = 0;
      bool requested = false, again = false;
      {
        std::unique_lock lock(mutex_);
        if (!requests_.empty()) {
          position = requests_.front().Position;
          step = requests_.front().Step;
          requests_.pop_front();
          queued_[size_t(position)] = 0;
          requested = true;
        } else {
          while (walk.Next < snapshot_.size() && walk.Examined[walk.Next])
            ++walk.Next;
          if (walk.Next == snapshot_.size()) {
            closed_ = true;
            return;
          }
          position = int(walk.Next++);
        }
        again = walk.Examined[size_t(position)];
        if (!again) {
          walk.Examined[size_t(position)] = 1;
          ++visited_;
        }
      }
      const Snapshot& picture = snapshot_[size_t(position)];
      if (!picture.Picture) continue;
      Finding found = examine(picture, requested, step, !again);
      if (found.Kind == Finding::TKind::Failed) {
        std::unique_lock lock(mutex_);
        if (walk.Failed++ == 0) walk.FirstFailure = found.Error;
      }
      if (found.Kind != Finding::TKind::Nothing)
        QCoreApplication::postEvent(this, new FindingEvent(std::move(found)));
    }
  } catch (...) {
    // An error that is not one picture's ends every worker; the first is reported.
    std::unique_lock lock(mutex_);
    walk.Ended = true;
    if (error_.isEmpty()) {
      try {
        throw;
      } catch (const EImageError& e) {
        error_ = e.Text();
      } catch (const std::exception& e) {
        error_ = QString::fromUtf8(e.what());
      } catch (...) {
        error_ = QStringLiteral("Unknown error while loading thumbnails.");
      }
    }
    terminate_ = true;
    wake_.notify_all();
  }
}

TThumbnailThread::Finding TThumbnailThread::examine(const Snapshot& picture, bool requested,
                                                    int step, bool checkOriginal) {
  Finding found;
  found.Position = picture.Position;
  found.Picture = picture.Picture;
  found.OriginalPath = picture.OriginalPath;
  found.Asked = requested;
  // A FIFO, device or link out of the album folder under a picture's name is never read: it
  // counts as missing (a name not allowed in the folder gives no path at all). On the first
  // visit the original is read once, for its checksum and for the decode when one is needed.
  TOriginalFile original;
  if (checkOriginal) original = ReadOriginalFile(picture.OriginalPath);
  const TFileRefusal refusal =
      checkOriginal ? original.Refusal : CheckRegularFile(picture.OriginalPath);
  if (refusal != TFileRefusal::None) {
    if (checkOriginal) found.Kind = Finding::TKind::Missing;
    return found;
  }
  const QString base = picture.PreviewPath;
  const QString file = PreviewStepPath(base, step);
  if (base.isEmpty() || file.isEmpty()) return found;
  const QFileInfo baseInfo(base);
  bool baseCurrent = baseInfo.isFile() && baseInfo.size() >= MinPreviewBytes;

  if (checkOriginal) {
    // The original is unchanged when its date, size and checksum are the recorded ones.
    found.Date = original.Date;
    found.Size = original.Size;
    found.Hash = original.Hash;
    found.Changed = found.Date != picture.OriginalDate || found.Size != picture.OriginalSize ||
                    found.Hash != picture.OriginalHash;
    if (found.Changed) {
      // Every preview of the old picture is out of date.
      baseCurrent = false;
      for (int k = 1; k < kPreviewSteps; ++k)
        QFile::remove(PreviewStepPath(base, k));
    }
  }

  // Besides the rows shown, previews are kept in memory only while the cache has room.
  const QSize box = PreviewStepBox(step);
  const qint64 previewBytes = qint64(box.width()) * box.height() * 4;
  const bool wanted = requested || PreviewCache().HasRoom(previewBytes);
  if (baseCurrent) {
    // Nothing to do: the file is current (a requested row has lost its preview since).
    if (!wanted || (picture.HasPreview && !requested)) return found;
    if (TLumenfoldBitmap bitmap = LoadPreviewBitmap(file)) {
      ++reused_;
      found.Kind = Finding::TKind::Reused;
      found.Preview = std::move(bitmap);
      return found;
    }
    // A missing or unreadable file of the step is made below.
  }

  // A preview whose name the file system cannot hold is not made; the loader goes on.
  const QFileInfo fileInfo(file);
  if (!FileNameLengthProblem(fileInfo.absolutePath(), fileInfo.fileName(), kTemporaryNameBytes)
           .isEmpty())
    return found;
  QDir().mkpath(fileInfo.absolutePath());
  QImage made;
  try {
    TPreviewLimits limits;
    limits.MaxPixels = maxPixels_;
    limits.Budget = budget_;
    found.Dimensions =
        MakePreview(picture.OriginalPath, file, box, limits, made, std::move(original.Data));
    // A larger step's decode also gives the first step's file, which tells the walk the
    // original has been checked.
    if (step > 0 && !baseCurrent) {
      const TFitResult fit = FitIntoBox(made.size(), PreviewWidth, PreviewHeight, true);
      const QImage small =
          ResampleBitmap(made, QRectF(0, 0, made.width(), made.height()), fit.Size, rfNearest);
      const QString failure = WritePreviewFile(base, EncodeJpeg(small, PreviewQuality));
      if (!failure.isEmpty())
        throw EImageError(QStringLiteral("Cannot write file \"%1\": %2.").arg(base, failure));
    }
  } catch (const EImageError& e) {
    // One picture that cannot be read or decoded: it is marked, the others go on.
    found.Kind = Finding::TKind::Failed;
    found.Error = e.Text();
    return found;
  }
  ++decoded_;
  // The bitmap just written serves as the preview; the file is read back on later visits.
  if (wanted) found.Preview = MakeBitmap(std::move(made));
  // Only a new first-step file stands for a new look at the original; a larger step made for a
  // picture already checked changes nothing of it.
  found.Kind = baseCurrent ? Finding::TKind::Reused : Finding::TKind::Remade;
  if (found.Kind == Finding::TKind::Reused && !found.Preview) found.Kind = Finding::TKind::Nothing;
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
    // A preview set meanwhile stays, unless this one is larger (made for larger tiles).
    const TLumenfoldBitmap shown = picture->Thumbnail();
    if (!keep || (shown && shown->width() >= found.Preview->width() &&
                  shown->height() >= found.Preview->height()))
      return;
    picture->SetThumbnail(found.Preview);
    announce(found.Position, picture);
    return;
  }
  picture->OriginalWidth = found.Dimensions.width();
  picture->OriginalHeight = found.Dimensions.height();
  picture->SetModified(true);
  if (keep) picture->SetThumbnail(found.Preview);
  announce(found.Position, picture);
  if (!WriteRows || (!picture->Dirty && !(found.Changed && picture->Id != -1))) return;
  // Rows are written together, a batch a moment after the first: one commit each, not one per
  // picture (each commit waits for the disk).
  unsaved_.push_back({found.Position, picture, found.Changed});
  if (!rowTimer_.isActive()) rowTimer_.start();
}

void TThumbnailThread::writeRows() {
  rowTimer_.stop();
  if (unsaved_.empty()) return;
  const std::vector<Unsaved> batch = std::move(unsaved_);
  unsaved_.clear();
  std::vector<TLumenfoldPicture*> written;
  bool ok;
  {
    TSqlTransaction transaction(CurrentConnectionString());
    for (const Unsaved& u : batch) {
      // Only a picture still at its place: one removed meanwhile may be freed.
      if (!album_ || u.Position >= album_->Pictures.Count() ||
          album_->Pictures.Pictures(u.Position) != u.Picture)
        continue;
      TLumenfoldPicture* picture = u.Picture;
      if (picture->Dirty)
        picture->Save();
      else if (u.Changed && picture->Id != -1)
        RecordOriginalFacts(*picture);
      written.push_back(picture);
    }
    ok = transaction.Commit();
  }
  // Nothing of a failed batch is stored: its pictures wait for the album's own save.
  if (!ok)
    for (TLumenfoldPicture* picture : written)
      picture->SetDirty(true);
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
  writeRows();
  const QString error = ErrorText();
  if (!error.isEmpty()) Prompt()->error(error);
  emit Done(this);
  if (FreeOnEnd) deleteLater();
}
