#pragma once
// The processing run: for every picture of its work list it records the original's checksum,
// size, time stamp and dimensions, writes the large, medium and thumbnail JPEGs (oriented, cropped,
// fitted, signed), updates the picture's database row and, when asked, collects the pictures, the
// database file and a site template into the zip archive, which is written by three explicit
// saves (after the pictures, after the database, after the template).
//
// The archive (TSiteArchive, processing/sitearchive.h) is derived from the project's
// state, not from the work list. It is written once, at the end of a completed run; a run that
// stops or fails leaves the archive as it was before the run.
//
// Progress goes out as posted LF_MSG_PROGRESS messages (first parameter the 1-based picture
// number, for stages 6..8 the length of the work list; second parameter the stage 0..8). Within
// a stage, LF_MSG_PROGRESS_PART messages (thousandths of the stage) follow while the run waits
// for a picture's worker (stage 0: its reading, decoding, fitting and encoding steps) and while
// the zip stages compress and write (their bytes), so that a bar never stands still for long.
//
// Decoding and encoding of the pictures after the current one run ahead on a pool of worker
// threads (TPicturePipeline; Jobs, one per core by default); the disk, the archive and the
// messages are written in list order on the run thread. The run thread only reads pictures: each
// picture's checksum, size, names and image sizes go to the thread that created this object,
// which writes them into the picture and saves its row (TRunResults) while the run waits. So
// the sequence of messages, files and rows is that of a run without workers.
//
// The object lives on the user-interface thread; a caller that wants it to free itself when the
// run ends connects QThread::finished to deleteLater.
//
// Threads: create, fill WorkList and start on the user-interface thread (lumenfold-cli: its main
// thread), which must not change the project while the run is active (the modal progress window
// sees to that) and keeps dispatching events until the run has ended (WaitForEnd). PauseRun,
// ResumeRun and RequestStop may be called from any thread. RunEnded is emitted when the run
// ends, and reaches receivers on the user-interface thread through their event loop.
#include "processing/processreport.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class TLumenfoldAlbum;
class TLumenfoldPicture;
class TLumenfoldProject;
class TPicturePipeline;
class TSiteArchive;
class TLumenfoldSignature;
class TRunResults;
struct TPictureResult;
struct TPictureWork;

class TProcessThread : public QThread {
  Q_OBJECT
public:
  // When zip is on: an empty ZipFileName becomes "albums.zip" in the program folder and is
  // stored in the project (a relative one is taken relative to the project file); every album's
  // pictures are loaded (the archive holds them all); when the database is packed, the albums
  // and pictures with unsaved changes (private and deleted marks, titles, ...) are written to it
  // first, so that the packed database is current; what an interrupted run left beside the
  // archive is removed and the existing archive is opened. Raises TZipError when the archive
  // cannot be opened, an album cannot be loaded or the changes cannot be written. Unsafe output
  // settings (see outputsettings.h) open nothing: the run then ends at once with their reason.
  TProcessThread(TLumenfoldProject* project, bool zip, bool processAll, QObject* progressWindow,
                 QObject* parent = nullptr);
  ~TProcessThread() override; // stops the run and waits for its end (WaitForEnd)

  // The pictures to visit, not owned; filled before start().
  QList<TLumenfoldPicture*> WorkList;
  // Worker threads for decoding and encoding; 0 or less: one per core.
  int Jobs = 0;

  void PauseRun();
  void ResumeRun();
  // Ends the run at the next picture boundary (also while paused); the zip stages are skipped.
  void RequestStop();
  bool Paused() const { return paused_.load(); }

  // Set when every picture was visited and the zip stages are done.
  bool Completed() const { return completed_.load(); }
  // Why a run that did not complete ended: the error's text, or that a stop was requested.
  QString Reason() const;

  static QString StoppedReason();

  // Dispatches the calling thread's events until the run has ended. The run hands each
  // picture's results to the thread that created this object and waits until they are applied
  // there: that thread never blocks on the run without dispatching (plain wait() would hold the
  // run at its first picture).
  void WaitForEnd();

  // What the run could not do (complete once RunEnded has been emitted).
  TProcessReport Report() const;
  // The closing text: ProcessFinishedText() and the report's lines, or ProcessTerminatedText()
  // and the reason.
  QString ClosingMessage() const;

  // Called on the run thread after each progress message is posted, with the stage code. Tests
  // use it to stop the run or inject a failure (an exception) at a given point.
  std::function<void(int stage)> AfterStage;
  // Called on the run thread before each entry is written into the new archive.
  std::function<void(int entryIndex)> BeforeArchiveEntry;

signals:
  // The run has ended; completed as Completed(), reason as Reason().
  void RunEnded(bool completed, const QString& reason);

protected:
  void run() override;

private:
  void processPicture(int index, TPicturePipeline& pipeline);
  void zipStages();
  void checkStop();
  // Adds a reason to the report (the first few).
  void addReason(const QString& text);
  // The picture's images are made in this run (modified, process all, or files not current).
  bool renders(const TLumenfoldPicture* picture) const;
  // The values the workers need for the picture.
  TPictureWork workFor(const TLumenfoldPicture* picture) const;
  // Why the picture must be skipped (its stored name, its original's file type, image names
  // too long for the file system); empty when it can be processed.
  QString refusalOf(const TLumenfoldPicture* picture) const;
  void noteSignatureImages(const TLumenfoldSignature* signature);
  void post(qintptr number, int stage);
  // Posts LF_MSG_PROGRESS_PART for the stage, done of total.
  void postPart(qint64 done, qint64 total, int stage);
  bool waitWhilePaused(); // false when a stop was requested
  // Writes the picture's images and files and hands its record to the owner's thread.
  void writePicture(qintptr number, TLumenfoldPicture* picture,
                    std::unique_ptr<TLumenfoldPicture>& record, const TPictureWork& work,
                    TPictureResult& result);
  // Writes (and packs) the picture's extra web sizes; moves a skipped size's old image to the
  // trash.
  void writeWebSizes(const TLumenfoldPicture* picture, const TLumenfoldPicture& record,
                     const TPictureWork& work, TPictureResult& result);
  // Hands the record over (TRunResults::HandOver); raises TRunError when the save failed.
  void handOver(TLumenfoldPicture* picture, std::unique_ptr<TLumenfoldPicture> record, bool save);

  TLumenfoldProject* project_;
  bool zip_;
  bool processAll_;
  QList<int> webSizes_; // the site template's extra web sizes, read when the run starts
  QObject* progressWindow_;
  std::unique_ptr<TSiteArchive> archive_; // the zip stages (zip on)
  // Guards reason_ and finalReport_ and is held by the run's end section (archive released,
  // reason and final report set), the destructor and the result accessors: a standard mutex,
  // so that the thread sanitizer sees that everything the run wrote comes before them (Qt's own
  // waits it cannot see). Never taken together with mutex_.
  mutable std::mutex runEnd_;
  std::unique_ptr<TRunResults> results_; // lives on the owner's thread
  int jobs_ = 1;
  TProcessReport report_; // written by the run thread, read after the end under mutex_
  TProcessReport finalReport_;
  QHash<QString, bool> signatureImages_;   // image path -> usable
  QSet<const TLumenfoldPicture*> skipped_; // undecodable in this run (counted once)
  std::atomic<bool> paused_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> completed_{false};
  mutable QMutex mutex_;
  QWaitCondition wake_;
  QString reason_;
  QString refusal_;    // why the settings do not allow a run
  int partStage_ = -1; // the stage last posted (run thread)
  int partShown_ = 0;  // thousandths of it posted so far
};
