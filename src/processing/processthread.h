#pragma once
// The processing run: for every picture of its work list it records the original's checksum,
// size and dimensions, writes the large, medium and thumbnail JPEGs (oriented, cropped, fitted,
// signed), updates the picture's database row and, when asked, collects the pictures, the
// database file and a site template into the zip archive, which is written by three explicit
// saves (after the pictures, after the database, after the template).
//
// Progress goes out as posted LF_MSG_PROGRESS messages (first parameter the 1-based picture
// number, for stages 6..8 the length of the work list; second parameter the stage 0..8).
//
// Decoding and encoding of the pictures after the current one run ahead on a pool of worker
// threads (Jobs, one per core by default); everything that touches the model, the database, the
// disk, the archive or the messages happens in list order on the run thread, so the sequence of
// messages, files and rows is that of a run without workers.
//
// The object lives on the user-interface thread; a caller that wants it to free itself when the
// run ends connects QThread::finished to deleteLater.
//
// Threads: create, fill WorkList and start on the user-interface thread, which must not change
// the project while the run is active (the modal progress window sees to that). PauseRun,
// ResumeRun and RequestStop may be called from any thread. RunEnded is emitted when the run
// ends, and reaches receivers on the user-interface thread through their event loop.
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>
#include <QWaitCondition>
#include <atomic>
#include <memory>

class TLumenfoldAlbum;
class TLumenfoldPicture;
class TLumenfoldProject;
class TSitePacking;
class TZipArchive;

// Stage codes of the progress messages.
enum TProcessStage : int {
  psHash = 0,
  psLoad = 1,
  psLarge = 2,
  psMedium = 3,
  psThumb = 4,
  psDatabase = 5,
  psZipPictures = 6,
  psZipDatabase = 7,
  psZipTemplate = 8,
};
// "getting hash and size of the file", "loading picture", ... ; empty outside 0..8.
QString ProcessStageText(int stage);

// Pictures to visit, as the progress window collects them. All-modified mode: every picture of
// every album (project order, loaded lists) whose Modified is set. Otherwise every picture of the
// albums at the given positions (loaded first when not yet loaded), deleted ones included.
// Returns false when an album's pictures could not be loaded (the error has been reported).
bool FillWorkList(TLumenfoldProject& project, bool allModified, const QList<int>& albumPositions,
                  QList<TLumenfoldPicture*>& workList);

class TProcessThread : public QThread {
  Q_OBJECT
public:
  // Opens the archive when zip is on (an empty ZipFileName becomes "albums.zip" in the program
  // folder and is stored in the project; a relative one is taken relative to the project file).
  // Raises TZipError when the archive cannot be opened. Unsafe output settings (see
  // outputsettings.h) open nothing: the run then ends at once with their reason.
  TProcessThread(TLumenfoldProject* project, bool zip, bool processAll, QObject* progressWindow,
                 QObject* parent = nullptr);
  ~TProcessThread() override; // waits for the run to end

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

signals:
  // The run has ended; completed as Completed(), reason as Reason().
  void RunEnded(bool completed, const QString& reason);

protected:
  void run() override;

private:
  struct Pipeline;
  void processPicture(int index, Pipeline& pipeline);
  void zipStages();
  void addDatabase();
  void addTemplate();
  void readSiteManifest();
  void packDatabase(const QString& file, const QString& entry);
  void post(qintptr number, int stage);
  bool waitWhilePaused(); // false when a stop was requested
  void saveRecord(TLumenfoldPicture* picture);

  TLumenfoldProject* project_;
  bool zip_;
  bool processAll_;
  QObject* progressWindow_;
  std::unique_ptr<TZipArchive> zipper_;
  std::atomic<bool> paused_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> completed_{false};
  mutable QMutex mutex_;
  QWaitCondition wake_;
  QString reason_;
  QString snapshotPath_;               // temporary copy of the database for the archive
  std::unique_ptr<TSitePacking> site_; // what the site template lets the archive hold
  QString refusal_;                    // why the settings do not allow a run
};
