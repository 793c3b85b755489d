#include "processing/processthread.h"

#include "core/album.h"
#include "core/outputsettings.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/signature.h"
#include "db/connectionstring.h"
#include "db/sqlaccess.h"
#include "db/userprompt.h"
#include "processing/archive/archivebuilder.h"
#include "processing/archive/archivefiles.h"
#include "processing/archive/sitearchive.h"
#include "processing/picturepipeline.h"
#include "processing/picturework.h"
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
#include <filesystem>

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

// Ends the run at a stop request met outside the picture loop (in the zip stages).
class TStopped : public std::exception {};

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

namespace {
// Runs that render at most this many pictures copy the previous archive ahead.
constexpr int kPrefillPictures = 16;
// Progress within a stage goes out in steps of this many thousandths.
constexpr int kPartStep = 10;

void trace(const QString& text) {
  TraceQuietly(text);
}

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
    trace(QStringLiteral("Processing warning: %1").arg(text));
  }

private:
  TProcessReport& report_;
};

} // namespace

TProcessThread::TProcessThread(TLumenfoldProject* project, bool zip, bool processAll,
                               QObject* progressWindow, QObject* parent)
    : QThread(parent), project_(project), zip_(zip), processAll_(processAll),
      progressWindow_(progressWindow) {
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
    wait();
  }
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
  runPrompt = nullptr;
  // Nothing of this run's spool or database copy stays on disk; the archive is as the last
  // write left it.
  archive_.reset();
  {
    QMutexLocker lock(&mutex_);
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
  return PictureWorkFor(*project_, *p, renders(p), zip, zipOriginal);
}

void TProcessThread::processPicture(int index, TPicturePipeline& pipeline) {
  TLumenfoldProject& project = *project_;
  // Hand the pictures ahead to the workers.
  pipeline.TopUp(index);
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
    pipeline.Drop(index);
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
    else if (!OutsideLinkReason(album ? album->Path : original.absolutePath(), originalPath)
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
  TPictureResult result =
      pipeline.Take(index, work, [&](int part) { postPart(part, 1000, psHash); });
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
    if (enabled[k]) QDir().mkpath(PathBelow(albumPath, folders[k]));

  // The original goes into the archive with the other files of the picture at the end; what
  // the worker compressed for it waits in the spool.
  if (zip_ && work.ZipOriginal && result.OriginalZip.Size == result.Size && result.Size >= 0)
    archive_->Spool(p, p->OriginalFileName, originalPath, result.OriginalZip);

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
    if (work.Zip && archive_->Packs(p, false) && out.Zip.Size == size)
      archive_->Spool(p, p->StoredFileName(sizes[k]), path, out.Zip);
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
