#include "processing/processthread.h"

#include "core/album.h"
#include "core/outputsettings.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/signature.h"
#include "db/connectionstring.h"
#include "db/sqlaccess.h"
#include "db/userprompt.h"
#include "processing/archivebuilder.h"
#include "processing/archivemark.h"
#include "processing/picturework.h"
#include "processing/publicsite.h"
#include "processing/sitefolder.h" // the site folder
#include "util/helpers.h"
#include "util/imaging.h"
#include "util/jpegcodec.h"
#include "util/memorybudget.h"
#include "util/memorytuning.h"
#include "util/messages.h"
#include "util/programfolder.h"
#include "util/safefile.h"
#include "util/tracer.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThreadPool>
#include <QUuid>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace {

// An error that ends the run; its text is the reason shown to the user.
class TRunError : public std::runtime_error {
public:
  explicit TRunError(const QString& text) : std::runtime_error(text.toStdString()), text_(text) {}
  const QString& Text() const { return text_; }

private:
  QString text_;
};

// Forwards everything to the prompt that was in force and keeps the last error reported on the
// run thread, so that a failed database write ends the run with the database's own message.
class TRunPrompt final : public UserPrompt {
public:
  TRunPrompt() : thread_(QThread::currentThread()) { next_ = SetPrompt(this); }
  ~TRunPrompt() override {
    if (Prompt() == this) SetPrompt(next_);
  }
  void error(const QString& text) override {
    if (QThread::currentThread() == thread_) {
      QMutexLocker lock(&mutex_);
      last_ = text;
    }
    next_->error(text);
  }
  void warning(const QString& text) override { next_->warning(text); }
  bool confirm(const QString& text) override { return next_->confirm(text); }
  // The last error since the previous call, on one line.
  QString takeLastError() {
    QMutexLocker lock(&mutex_);
    QString text = last_;
    last_.clear();
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    return text.trimmed();
  }

private:
  QThread* thread_;
  UserPrompt* next_ = nullptr;
  QMutex mutex_;
  QString last_;
};

thread_local TRunPrompt* runPrompt = nullptr;

QString separated(const QString& folder) {
  return IncludeTrailingSeparator(folder);
}

// A stored relative name as a path below a folder on this system.
QString below(const QString& folder, const QString& relative) {
  QString name = relative;
  if (QDir::separator() == QLatin1Char('/')) name.replace(QLatin1Char('\\'), QLatin1Char('/'));
  return separated(folder) + name;
}

// Entry name of a file of an album: the album's site folder, then the relative name.
QString albumEntry(const TLumenfoldAlbum* album, const QString& relative) {
  return (album ? album->Directory : QString()) + QLatin1Char('/') + relative;
}

// Ends the run at a stop request met outside the picture loop (in the zip stages).
class TStopped : public std::exception {};

void trace(const QString& text) {
  try {
    Tracer().Write(text);
  } catch (const std::exception&) {
    // The trace log is a diagnostic aid; failing to write it does not end the run.
  }
}

// Why the file is not followed, or empty: a symbolic link that leads outside the album's folder.
QString outsideLinkReason(const QString& albumFolder, const QString& path) {
  struct stat st;
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISLNK(st.st_mode))
    return QString();
  const QString target = QFileInfo(path).canonicalFilePath();
  const QString folder = QFileInfo(albumFolder).canonicalFilePath();
  if (!target.isEmpty() && !folder.isEmpty() && target.startsWith(folder + QLatin1Char('/')))
    return QString();
  return QStringLiteral("\"%1\" is a symbolic link that leads outside the album's folder; it was "
                        "not followed.")
      .arg(path);
}

// Why a picture's file may not go into the archive, or empty when it may: only a regular file
// goes (for an original, one holding a JPEG picture), and a symbolic link is followed only when
// it leads to a file inside the album's folder.
QString unpackableReason(const QString& albumFolder, const QString& path, bool original) {
  const QByteArray encoded = QFile::encodeName(path);
  struct stat st;
  if (const QString outside = outsideLinkReason(albumFolder, path); !outside.isEmpty())
    return outside;
  if (::stat(encoded.constData(), &st) != 0 || !S_ISREG(st.st_mode))
    return QStringLiteral("\"%1\" is not a regular file; it was not packed.").arg(path);
  if (!original) return QString();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.read(3) != QByteArray("\xFF\xD8\xFF", 3))
    return QStringLiteral("\"%1\" is not a JPEG picture; it was not packed.").arg(path);
  return QString();
}

bool pathExists(const QString& path) {
  struct stat st;
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// Writes the bytes through a temporary file in the same folder that replaces the target only
// when complete.
void writeFileAtomically(const QString& path, const QByteArray& bytes) {
  QString reason = WriteFileReplacing(path, bytes);
  if (reason.isEmpty()) return;
  // A folder that could not be made: its own reason ("Permission denied"), not the missing
  // folder's.
  const QString folder = QFileInfo(path).absolutePath();
  std::error_code error;
  if (!QFileInfo(folder).isDir() &&
      !std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error) && error)
    reason = QString::fromLocal8Bit(error.message().c_str());
  throw TRunError(QStringLiteral("The file \"%1\" cannot be written: %2").arg(path, reason));
}

} // namespace

QString ProcessStageText(int stage) {
  switch (stage) {
  case psHash:
    return QStringLiteral("getting hash and size of the file");
  case psLoad:
    return QStringLiteral("loading picture");
  case psLarge:
    return QStringLiteral("processing large image");
  case psMedium:
    return QStringLiteral("processing medium image");
  case psThumb:
    return QStringLiteral("processing thumbnail image");
  case psDatabase:
    return QStringLiteral("updating database");
  case psZipPictures:
    return QStringLiteral("inserting pictures into zip archive...");
  case psZipDatabase:
    return QStringLiteral("inserting database into zip archive...");
  case psZipTemplate:
    return QStringLiteral("inserting template into zip archive...");
  default:
    return QString();
  }
}

bool FillWorkList(TLumenfoldProject& project, bool allModified, const QList<int>& albumPositions,
                  QList<TLumenfoldPicture*>& workList, bool forArchive) {
  auto loadAll = [&] {
    for (int a = 0; a < project.Albums.Count(); ++a) {
      TLumenfoldAlbum* album = project.Albums.Albums(a);
      if (!album->Loaded && album->Id != -1 && !album->LoadPictures()) return false;
    }
    return true;
  };
  TFolderListings listings; // the generated files of a project lie in a few folders
  if (allModified) {
    // Every album: a picture whose files are not current is due even when not marked modified.
    if (!loadAll()) return false;
    for (int a = 0; a < project.Albums.Count(); ++a) {
      TLumenfoldAlbum* album = project.Albums.Albums(a);
      for (int i = 0; i < album->Pictures.Count(); ++i) {
        TLumenfoldPicture* p = album->Pictures.Pictures(i);
        if (p->Modified || p->NeedsProcessing(&listings)) workList.append(p);
      }
    }
  } else {
    for (int position : albumPositions) {
      if (position < 0 || position >= project.Albums.Count()) continue;
      TLumenfoldAlbum* album = project.Albums.Albums(position);
      if (!album->Loaded && !album->LoadPictures()) return false;
      for (int i = 0; i < album->Pictures.Count(); ++i)
        workList.append(album->Pictures.Pictures(i));
    }
  }
  // All-modified mode has listed every picture that needs processing already.
  if (forArchive && !allModified) {
    if (!loadAll()) return false;
    const QSet<TLumenfoldPicture*> listed(workList.cbegin(), workList.cend());
    for (int a = 0; a < project.Albums.Count(); ++a) {
      TLumenfoldAlbum* album = project.Albums.Albums(a);
      for (int i = 0; i < album->Pictures.Count(); ++i) {
        TLumenfoldPicture* p = album->Pictures.Pictures(i);
        if (!listed.contains(p) && p->NeedsProcessing(&listings)) workList.append(p);
      }
    }
  }
  return true;
}

QString ProcessFinishedText() {
  return QStringLiteral("Processing finished successfully.");
}

QString ProcessTerminatedText() {
  return QStringLiteral("Processing was terminated and finished.");
}

namespace {
constexpr int kReportedReasons = 10;
// Runs that render at most this many pictures copy the previous archive ahead.
constexpr int kPrefillPictures = 16;
// Progress within a stage goes out in steps of this many thousandths.
constexpr int kPartStep = 10;
} // namespace

QStringList TProcessReport::Lines() const {
  QStringList lines;
  auto add = [&](int n, const char* one, const char* many) {
    if (n == 1) lines.append(QString::fromLatin1(one));
    if (n > 1) lines.append(QString::fromLatin1(many).arg(n));
  };
  add(MissingOriginals, "1 original picture was not found and was skipped.",
      "%1 original pictures were not found and were skipped.");
  constexpr int kNamedFiles = 50;
  for (const QString& path : MissingFiles.mid(0, kNamedFiles))
    lines.append(QStringLiteral("  ") + QDir::toNativeSeparators(path));
  if (MissingFiles.size() > kNamedFiles)
    lines.append(QStringLiteral("  ... and %1 more.").arg(MissingFiles.size() - kNamedFiles));
  add(IrregularOriginals, "1 original picture is not a regular file and was skipped.",
      "%1 original pictures are not regular files and were skipped.");
  add(UnreadableOriginals, "1 original picture cannot be read and was skipped.",
      "%1 original pictures cannot be read and were skipped.");
  add(UndecodableOriginals, "1 original picture could not be decoded and was skipped.",
      "%1 original pictures could not be decoded and were skipped.");
  add(RefusedOriginals, "1 picture was skipped because of its file name or file type.",
      "%1 pictures were skipped because of their file names or file types.");
  add(DamagedOriginals,
      "1 original picture is truncated or damaged; its images show only what could be read.",
      "%1 original pictures are truncated or damaged; their images show only what could be read.");
  add(BadSignatureImages,
      "1 signature image is missing or cannot be read; pictures were stamped without it.",
      "%1 signature images are missing or cannot be read; pictures were stamped without them.");
  add(MissingArchiveFiles, "1 file of a published picture was missing and is not in the archive.",
      "%1 files of published pictures were missing and are not in the archive.");
  add(RefusedFiles, "1 file of a picture is no picture file of its album and was not packed.",
      "%1 files of pictures are no picture files of their albums and were not packed.");
  lines += Reasons;
  if (MoreReasons > 0) lines.append(QStringLiteral("and %1 more.").arg(MoreReasons));
  return lines;
}

void TProcessReport::AddReason(const QString& reason) {
  if (Reasons.size() < kReportedReasons)
    Reasons << reason;
  else
    ++MoreReasons;
}

// ---- Worker pool --------------------------------------------------------------------------

struct TProcessThread::Pipeline {
  struct Slot {
    TPictureWork Work;
    std::future<TPictureResult> Result;
    // The worker's steps done, in thousandths of the picture's work (written under mutex).
    std::shared_ptr<std::atomic<int>> Part = std::make_shared<std::atomic<int>>(0);
  };

  Pipeline(int jobs, qsizetype pictures, qint64 memory)
      : jobs(jobs), handedOut(size_t(pictures), false), budget(memory) {
    pool.setMaxThreadCount(jobs);
  }
  ~Pipeline() {
    pool.clear(); // pictures not started yet are dropped
    pool.waitForDone();
  }

  // priority: the picture whose turn it is goes before the others waiting in the queue.
  void submit(int index, TPictureWork work, int priority) {
    auto promise = std::make_shared<std::promise<TPictureResult>>();
    auto slot = std::make_unique<Slot>();
    slot->Work = std::move(work);
    slot->Result = promise->get_future();
    {
      std::lock_guard lock(mutex);
      ++unfinished;
    }
    pool.start(
        [this, promise, work = slot->Work, part = slot->Part] {
          qint64 bytes = 0;
          auto steps = [this, &part](int doneSteps, int allSteps) {
            {
              std::lock_guard lock(mutex);
              part->store(allSteps > 0 ? doneSteps * 1000 / allSteps : 0);
            }
            done.notify_all();
          };
          try {
            TPictureResult result = ProducePicture(work, steps, &budget);
            bytes = HeldBytes(result);
            promise->set_value(std::move(result));
          } catch (...) {
            promise->set_exception(std::current_exception());
          }
          {
            std::lock_guard lock(mutex);
            --unfinished;
            ++finished;
            held += bytes;
          }
          done.notify_all();
        },
        priority);
    pending[index] = std::move(slot);
  }

  // True when a worker is free or about to be (one picture may wait in the queue, so a worker
  // that finishes while the run thread writes goes on at once), and the results waiting for
  // their turn leave room for more.
  bool workerFree() {
    std::lock_guard lock(mutex);
    return unfinished <= jobs && held < kHeldBudget;
  }

  // Takes the result of a handed-out picture out of the pipeline. While it is not ready, every
  // finished picture gives topUp (which runs on this thread) the chance to hand out more, and
  // every step the picture's worker finishes goes to onPart (thousandths of its work).
  TPictureResult take(std::map<int, std::unique_ptr<Slot>>::iterator slot,
                      const std::function<void()>& topUp,
                      const std::function<void(int part)>& onPart = {}) {
    std::future<TPictureResult> future = std::move(slot->second->Result);
    const std::shared_ptr<std::atomic<int>> part = slot->second->Part;
    pending.erase(slot);
    auto ready = [&] {
      return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    };
    int shown = -1;
    while (!ready()) {
      if (topUp) topUp();
      if (const int now = part->load(); onPart && now != shown) onPart(shown = now);
      std::unique_lock lock(mutex);
      const quint64 seen = finished;
      done.wait(lock,
                [&] { return finished != seen || (onPart && part->load() != shown) || ready(); });
    }
    TPictureResult result;
    try {
      result = future.get();
    } catch (...) {
      release(0);
      throw;
    }
    release(HeldBytes(result));
    return result;
  }

  void release(qint64 bytes) {
    budget.ReleaseHeld(bytes);
    std::lock_guard lock(mutex);
    held -= bytes;
  }

  // Finished results that wait for their turn may hold this much memory (encoded images are
  // small; a large image or a bitmap waiting for its caption is not).
  static constexpr qint64 kHeldBudget = qint64(64) << 20;
  // Never more pictures than this ahead of the current one.
  static constexpr int kMostAhead = 64;

  QThreadPool pool;
  const int jobs;
  std::vector<bool> handedOut; // per list index: given to a worker, or left to its turn
  TMemoryBudget budget;        // what the pictures being made and waiting may take together
  std::map<int, qint64> costs; // per list index: the original's size in bytes (0: no decode)
  std::map<int, std::unique_ptr<Slot>> pending;
  std::mutex mutex;
  std::condition_variable done;
  int unfinished = 0;   // handed out, not finished
  quint64 finished = 0; // pictures finished so far
  qint64 held = 0;      // bytes held by finished results not taken yet
};

// ---- The run ------------------------------------------------------------------------------

TProcessThread::TProcessThread(TLumenfoldProject* project, bool zip, bool processAll,
                               QObject* progressWindow, QObject* parent)
    : QThread(parent), project_(project), zip_(zip), processAll_(processAll),
      progressWindow_(progressWindow), site_(std::make_unique<TSitePacking>()) {
  // Settings that would overwrite the user's files end the run before anything is touched.
  refusal_ = ValidateOutputSettings(*project_);
  if (zip_ && refusal_.isEmpty()) {
    if (project_->ZipFileName.isEmpty())
      project_->ZipFileName = ProgramFolder() + QStringLiteral("albums.zip");
    // The archive holds every album, so every album's pictures must be known.
    for (int a = 0; a < project_->Albums.Count(); ++a) {
      TLumenfoldAlbum* album = project_->Albums.Albums(a);
      if (!album->Loaded && album->Id != -1 && !album->LoadPictures())
        throw TZipError(QStringLiteral("The pictures of the album \"%1\" cannot be read.")
                            .arg(album->ShortName));
    }
    // The packed database holds what the user sees: unsaved changes are written first, here on
    // the thread that owns the model.
    if (project_->ZipDatabase && !project_->SaveAlbums())
      throw TZipError(QStringLiteral("The changes of the albums and pictures cannot be written "
                                     "to the database, so it cannot be packed."));
    // The previous archive is copied ahead from now on; the run gives that up when it renders
    // many pictures.
    openArchive(true);
  }
}

void TProcessThread::openArchive(bool copyAhead) {
  const QString path = ResolveZipFileName(*project_, project_->ZipFileName);
  // Only the project's own archive is ever replaced.
  if (const QString foreign = ForeignArchiveReason(*project_, path); !foreign.isEmpty())
    throw TZipError(foreign);
  archive_ = std::make_unique<TArchiveBuilder>(path, copyAhead);
}

TProcessThread::~TProcessThread() {
  if (isRunning()) {
    RequestStop();
    wait();
  }
  archive_.reset();
  if (!snapshotPath_.isEmpty()) QFile::remove(snapshotPath_);
}

void TProcessThread::PauseRun() {
  paused_.store(true);
}

void TProcessThread::ResumeRun() {
  QMutexLocker lock(&mutex_);
  paused_.store(false);
  wake_.wakeAll();
}

void TProcessThread::RequestStop() {
  QMutexLocker lock(&mutex_);
  stopRequested_.store(true);
  wake_.wakeAll();
}

QString TProcessThread::Reason() const {
  QMutexLocker lock(&mutex_);
  return reason_;
}

QString TProcessThread::StoppedReason() {
  return QStringLiteral("The run was stopped by the user.");
}

TProcessReport TProcessThread::Report() const {
  QMutexLocker lock(&mutex_);
  return finalReport_;
}

QString TProcessThread::ClosingMessage() const {
  if (Completed()) {
    QStringList lines{ProcessFinishedText()};
    lines += Report().Lines();
    return lines.join(QLatin1Char('\n'));
  }
  const QString reason = Reason();
  return reason.isEmpty() ? ProcessTerminatedText()
                          : ProcessTerminatedText() + QLatin1Char('\n') + reason;
}

void TProcessThread::post(qintptr number, int stage) {
  partStage_ = stage;
  partShown_ = 0;
  PostMessage(progressWindow_, LF_MSG_PROGRESS, number, stage);
  if (AfterStage) AfterStage(stage);
}

void TProcessThread::postPart(qint64 done, qint64 total, int stage) {
  // Only for the stage last reported, and only when the thousandths rise by a whole percent
  // (or reach the end): a receiver sees a bar that moves forward, and is not woken for every
  // entry of an archive of thousands.
  if (stage != partStage_ || total <= 0) return;
  const int part = int(std::clamp<qint64>(done * 1000 / total, 0, 1000));
  if (part <= partShown_ || (part < partShown_ + kPartStep && part < 1000)) return;
  partShown_ = part;
  PostMessage(progressWindow_, LF_MSG_PROGRESS_PART, part, stage);
}

void TProcessThread::checkStop() {
  if (stopRequested_.load()) {
    stopRequested_.store(false);
    throw TStopped();
  }
}

bool TProcessThread::published(const TLumenfoldPicture* picture) const {
  return picture && !picture->IsDeleted;
}

bool TProcessThread::packs(const TLumenfoldPicture* picture, bool original) const {
  return published(picture) &&
         site_->PacksFile(*picture, original ? TPictureFile::Original : TPictureFile::Generated);
}

bool TProcessThread::waitWhilePaused() {
  QMutexLocker lock(&mutex_);
  for (;;) {
    if (stopRequested_.load()) {
      stopRequested_.store(false);
      return false;
    }
    if (!paused_.load()) return true;
    wake_.wait(&mutex_, 200);
  }
}

void TProcessThread::run() {
  TRunPrompt prompt;
  runPrompt = &prompt;
  completed_.store(false);
  QString reason;
  if (refusal_.isEmpty()) refusal_ = ValidateOutputPaths(*project_, WorkList);
  if (!refusal_.isEmpty()) {
    reason = refusal_;
  } else {
    // Each worker holds a decoded original: no more workers than the memory holds.
    const qint64 maxPixels = qint64(std::max(0, project_->MaxMegapixels)) * 1000000;
    QStringList rendered;
    for (const TLumenfoldPicture* p : std::as_const(WorkList))
      if (p && !p->IsDeleted && renders(p)) rendered << p->OriginalPath();
    const int jobs =
        WorkersForMemory(Jobs > 0 ? Jobs : QThread::idealThreadCount(),
                         LargestDecodedBytes(rendered, maxPixels), AvailableMemoryBytes());
    jobs_ = jobs;
    report_ = TProcessReport();
    skipped_.clear();
    Pipeline pipeline(jobs, WorkList.size(),
                      RunMemoryBudget(AvailableMemoryBytes(), ResidentMemoryBytes()));
    try {
      // A run that renders a few pictures leaves most of the archive where it is: copying it
      // into the new archive's file goes on beside the pictures' work, and the archive's write
      // at the end keeps what stayed in place. A run that renders many gives the copy up.
      const bool copyAhead = rendered.size() <= kPrefillPictures;
      // A second run of the same object opens the archive again.
      if (zip_ && !archive_) openArchive(copyAhead);
      if (zip_ && !copyAhead) archive_->CancelPrefill();
      checkBeforeRun();
      bool stopped = false;
      for (int i = 0; i < WorkList.size(); ++i) {
        if (!waitWhilePaused()) {
          stopped = true;
          break;
        }
        processPicture(i, pipeline);
      }
      if (stopped) {
        reason = StoppedReason();
      } else {
        if (zip_) zipStages();
        completed_.store(true);
      }
    } catch (const TStopped&) {
      reason = StoppedReason();
    } catch (const TRunError& e) {
      reason = e.Text();
    } catch (const TZipError& e) {
      reason = e.message();
    } catch (const EImageError& e) {
      reason = e.Text();
    } catch (const std::exception& e) {
      reason = QString::fromUtf8(e.what());
    } catch (...) {
      reason = QStringLiteral("An unknown error ended the run.");
    }
    if (!completed_.load() && reason.isEmpty())
      reason = QStringLiteral("An unknown error ended the run.");
  }
  // The database file is complete and unlocked once the run's connections are closed.
  CloseThreadConnections();
  ReleaseFreeHeap(); // the workers' buffers are freed with the pool
  if (!snapshotPath_.isEmpty()) {
    QFile::remove(snapshotPath_);
    snapshotPath_.clear();
  }
  runPrompt = nullptr;
  // Nothing of this run's spool stays on disk; the archive is as the last write left it.
  archive_.reset();
  {
    QMutexLocker lock(&mutex_);
    reason_ = reason;
    finalReport_ = report_;
  }
  emit RunEnded(completed_.load(), reason);
}

void TProcessThread::processPicture(int index, Pipeline& pipeline) {
  TLumenfoldProject& project = *project_;
  // Hand the pictures ahead to the workers. Only fields that stay fixed until their turn are
  // read here: path, orientation, crop, marks and signature ids.
  auto signatureOf = [&](int id) -> const TLumenfoldSignature* {
    return id == -1 ? nullptr : project.Signatures.FindById(id);
  };
  auto workFor = [&](TLumenfoldPicture* p) {
    TPictureWork work;
    work.OriginalPath = p->OriginalPath();
    work.Render = renders(p);
    work.Orientation = p->Orientation;
    const TCropRect& c = p->CropRect;
    work.Crop = c.X1 != -1 || c.Y1 != -1 || c.X2 != -1 || c.Y2 != -1;
    work.CropTopLeft = QPoint(c.X1, c.Y1);
    work.CropBottomRight = QPoint(c.X2, c.Y2);
    work.NoUpscale = project.NeverUpscale;
    work.Filter = project.ResizeMethod;
    work.Zip = zip_ && published(p);
    work.ZipOriginal =
        work.Zip && packs(p, true) &&
        !archive_->Unchanged(albumEntry(p->Album, p->OriginalFileName), work.OriginalPath);
    work.MaxPixels = qint64(std::max(0, project.MaxMegapixels)) * 1000000;
    work.Metadata = MetadataKeepFromProject(project.OutputMetadata);
    const bool enabled[kOutputKinds] = {project.LargeEnabled, project.MediumEnabled,
                                        project.ThumbEnabled};
    const QSize boxes[kOutputKinds] = {QSize(), QSize(project.MediumWidth, project.MediumHeight),
                                       QSize(project.ThumbWidth, project.ThumbHeight)};
    const int qualities[kOutputKinds] = {project.LargeQuality, project.MediumQuality,
                                         project.ThumbQuality};
    // The large image carries the medium image's signature.
    const int signatures[kOutputKinds] = {p->MediumSignatureId, p->MediumSignatureId,
                                          p->ThumbSignatureId};
    for (int k = 0; k < kOutputKinds; ++k) {
      TOutputWork& out = work.Outputs[k];
      out.Enabled = enabled[k];
      out.Box = boxes[k];
      out.Quality = qualities[k];
      out.Chroma = project.ChromaSubsampling == cs420 ? TJpegChroma::Half : TJpegChroma::Full;
      out.Signature = signatureOf(signatures[k]);
      out.SignLater = SignatureNeedsPicture(out.Signature);
    }
    return work;
  };
  // A large image that is stamped at its turn waits as a full-size bitmap: keep at most one
  // such picture per worker ahead, so memory stays bounded by the workers' count.
  auto holdsBitmap = [](const TPictureWork& w) {
    return w.Render && w.Outputs[okLarge].Enabled && w.Outputs[okLarge].SignLater;
  };
  // The picture whose turn it is goes to the workers first. A free worker then takes the
  // largest original among the pictures ahead (the nearest of similar ones), so that a huge
  // picture starts early instead of holding up the end of the run while the other workers have
  // nothing left to do. Results wait in memory for their turn; nothing is written before it.
  auto topUp = [&] {
    const int end = int(std::min<qsizetype>(WorkList.size(), index + Pipeline::kMostAhead + 1));
    std::vector<bool> skipped(size_t(end - index), false);
    // The size of the original at i, or -1 when there is none (its turn reports that).
    auto costOf = [&](int i) -> qint64 {
      auto cost = pipeline.costs.find(i);
      if (cost != pipeline.costs.end()) return cost->second;
      TLumenfoldPicture* q = WorkList[i];
      const QFileInfo file(q ? q->OriginalPath() : QString());
      if (!q || !file.isFile() ||
          !outsideLinkReason(q->Album ? q->Album->Path : file.absolutePath(), file.filePath())
               .isEmpty()) {
        pipeline.handedOut[size_t(i)] = true;
        return -1;
      }
      return pipeline.costs.emplace(i, renders(q) ? file.size() : 0).first->second;
    };
    for (;;) {
      int pick = -1;
      if (!pipeline.handedOut[size_t(index)] && costOf(index) >= 0) {
        pick = index;
      } else {
        if (!pipeline.workerFree()) return;
        qint64 best = -1;
        for (int i = index + 1; i < end; ++i) {
          if (pipeline.handedOut[size_t(i)] || skipped[size_t(i - index)]) continue;
          // Sizes within a quarter of each other count as equal: then list order decides.
          const qint64 cost = costOf(i);
          if (cost >= 0 && (pick < 0 || cost > best + best / 4)) best = cost, pick = i;
        }
      }
      if (pick < 0) return;
      TPictureWork work = workFor(WorkList[pick]);
      if (holdsBitmap(work) && pick > index) {
        int waiting = 0;
        for (const auto& [at, slot] : pipeline.pending)
          if (at >= index && holdsBitmap(slot->Work)) ++waiting;
        if (waiting >= pipeline.jobs) {
          skipped[size_t(pick - index)] = true;
          continue;
        }
      }
      pipeline.handedOut[size_t(pick)] = true;
      pipeline.costs.erase(pick);
      pipeline.submit(pick, std::move(work), pick == index ? 1 : 0);
    }
  };
  topUp();
  // The run's own database connection opens while the workers decode the first pictures.
  if (index == 0) OpenThreadConnection(CurrentConnectionString());

  TLumenfoldPicture* p = WorkList[index];
  if (!p) return;
  TLumenfoldAlbum* album = p->Album;
  const QString originalPath = p->OriginalPath();
  const QString refused = refusalOf(p);
  const QFileInfo original(originalPath);
  if (!refused.isEmpty() || !original.isFile()) {
    // Handed out while the file was there: its result is dropped (and its memory counted off).
    if (auto slot = pipeline.pending.find(index); slot != pipeline.pending.end())
      pipeline.take(slot, {});
    if (refused.isEmpty()) {
      ++report_.MissingOriginals;
      report_.MissingFiles << originalPath;
      trace(QStringLiteral("Processing warning: file \"%1\" not found ").arg(originalPath));
      return;
    }
    // Skipped with its reason; the picture stays modified and the run goes on. A link out of
    // the album is not followed, and none of the picture's files is packed.
    if (original.exists() && !original.isFile())
      ++report_.IrregularOriginals; // a device, a folder or a pipe, often behind a link
    else if (!outsideLinkReason(album ? album->Path : original.absolutePath(), originalPath)
                  .isEmpty())
      ++report_.RefusedFiles;
    else
      ++report_.RefusedOriginals;
    skipped_.insert(p);
    report_.AddReason(refused);
    trace(QStringLiteral("Processing warning: %1").arg(refused));
    return;
  }

  const qintptr number = index + 1;
  post(number, psHash);

  // The worker's result (or, for a picture whose file appeared only now, the same work here).
  // Whether the picture renders was decided when its work was made, and stays so.
  TPictureWork work;
  TPictureResult result;
  auto slot = pipeline.pending.find(index);
  if (slot != pipeline.pending.end()) {
    work = slot->second->Work;
    result = pipeline.take(slot, topUp, [&](int part) { postPart(part, 1000, psHash); });
  } else {
    work = workFor(p);
    result = ProducePicture(
        work, [&](int done, int steps) { postPart(done, steps, psHash); }, &pipeline.budget);
    pipeline.budget.ReleaseHeld(HeldBytes(result));
  }
  if (!result.ReadError.isEmpty()) {
    // Not read at all: the recorded checksum and size stay, and the picture stays modified.
    ++report_.UnreadableOriginals;
    skipped_.insert(p);
    report_.AddReason(result.ReadError);
    trace(QStringLiteral("Processing warning: %1").arg(result.ReadError));
    return;
  }
  p->OriginalHash = result.Hash;
  p->OriginalSize = result.Size;
  p->OriginalDate = DosDateTimeOfSecs(result.ModifiedSecs);

  // Output folders, created with their parents; a failure shows when the image is written.
  const QString albumPath = album ? album->Path : QFileInfo(originalPath).absolutePath();
  const bool enabled[kOutputKinds] = {project.LargeEnabled, project.MediumEnabled,
                                      project.ThumbEnabled};
  const QString folders[kOutputKinds] = {project.LargeFolder, project.MediumFolder,
                                         project.ThumbFolder};
  for (int k = 0; k < kOutputKinds; ++k)
    if (enabled[k]) QDir().mkpath(below(albumPath, folders[k]));

  // The original goes into the archive with the other files of the picture at the end; what
  // the worker compressed for it waits in the spool.
  if (zip_ && work.ZipOriginal && result.OriginalZip.Size == result.Size && result.Size >= 0)
    archive_->Spool(albumEntry(album, p->OriginalFileName), originalPath, result.OriginalZip);

  if (p->IsDeleted) return;

  const bool render = work.Render;
  if (render) {
    post(number, psLoad);
    if (!result.LoadError.isEmpty()) {
      // Skipped and counted; the picture stays modified, so a later run tries again.
      ++report_.UndecodableOriginals;
      skipped_.insert(p);
      // The user learns which file could not be used, and why.
      report_.AddReason(result.LoadError);
      trace(QStringLiteral("Processing warning: %1").arg(result.LoadError));
      return;
    }
    if (result.Damaged) {
      ++report_.DamagedOriginals;
      trace(QStringLiteral("Processing warning: file \"%1\" is truncated or damaged ")
                .arg(originalPath));
    }
    p->OriginalWidth = result.OriginalSize.width();
    p->OriginalHeight = result.OriginalSize.height();
    // The stored names follow the rule of today's settings; the files are written under them.
    p->UpdateFileNames();
  }

  const int stages[kOutputKinds] = {psLarge, psMedium, psThumb};
  const QSize boxes[kOutputKinds] = {QSize(), QSize(project.MediumWidth, project.MediumHeight),
                                     QSize(project.ThumbWidth, project.ThumbHeight)};
  const TGeneratedSize sizes[kOutputKinds] = {TGeneratedSize::Large, TGeneratedSize::Medium,
                                              TGeneratedSize::Thumb};
  for (int k = 0; k < kOutputKinds; ++k) {
    if (!enabled[k]) continue;
    post(number, stages[k]);
    if (!render) continue;
    TOutputResult& out = result.Outputs[k];
    if (!out.Error.isEmpty()) throw TRunError(out.Error);
    // The note about a picture smaller than its box, in list order.
    if (k != okLarge)
      FitIntoBoxTraced(result.PictureSize, boxes[k].width(), boxes[k].height(),
                       project.NeverUpscale, originalPath + QLatin1Char('.'));
    noteSignatureImages(work.Outputs[k].Signature);
    QByteArray bytes = out.Jpeg;
    if (!out.Bitmap.isNull()) {
      bytes = SignAndEncode(std::move(out.Bitmap), work.Outputs[k], p, OutputMetadataFor(result, k),
                            work.Metadata);
      out.Bitmap = QImage();
      if (work.Zip) out.Zip = CompressForArchive(bytes);
    }
    const QString path = p->GeneratedPath(sizes[k]);
    writeFileAtomically(path, bytes);
    const int size = bytes.size();
    if (k == okLarge)
      p->LargeSize = size;
    else if (k == okMedium)
      p->MediumSize = size;
    else
      p->ThumbSize = size;
    if (work.Zip && packs(p, false) && out.Zip.Size == size)
      archive_->Spool(albumEntry(album, p->StoredFileName(sizes[k])), path, out.Zip);
    out.Jpeg.clear();
    out.Zip = TCompressedEntry();
  }

  post(number, psDatabase);
  saveRecord(p);
  post(number, psHash);
}

QString TProcessThread::refusalOf(const TLumenfoldPicture* p) const {
  QString why = p->NameProblem();
  if (!why.isEmpty()) return why;
  const TFileRefusal refusal = CheckRegularFile(p->OriginalPath(), &why);
  if (refusal == TFileRefusal::NotRegular || refusal == TFileRefusal::OutsideFolder) return why;
  if (refusal != TFileRefusal::None || !renders(p)) return QString();
  // Every image is written through a temporary file beside it, whose name is a little longer.
  const bool enabled[kOutputKinds] = {project_->LargeEnabled, project_->MediumEnabled,
                                      project_->ThumbEnabled};
  const TGeneratedSize sizes[kOutputKinds] = {TGeneratedSize::Large, TGeneratedSize::Medium,
                                              TGeneratedSize::Thumb};
  for (int k = 0; k < kOutputKinds; ++k) {
    if (!enabled[k]) continue;
    const QFileInfo image(p->GeneratedPath(sizes[k]));
    why = FileNameLengthProblem(image.absolutePath(), image.fileName(), kTemporaryNameBytes);
    if (!why.isEmpty())
      return QStringLiteral("The picture \"%1\" is skipped: %2.").arg(p->OriginalPath(), why);
  }
  return QString();
}

bool TProcessThread::renders(const TLumenfoldPicture* p) const {
  return p && !p->IsDeleted && (processAll_ || p->NeedsProcessing());
}

void TProcessThread::noteSignatureImages(const TLumenfoldSignature* signature) {
  if (!signature) return;
  for (int i = 0; i < signature->Maps.Count(); ++i) {
    const TLumenfoldSignatureMap* map = signature->Maps.Maps(i);
    if (!map || !map->Item || map->Item->IsText()) continue;
    const QString path = map->Item->ImageName();
    if (path.isEmpty() || signatureImages_.contains(path)) continue;
    const bool usable = QFileInfo(path).isFile() && QImageReader(path).canRead();
    signatureImages_.insert(path, usable);
    if (!usable) {
      ++report_.BadSignatureImages;
      trace(QStringLiteral("Processing warning: signature image \"%1\" is missing or cannot be "
                           "read ")
                .arg(path));
    }
  }
}

void TProcessThread::saveRecord(TLumenfoldPicture* p) {
  p->SetDirty(true);
  p->SetModified(false);
  TLumenfoldAlbum* album = p->Album;
  if (runPrompt) runPrompt->takeLastError();
  bool ok = true;
  {
    TSqlTransaction transaction(CurrentConnectionString());
    if (album && album->Id == -1) {
      // The album's row first: it gives the album its id.
      album->Save();
      ok = album->Id != -1 && !album->Dirty;
    }
    if (ok && p->Dirty) ok = p->Save();
    ok = ok && !p->Dirty && transaction.Commit();
  }
  if (!ok) {
    const QString detail = runPrompt ? runPrompt->takeLastError() : QString();
    QString text = QStringLiteral("The picture \"%1\" could not be saved to the database.")
                       .arg(p->OriginalPath());
    if (!detail.isEmpty()) text += QLatin1Char(' ') + detail;
    throw TRunError(text);
  }
}

namespace {

// The template is one folder inside the templates folder, never a path leading elsewhere.
bool isTemplateFolderName(const QString& name) {
  return !name.trimmed().isEmpty() && !name.contains(QLatin1Char('/')) &&
         !name.contains(QLatin1Char('\\')) && name != QLatin1String(".") &&
         name != QLatin1String("..") && !QDir::isAbsolutePath(name) &&
         !name.contains(QLatin1Char(':'));
}

QString templatesRoot() {
  return DataFolder() + QStringLiteral("templates");
}

} // namespace

void TProcessThread::checkBeforeRun() {
  if (!zip_) return;
  // Found out before the pictures, not after all the work of a run.
  const QString name = project_->SiteTemplate;
  if (!name.isEmpty()) {
    if (!isTemplateFolderName(name))
      throw TRunError(
          QStringLiteral("The site template \"%1\" is not a template folder name.").arg(name));
    const QString folder = separated(templatesRoot()) + name;
    if (!QFileInfo(folder).isDir())
      throw TRunError(QStringLiteral("The site template \"%1\" does not exist (no folder \"%2\").")
                          .arg(name, folder));
  }
  readSiteManifest();
  // A site that reads the packed database cannot load without it.
  if (site_->Manifest().PublicStaticSite && !project_->ZipDatabase)
    throw TRunError(QStringLiteral("The site template \"%1\" reads the database from the zip "
                                   "archive, but adding the database is off (ZipDatabase), so the "
                                   "site could not load. Turn adding the database on, or choose "
                                   "another template.")
                        .arg(project_->SiteTemplate));
  // Two albums whose site folders give the same entries would overwrite each other's files.
  QHash<QString, const TLumenfoldAlbum*> folders;
  for (int a = 0; a < project_->Albums.Count(); ++a) {
    const TLumenfoldAlbum* album = project_->Albums.Albums(a);
    const QString key = ZipEntryName(album->Directory).toCaseFolded();
    if (const TLumenfoldAlbum* other = folders.value(key, nullptr))
      throw TRunError(QStringLiteral("The albums \"%1\" and \"%2\" have the same site folder "
                                     "\"%3\"; their files would overwrite each other in the zip "
                                     "archive. Give one of them another folder.")
                          .arg(other->ShortName, album->ShortName, album->Directory));
    folders.insert(key, album);
  }
}

void TProcessThread::zipStages() {
  const qintptr count = WorkList.size();
  // Compressing and writing report their bytes as parts of the stage last posted.
  archive_->Progress = [this](qint64 done, qint64 total) { postPart(done, total, partStage_); };
  post(count, psZipPictures);
  checkStop();
  wantPictures();
  archive_->CompressRemaining(jobs_);

  post(count, psZipDatabase);
  checkStop();
  if (project_->ZipDatabase) {
    QString entry;
    QString file = databaseToPack(entry);
    if (!file.isEmpty()) {
      // A public static site gets a public copy of the database and "site.json" naming it.
      QString error;
      const QString source = file;
      file = site_->DatabaseFile(source, &error);
      const QString info = file.isEmpty() ? QString() : site_->SiteInfoFile(entry, &error);
      if (file.isEmpty() || !error.isEmpty())
        throw TRunError(QStringLiteral("The database \"%1\" cannot be added to the zip archive: %2")
                            .arg(source, error));
      if (!info.isEmpty()) archive_->Want(QLatin1String(kSiteInfoName), info);
      const QString packedAs = archive_->WantedAs(entry);
      if (!packedAs.isEmpty())
        throw TRunError(QStringLiteral("The database file \"%1\" would replace \"%2\", which "
                                       "is already in the zip archive.")
                            .arg(file, packedAs));
      archive_->Want(entry, file);
    }
  }
  archive_->CompressRemaining(jobs_);

  post(count, psZipTemplate);
  checkStop();
  if (!project_->SiteTemplate.isEmpty()) wantTemplate();
  // The last stage compresses the template (its first tenth) and writes the archive.
  archive_->Progress = [this](qint64 done, qint64 total) {
    postPart(done, total * 10, psZipTemplate);
  };
  archive_->CompressRemaining(jobs_);
  checkStop();
  archive_->Progress = [this](qint64 done, qint64 total) {
    postPart(total + 9 * done, 10 * std::max<qint64>(total, 1), psZipTemplate);
  };
  archive_->BeforeEntry = BeforeArchiveEntry;
  archive_->Write();
  // The site folder follows the archive just written (sitefolder.h).
  if (const QString folder = ResolvedSiteFolder(*project_); !folder.isEmpty())
    if (const TSiteMirrorResult m = MirrorArchive(archive_->ArchivePath(), folder);
        !m.Error.isEmpty())
      throw TRunError(m.Error);
  if (!snapshotPath_.isEmpty()) {
    QFile::remove(snapshotPath_);
    snapshotPath_.clear();
  }
}

void TProcessThread::wantPictures() {
  const bool enabled[kOutputKinds] = {project_->LargeEnabled, project_->MediumEnabled,
                                      project_->ThumbEnabled};
  const TGeneratedSize sizes[kOutputKinds] = {TGeneratedSize::Large, TGeneratedSize::Medium,
                                              TGeneratedSize::Thumb};
  const QSet<const TLumenfoldPicture*> visited(WorkList.cbegin(), WorkList.cend());
  for (int a = 0; a < project_->Albums.Count(); ++a) {
    const TLumenfoldAlbum* album = project_->Albums.Albums(a);
    for (int i = 0; i < album->Pictures.Count(); ++i) {
      const TLumenfoldPicture* p = album->Pictures.Pictures(i);
      if (!published(p)) continue;
      const QString original = p->OriginalPath();
      if (!pathExists(original)) {
        // Counted at its turn when it was in the work list, here otherwise.
        keepPublished(p, visited.contains(p));
        continue;
      }
      // Only what decoded as a picture of the album goes in: never a file the link or the
      // name merely points at.
      QString refused;
      if (packs(p, true) && !skipped_.contains(p)) {
        refused = unpackableReason(album->Path, original, true);
        if (refused.isEmpty()) {
          archive_->Want(albumEntry(album, p->OriginalFileName), original);
        } else {
          ++report_.RefusedFiles;
          addReason(refused);
        }
      }
      for (int k = 0; k < kOutputKinds; ++k) {
        if (!enabled[k] || !packs(p, false)) continue;
        const QString stored = p->StoredFileName(sizes[k]);
        const QString file = below(album->Path, stored);
        if (!pathExists(file)) {
          if (!skipped_.contains(p) && refused.isEmpty()) ++report_.MissingArchiveFiles;
        } else if (const QString why = unpackableReason(album->Path, file, false); !why.isEmpty()) {
          ++report_.RefusedFiles;
          addReason(why);
        } else {
          archive_->Want(albumEntry(album, stored), file);
        }
      }
    }
  }
}

void TProcessThread::addReason(const QString& text) {
  report_.AddReason(text);
  trace(QStringLiteral("Processing warning: %1").arg(text));
}

void TProcessThread::keepPublished(const TLumenfoldPicture* p, bool counted) {
  if (!counted) {
    ++report_.MissingOriginals;
    report_.MissingFiles << p->OriginalPath();
  }
  if (!packs(p, false) && !packs(p, true)) return; // nothing of it is published
  const TLumenfoldAlbum* album = p->Album;
  const bool enabled[kOutputKinds] = {project_->LargeEnabled, project_->MediumEnabled,
                                      project_->ThumbEnabled};
  const TGeneratedSize sizes[kOutputKinds] = {TGeneratedSize::Large, TGeneratedSize::Medium,
                                              TGeneratedSize::Thumb};
  // Its images on disk, or else the ones the previous archive holds; its original as the
  // previous archive holds it.
  bool kept = false;
  for (int k = 0; k < kOutputKinds; ++k) {
    if (!enabled[k] || !packs(p, false)) continue;
    const QString stored = p->StoredFileName(sizes[k]);
    const QString file = below(album->Path, stored);
    if (pathExists(file) && unpackableReason(album->Path, file, false).isEmpty() &&
        archive_->Want(albumEntry(album, stored), file))
      kept = true;
    else if (archive_->KeepPrevious(albumEntry(album, stored)))
      kept = true;
  }
  if (packs(p, true)) archive_->KeepPrevious(albumEntry(album, p->OriginalFileName));
  // Without any image the site would show a picture that is not there.
  if (!kept) site_->LeftOutPictures.insert(p->Id);
  QString text = QStringLiteral("The original \"%1\" of a published picture was not found; ")
                     .arg(p->OriginalPath());
  if (kept)
    text += QStringLiteral("its images in the archive were kept.");
  else if (site_->Manifest().PublicStaticSite)
    text += QStringLiteral("it has no images and was left out of the site's database.");
  else
    text += QStringLiteral("it has no images in the archive.");
  addReason(text);
}

QString TProcessThread::databaseToPack(QString& entry) {
  const QString connection = project_->ConnectionString;
  const QString source = GetConnectionDataSource(connection).trimmed();
  if (source.isEmpty() || !QFileInfo(source).isFile()) return QString();
  entry = QFileInfo(source).fileName();
  QString provider = GetConnectionProvider(connection).trimmed();
  if (provider.isEmpty()) provider = kSqliteProvider;
  if (DriverForProvider(provider) != QLatin1String("QSQLITE")) return source;
  // Every change of this run is committed; closing the run's connections lets nothing stay
  // behind in a journal of this thread. A database kept in write-ahead-log mode may still hold
  // committed pages only in its log: fold them into the file, and when other connections keep
  // that from finishing, pack a complete copy instead of the file.
  CloseThreadConnections();
  const QString name = QStringLiteral("lumenfold-zip-%1").arg(QUuid::createUuid().toString());
  bool complete = true;
  QString failure;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(source);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (!db.open()) {
      failure = db.lastError().text();
    } else {
      QSqlQuery query(db);
      if (query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")) && query.next())
        complete = query.value(0).toInt() == 0;
      query.finish();
      const QFileInfo wal(source + QStringLiteral("-wal"));
      if (wal.exists() && wal.size() > 0) complete = false;
      if (!complete) {
        snapshotPath_ = QFileInfo(source).absolutePath() + QStringLiteral("/.") + entry +
                        QStringLiteral(".zip-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
        QSqlQuery vacuum(db);
        if (!vacuum.exec(QStringLiteral("VACUUM INTO '%1'").arg(QuoteSqlText(snapshotPath_))))
          failure = vacuum.lastError().text();
      }
      db.close();
    }
  }
  QSqlDatabase::removeDatabase(name);
  if (!failure.isEmpty())
    throw TRunError(QStringLiteral("The database \"%1\" cannot be added to the zip archive: %2")
                        .arg(source, failure));
  return complete ? source : snapshotPath_;
}

void TProcessThread::wantTemplate() {
  const QString name = project_->SiteTemplate;
  const QString root = templatesRoot();
  QStringList files;
  ListTemplateFiles(root, name, files);
  const QString base = separated(root) + name;
  for (const QString& file : std::as_const(files)) {
    // A template file never replaces a picture's file or the database in the archive.
    const QString packedAs = archive_->WantedAs(file);
    if (!packedAs.isEmpty())
      throw TRunError(QStringLiteral("The file \"%1\" of the site template \"%2\" would replace "
                                     "\"%3\", which is already in the zip archive. Rename the "
                                     "file in the template or the album's site folder.")
                          .arg(file, name, packedAs));
    archive_->Want(file, below(base, file));
  }
}

void TProcessThread::readSiteManifest() {
  QString error;
  if (!site_->LoadTemplate(templatesRoot(), project_->SiteTemplate, &error))
    throw TRunError(QStringLiteral("The site template \"%1\" cannot be used: %2")
                        .arg(project_->SiteTemplate, error));
}
