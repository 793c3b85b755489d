#include "processing/processthread.h"

#include "core/album.h"
#include "core/outputsettings.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "processing/archive/archivebuilder.h"
#include "processing/archive/archivefiles.h"
#include "processing/picturepipeline.h"
#include "processing/picturework.h"
#include "processing/publicsite.h"
#include "processing/runresults.h"
#include "processing/sitearchive.h"
#include "util/imaging/imageerror.h"
#include "util/imaging/memorybudget.h"
#include "util/imaging/memorytuning.h"
#include "util/lumenfolderror.h"
#include "util/messages.h"
#include "util/programfolder.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

// Ends the run at a stop request met outside the picture loop (in the zip stages).
class TStopped : public TLumenfoldError {
public:
  TStopped() : TLumenfoldError(TProcessThread::StoppedReason()) {}
};

// Runs that render at most this many pictures copy the previous archive ahead.
constexpr int kPrefillPictures = 16;
// Progress within a stage goes out in steps of this many thousandths.
constexpr int kPartStep = 10;

// The run's report as the zip stages add to it.
class TReportFindings final : public TArchiveFindings {
public:
  explicit TReportFindings(TProcessReport& report) : report_(report) {}
  void MissingOriginal(const QString& path) override {
    ++report_.MissingOriginals;
    report_.MissingFiles << path;
  }
  void MissingFile() override { ++report_.MissingArchiveFiles; }
  void RefusedFile(const QString& reason) override {
    ++report_.RefusedFiles;
    Reason(reason);
  }
  void Reason(const QString& text) override {
    report_.AddReason(text);
    TraceQuietly(QStringLiteral("Processing warning: %1").arg(text));
  }

private:
  TProcessReport& report_;
};

} // namespace

TProcessThread::TProcessThread(TLumenfoldProject* project, bool zip, bool processAll,
                               QObject* progressWindow, QObject* parent)
    : QThread(parent), project_(project), zip_(zip), processAll_(processAll),
      progressWindow_(progressWindow), results_(std::make_unique<TRunResults>()) {
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
    archive_ = std::make_unique<TSiteArchive>(*project_);
    archive_->Open(true);
  }
}

TProcessThread::~TProcessThread() {
  if (isRunning()) {
    RequestStop();
    WaitForEnd();
  }
  // Everything the run wrote happened before it left its end section.
  const std::lock_guard<std::mutex> end(runEnd_);
  archive_.reset();
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
  const std::lock_guard<std::mutex> end(runEnd_);
  return reason_;
}

QString TProcessThread::StoppedReason() {
  return QStringLiteral("The run was stopped by the user.");
}

TProcessReport TProcessThread::Report() const {
  const std::lock_guard<std::mutex> end(runEnd_);
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
  completed_.store(false);
  QString reason;
  if (refusal_.isEmpty()) refusal_ = ValidateOutputPaths(*project_, WorkList);
  if (!refusal_.isEmpty()) {
    reason = refusal_;
  } else {
    // The extra web sizes the project's site template asks for, made whether or not this run
    // packs the site, so that a later packing run finds them; a picture without them is due.
    webSizes_ =
        TemplateWebSizes(DataFolder() + QStringLiteral("templates"), project_->SiteTemplate);
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
    // The size of the original at i, or -1 when there is none (its turn reports that).
    auto costOf = [this](int i) -> qint64 {
      const TLumenfoldPicture* q = WorkList[i];
      const QFileInfo file(q ? q->OriginalPath() : QString());
      if (!q || !file.isFile() ||
          !OutsideLinkReason(q->Album ? q->Album->Path : file.absolutePath(), file.filePath())
               .isEmpty())
        return -1;
      return renders(q) ? file.size() : 0;
    };
    TPicturePipeline pipeline(jobs, WorkList.size(),
                              RunMemoryBudget(AvailableMemoryBytes(), ResidentMemoryBytes()),
                              costOf, [this](int i) { return workFor(WorkList[i]); });
    try {
      // A run that renders a few pictures leaves most of the archive where it is: copying it
      // into the new archive's file goes on beside the pictures' work, and the archive's write
      // at the end keeps what stayed in place. A run that renders many gives the copy up.
      const bool copyAhead = rendered.size() <= kPrefillPictures;
      // A second run of the same object opens the archive again.
      if (zip_ && !archive_) {
        archive_ = std::make_unique<TSiteArchive>(*project_);
        archive_->Open(copyAhead);
      }
      if (zip_ && !copyAhead) archive_->CancelPrefill();
      if (zip_) archive_->CheckBeforeRun();
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
    } catch (const std::exception& e) {
      reason = TextOf(e);
    } catch (...) {
      reason = QStringLiteral("An unknown error ended the run.");
    }
    if (!completed_.load() && reason.isEmpty())
      reason = QStringLiteral("An unknown error ended the run.");
  }
  // The database file is complete and unlocked once the run's connections are closed.
  CloseThreadConnections();
  ReleaseFreeHeap(); // the workers' buffers are freed with the pool
  // Nothing of this run's spool or database copy stays on disk; the archive is as the last
  // write left it.
  {
    const std::lock_guard<std::mutex> end(runEnd_);
    archive_.reset();
    reason_ = reason;
    finalReport_ = report_;
  }
  emit RunEnded(completed_.load(), reason);
}

TPictureWork TProcessThread::workFor(const TLumenfoldPicture* p) const {
  // Only fields that stay fixed until the picture's turn are read here: path, orientation,
  // crop, marks and signature ids.
  const bool zip = zip_ && archive_->Published(p);
  const bool zipOriginal = zip && archive_->Packs(p, true) && !archive_->OriginalUnchanged(p);
  TPictureWork work = PictureWorkFor(*project_, *p, renders(p), zip, zipOriginal);
  work.WebSizes = webSizes_;
  return work;
}

bool TProcessThread::renders(const TLumenfoldPicture* p) const {
  return p && !p->IsDeleted &&
         (processAll_ || p->NeedsProcessing() || !WebSizesCurrent(*p, webSizes_));
}

void TProcessThread::zipStages() {
  const qintptr count = WorkList.size();
  const int stages[] = {psZipPictures, psZipDatabase, psZipTemplate};
  auto code = [&](TZipStage stage) { return stages[int(stage)]; };
  TZipStageHooks hooks;
  hooks.Post = [&](TZipStage stage) { post(count, code(stage)); };
  hooks.PostPart = [&](qint64 done, qint64 total, TZipStage stage) {
    postPart(done, total, code(stage));
  };
  hooks.CheckStop = [this] { checkStop(); };
  hooks.BeforeEntry = BeforeArchiveEntry;
  TReportFindings findings(report_);
  archive_->WriteStages(WorkList, skipped_, jobs_, findings, hooks);
}

void TProcessThread::addReason(const QString& text) {
  TReportFindings(report_).Reason(text);
}

void TProcessThread::WaitForEnd() {
  // The run waits for this thread to apply its results: keep dispatching them.
  while (!wait(20))
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}
