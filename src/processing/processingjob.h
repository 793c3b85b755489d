#pragma once
// One processing run as the desktop program and lumenfold-cli start it: the work list is built
// from the chosen mode, the archive is opened, the run thread is created, started, paused,
// stopped and, at the end, reported. The job owns its run thread; nothing outside it keeps a
// reference to the thread, so no one can touch a thread object that has gone.
//
// Progress reaches the receiver given to the constructor as posted LF_MSG_PROGRESS messages
// (first parameter the 1-based picture number, second the stage 0..8; see processthread.h).
//
// Threads: user-interface thread only (the thread that created the job). Ended is emitted on
// that thread after the run thread has finished, so a handler may destroy the job. While the run
// thread is alive the caller must not change the project (the modal progress window sees to
// that) and must stop the thumbnail loader before Start().
//
// Waiting: the run thread may ask the user a question through Prompt(), which the desktop
// answers on the user-interface thread. Never block that thread on the run: WaitForEnd() and the
// destructor keep dispatching events until the run has ended.
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class TLumenfoldPicture;
class TLumenfoldProject;
class TProcessThread;

// What to process, as the selection window or the command line chose it.
struct TProcessingRequest {
  // "all modified pictures": every modified picture of every album. Otherwise every picture of
  // the albums at AlbumPositions (0-based positions in the project's album list).
  bool AllModified = true;
  QList<int> AlbumPositions;
  // Regenerate the images of every listed picture, not only of the modified ones.
  bool ProcessAll = false;
  // Build the zip archive.
  bool Zip = false;
  // Worker threads for decoding and encoding; 0: one per core.
  int Jobs = 0;
  // How a changed original is told (OriginalStateOf): by its checksum rather than its time stamp.
  bool CompareHash = false;
};

// Pictures to visit, as the progress window collects them. All-modified mode: every picture of
// every album (project order; albums are loaded first) whose Modified is set or whose generated
// files are not current (a changed size folder, prefix or name case: NeedsProcessing).
// Otherwise every picture of the albums at the given positions (loaded first when not yet
// loaded), deleted ones included. forArchive (zip on): then every other picture of the project
// that NeedsProcessing is appended too, so that the archive, which holds every album, gets
// current files of every picture. Returns false when an album's pictures could not be loaded
// (the error has been reported).
bool FillWorkList(TLumenfoldProject& project, bool allModified, const QList<int>& albumPositions,
                  QList<TLumenfoldPicture*>& workList, bool forArchive = false);

// Moves the project's zip archive (ZipFileName) to the trash before a run that starts it anew.
// A missing file is no error; a file that is not the project's archive (archivemark.h) is never
// removed. Returns an empty text, or why the file could not be moved; noTrash, when given, is set
// when the reason is that no trash could take the file (the caller may ask to delete it).
QString RemoveZipBeforeRun(const TLumenfoldProject& project, bool* noTrash = nullptr);

// Empty when the project's archive is filtered by a site template; otherwise the warning, said
// before a run with zip, that the archive holds every picture, private ones and originals with
// their metadata included, and the whole database.
QString ArchiveWithoutTemplateWarning(const TLumenfoldProject& project);

// Lines of the closing report: the first line says how the run ended ("Processing finished
// successfully." or "Processing was terminated and finished."); counts of what the run could not
// do follow, one line each.
QStringList ProcessingReportLines(bool completed, const TProcessThread* run);

class TProcessingJob : public QObject {
  Q_OBJECT
public:
  TProcessingJob(TLumenfoldProject* project, TProcessingRequest request, QObject* progressReceiver,
                 QObject* parent = nullptr);
  // Stops a run that is still going and waits for its end, dispatching events meanwhile.
  ~TProcessingJob() override;

  // Builds the work list (loading the pictures of chosen albums that are not loaded yet), checks
  // the site template and opens the archive. Pictures whose original changed since its facts
  // were recorded are marked modified first (MarkChangedOriginals), in the chosen albums or, in
  // all-modified mode or with zip, in every album. False with Reason() set when any of it fails;
  // nothing has been processed then.
  bool Prepare();
  // Full paths of the originals of the work list, in its order (valid after Prepare).
  const QStringList& FileNames() const { return fileNames_; }
  int Count() const { return int(fileNames_.size()); }
  // The pictures whose original changed, found by Prepare; once the run has ended, those of them
  // that it made again (a changed original that could not be decoded is reported as such).
  int ChangedOriginals() const;

  // Set by Prepare when the project is as the last complete run of the same request left it
  // (idlestamp.h): the run then has nothing to do, loads no picture and ends at once.
  bool NothingToDo() const { return idle_; }
  // Records, once a completed run's changes are saved, the state in which the same request has
  // nothing to do. Only a run that had no picture to make records it (the next run of the same
  // request is then skipped); nothing is recorded for a run that left something undone or
  // unsaved, or in another mode than all modified pictures.
  void RecordIdleState();

  // Starts the prepared run.
  void Start();
  // Holds the run before its next picture (a run paused before Start holds before its first).
  void Pause();
  void Resume();
  // Ends the run before the next picture (also while paused); the zip stages are skipped.
  void RequestStop();
  bool Running() const { return started_ && !ended_; }
  bool HasEnded() const { return ended_; }
  // Set when the run visited every picture and finished its zip stages.
  bool Completed() const { return completed_; }
  // Why the job did not complete: the failure of Prepare or of the run, or the stop request.
  QString Reason() const { return reason_; }
  // The closing report (ProcessingReportLines) once the run has ended.
  QStringList ReportLines() const;

  // Dispatches events until the run has ended (returns at once when it never started).
  void WaitForEnd();

signals:
  // The run thread has finished (user-interface thread).
  void Ended(bool completed, const QString& reason);

private:
  void onFinished();
  // Loads the albums the run looks at and marks their changed originals; false when an album
  // could not be loaded.
  bool markChangedOriginals();
  // The idle stamp's request key of this request; empty when it never skips a run.
  QByteArray idleKey() const;

  TLumenfoldProject* project_;
  TProcessingRequest request_;
  QObject* progressReceiver_;
  std::unique_ptr<TProcessThread> thread_;
  QList<TLumenfoldPicture*> workList_;
  QStringList fileNames_;
  bool idle_ = false;
  qint64 runStarted_ = 0; // IdleStampClock() when Prepare began
  bool started_ = false;
  bool ended_ = false;
  bool completed_ = false;
  QList<TLumenfoldPicture*> changed_;
  QString reason_;
};
