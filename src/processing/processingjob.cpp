#include "processing/processingjob.h"

#include "core/outputsettings.h"

#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/syncops.h"
#include "processing/archive/archivebuilder.h"
#include "processing/archive/archivemark.h"
#include "processing/idlestamp.h"
#include "processing/processthread.h"
#include "processing/publicsite.h"
#include "util/durablefiles.h"
#include "util/helpers.h"
#include "util/lumenfolderror.h"
#include "util/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTimer>
#include <algorithm>

namespace {

// Changes of the model not yet in the project file or the database.
bool hasUnsavedChanges(const TLumenfoldProject& project) {
  if (project.Modified) return true;
  for (int a = 0; a < project.Albums.Count(); ++a) {
    const TLumenfoldAlbum* album = project.Albums.Albums(a);
    if (album->Dirty || album->HasUnsavedPictures()) return true;
  }
  return false;
}

} // namespace

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
  // A picture made before the site template asked for its web sizes is due for them too.
  const QList<int> webSizes =
      TemplateWebSizes(DataFolder() + QStringLiteral("templates"), project.SiteTemplate);
  auto due = [&](const TLumenfoldPicture* p) {
    return p->NeedsProcessing(&listings) ||
           (!p->IsDeleted && !WebSizesCurrent(*p, webSizes, &listings));
  };
  if (allModified) {
    // Every album: a picture whose files are not current is due even when not marked modified.
    if (!loadAll()) return false;
    for (int a = 0; a < project.Albums.Count(); ++a) {
      TLumenfoldAlbum* album = project.Albums.Albums(a);
      for (int i = 0; i < album->Pictures.Count(); ++i) {
        TLumenfoldPicture* p = album->Pictures.Pictures(i);
        if (p->Modified || due(p)) workList.append(p);
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
        if (!listed.contains(p) && due(p)) workList.append(p);
      }
    }
  }
  return true;
}

QString RemoveZipBeforeRun(const TLumenfoldProject& project, bool* noTrash) {
  if (noTrash) *noTrash = false;
  const QString path = ResolveZipFileName(project, project.ZipFileName);
  const QFileInfo info(path);
  if (path.isEmpty() || (!info.exists() && !info.isSymLink())) return QString();
  // Only a zip archive is removed: a setting that names the database, an original or any
  // other file of the user's never costs that file.
  if (!info.isFile() || !IsZipArchiveFile(path))
    return QStringLiteral("\"%1\" is not a zip archive; it is not removed.").arg(path);
  if (const QString foreign = ForeignArchiveReason(project, path); !foreign.isEmpty())
    return foreign;
  QString reason;
  if (!MoveToTrash(path, &reason)) {
    if (noTrash) *noTrash = true;
    return QStringLiteral("The zip file \"%1\" could not be moved to the trash (%2); it was left "
                          "as it is. Remove it yourself, or run without removing it.")
        .arg(path, reason);
  }
  return QString();
}

QString ArchiveWithoutTemplateWarning(const TLumenfoldProject& project) {
  if (!project.SiteTemplate.trimmed().isEmpty()) return QString();
  return QStringLiteral("No site template is chosen: the zip archive will hold every picture, "
                        "private ones and the private albums included, their originals with all "
                        "their metadata (such as GPS position and camera serial number), and the "
                        "whole database with the albums' local folders.");
}

QStringList ProcessingReportLines(bool completed, const TProcessThread* run) {
  QStringList lines;
  lines << (completed ? ProcessFinishedText() : ProcessTerminatedText());
  // What the run could not do follows, one line per count, then the skipped files' reasons.
  if (run) lines += run->Report().Lines();
  return lines;
}

TProcessingJob::TProcessingJob(TLumenfoldProject* project, TProcessingRequest request,
                               QObject* progressReceiver, QObject* parent)
    : QObject(parent), project_(project), request_(std::move(request)),
      progressReceiver_(progressReceiver) {}

TProcessingJob::~TProcessingJob() {
  if (!thread_) return;
  disconnect(thread_.get(), nullptr, this, nullptr);
  if (thread_->isRunning()) {
    thread_->RequestStop();
    thread_->ResumeRun();
    // A run thread waiting for an answer of the user-interface thread gets it meanwhile.
    while (!thread_->wait(20))
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
  }
  thread_.reset();
}

bool TProcessingJob::Prepare() {
  runStarted_ = IdleStampClock(); // before the run looks at any file
  workList_.clear();
  fileNames_.clear();
  reason_.clear();
  if (request_.Zip && !project_->SiteTemplate.isEmpty()) {
    const QString folder =
        DataFolder() + QStringLiteral("templates") + QDir::separator() + project_->SiteTemplate;
    if (!QFileInfo(folder).isDir()) {
      reason_ =
          QStringLiteral("The site template \"%1\" does not exist: there is no folder \"%2\".")
              .arg(project_->SiteTemplate, folder);
      return false;
    }
  }
  // A project as the last complete run of this request left it has nothing to do; any other
  // run first removes that record, so that a run that stops leaves none.
  idle_ = false;
  const QByteArray key = idleKey();
  if (!key.isEmpty() && !hasUnsavedChanges(*project_) && IdleStampHolds(project_->FileName, key)) {
    idle_ = true;
    return true;
  }
  RemoveIdleStamp(project_->FileName);
  // The run's object first: with zip on it opens the archive, and the previous archive is
  // copied ahead while the work list is made.
  try {
    thread_ = std::make_unique<TProcessThread>(project_, request_.Zip, request_.ProcessAll,
                                               progressReceiver_);
  } catch (const std::exception& e) {
    reason_ = TextOf(e);
    return false;
  }
  if (!markChangedOriginals() || !FillWorkList(*project_, request_.AllModified,
                                               request_.AlbumPositions, workList_, request_.Zip)) {
    reason_ = QStringLiteral("The pictures of the chosen albums could not be read.");
    thread_.reset();
    return false;
  }
  for (TLumenfoldPicture* p : std::as_const(workList_))
    fileNames_ << (p ? p->OriginalPath() : QString());
  thread_->WorkList = workList_;
  thread_->Jobs = request_.Jobs;
  connect(thread_.get(), &QThread::finished, this, &TProcessingJob::onFinished,
          Qt::QueuedConnection);
  return true;
}

int TProcessingJob::ChangedOriginals() const {
  if (!ended_) return int(changed_.size());
  return int(std::count_if(changed_.cbegin(), changed_.cend(),
                           [](const TLumenfoldPicture* p) { return !p->Modified; }));
}

bool TProcessingJob::markChangedOriginals() {
  changed_.clear();
  const bool every = request_.AllModified || request_.Zip;
  for (int a = 0; a < project_->Albums.Count(); ++a) {
    if (!every && !request_.AlbumPositions.contains(a)) continue;
    TLumenfoldAlbum* album = project_->Albums.Albums(a);
    if (!album->Loaded && album->Id != -1 && !album->LoadPictures()) return false;
    MarkChangedOriginals(*album, request_.CompareHash, &changed_);
  }
  return true;
}

QByteArray TProcessingJob::idleKey() const {
  if (!request_.AllModified || request_.ProcessAll || project_->FileName.isEmpty())
    return QByteArray();
  return IdleRequestKey(request_.Zip, request_.CompareHash);
}

void TProcessingJob::RecordIdleState() {
  if (idle_ || !ended_ || !completed_) return;
  const QByteArray key = idleKey();
  // A report with more than its first line names something the next run would meet again.
  // Recording looks at every file once more: it is left to runs that made no picture, so that
  // a run with new pictures costs no more, and the runs after the first one with nothing to do
  // are skipped.
  if (key.isEmpty() || !workList_.isEmpty() || ReportLines().size() != 1 ||
      hasUnsavedChanges(*project_))
    return;
  WriteIdleStamp(*project_, key, runStarted_);
}

void TProcessingJob::Start() {
  if (started_ || (!thread_ && !idle_)) return;
  started_ = true;
  if (idle_) {
    // Ended reaches its receivers from the event loop, as after a run.
    QTimer::singleShot(0, this, [this] {
      ended_ = true;
      completed_ = true;
      emit Ended(true, QString());
    });
    return;
  }
  thread_->start();
}

void TProcessingJob::Pause() {
  if (thread_ && !ended_) thread_->PauseRun();
}

void TProcessingJob::Resume() {
  if (thread_ && !ended_) thread_->ResumeRun();
}

void TProcessingJob::RequestStop() {
  if (thread_ && !ended_) thread_->RequestStop();
}

QStringList TProcessingJob::ReportLines() const {
  return ProcessingReportLines(completed_, thread_.get());
}

void TProcessingJob::WaitForEnd() {
  while (Running()) {
    QEventLoop loop;
    connect(this, &TProcessingJob::Ended, &loop, &QEventLoop::quit);
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
  }
}

void TProcessingJob::onFinished() {
  if (ended_) return;
  // finished() comes after run() has returned: the thread's results are final.
  thread_->wait();
  ended_ = true;
  completed_ = thread_->Completed();
  reason_ = completed_ ? QString() : thread_->Reason();
  emit Ended(completed_, reason_);
}
