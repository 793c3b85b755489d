#pragma once
// TThumbnailThread: the background loader of list previews for one album.
//
// For each picture of the album it checks the original against its recorded date, size and
// checksum, reuses the 160 x 120 preview kept in the album's "ps_tmp" folder when the original is
// unchanged, and otherwise makes the preview again from the original (nearest filter, never
// upscaled), records the original's size and marks the picture modified. Rows a view asks for
// get the preview of the size its tiles need (a preview step, core/previewcache.h), made when
// its file is missing. Several workers (this thread and the pool's) take one picture each; a
// JPEG is decoded at a reduced DCT scale, other formats within the project's pixel limit and a
// memory budget (a picture beyond them gets no preview, and its PreviewError says why). A picture
// whose original is not there loses its preview and gets OriginalMissing set (cleared once it is
// back). Each preview it attaches or drops is announced by message LF_MSG_THUMBNAIL (first
// parameter the picture's position, second the picture) posted to the view and to the owner.
//
// Memory: previews stay on disk; the loader attaches a bitmap only to the pictures asked for
// (Request: the rows a view shows, served before the walk goes on) and, during its walk, while
// PreviewCache() has room. Every other picture is only checked (and its file remade when needed).
//
// Threads (the rule: the worker never writes a picture):
//  - The constructor takes a snapshot of the album's pictures on the user-interface thread: for
//    each position the picture (as an identity only), its original's path and recorded date,
//    size and checksum, its preview file's path and whether it has a preview. The worker reads
//    only that snapshot and the files on disk; it never reads or writes a picture, an album or
//    the database.
//  - For each picture the worker posts its findings (the original's date, size, checksum and
//    dimensions, whether it changed, the preview bitmap) to this object, which applies them on
//    the user-interface thread: it sets the picture's original facts, dimensions, modified mark
//    and preview, saves the picture when WriteRows is on (a stored picture without unsaved
//    changes only when its original changed, and without marking the album or the project
//    unsaved: looking at pictures is no edit), and then posts LF_MSG_THUMBNAIL. A
//    finding whose picture is no longer at its position of the album, or whose original has
//    another path by now, is dropped.
//  - So the owner may edit pictures while the loader runs. It still stops the loader (Terminate,
//    then wait for Done) before it frees the album or its pictures, and before a processing run,
//    which changes pictures from its own thread.
//  - The constructor, start(), WriteRows, FreeOnEnd, SetPaused(), Terminate() and the
//    destructor belong to the user-interface thread (the thread that created the object).
//    SetPaused(), Paused(), Request(), Terminate(), TerminateRequested() and the counters are
//    safe from any thread.
//  - Done() is emitted on the user-interface thread after the worker has ended and every finding
//    has been applied; ErrorText() has been shown through Prompt() just before, from that thread
//    too.
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

class TLumenfoldAlbum;
class TLumenfoldPicture;
class TMemoryBudget;

class TThumbnailThread : public QThread {
  Q_OBJECT
public:
  // Box of the list previews; smaller originals are kept at their size.
  static constexpr int PreviewWidth = 160;
  static constexpr int PreviewHeight = 120;
  // A preview file of this many bytes or less counts as missing.
  static constexpr qint64 MinPreviewBytes = 150;
  // JPEG quality of the preview files.
  static constexpr int PreviewQuality = 90;

  // Created suspended: start() resumes it. owner and view receive LF_MSG_THUMBNAIL; either may
  // be null. The album's pictures are taken as they are now; pictures added later are not
  // visited by this loader.
  TThumbnailThread(TLumenfoldAlbum* album, QObject* owner, QObject* view);
  // Requests the end and waits for the worker when it still runs.
  ~TThumbnailThread() override;

  // Save a picture after its preview was remade (set before start()).
  bool WriteRows = true;
  // deleteLater() right after Done() (set before start()).
  bool FreeOnEnd = true;

  // Holds the worker before its next picture until cleared.
  void SetPaused(bool value);
  bool Paused() const;
  // Asks the worker to end before its next picture (at once when paused).
  void Terminate();
  bool TerminateRequested() const;
  // Asks for the previews of these pictures, at a preview step (see core/previewcache.h), before
  // the next picture of the walk. Returns those not taken (not in the snapshot, or all once the
  // worker has ended or is about to end): the caller loads them itself.
  QList<TLumenfoldPicture*> Request(const QList<TLumenfoldPicture*>& pictures, int step = 0);
  // User-interface thread: the previews a view asks for, at a step. Through the loader while it
  // runs (it may be null), otherwise read here from their files; returns the pictures that got
  // one here. lacking (optional) receives the pictures read here that still have no preview of
  // that step: no file of it exists yet, and a loader has to make it.
  static QList<TLumenfoldPicture*> LoadWanted(TThumbnailThread* loader,
                                              const QList<TLumenfoldPicture*>& pictures,
                                              int step = 0,
                                              QList<TLumenfoldPicture*>* lacking = nullptr);
  // Ends the loader that held refers to, if any, and returns once its Done() has been handled
  // (whose handler is expected to clear held) or the loader is gone; held is null afterwards.
  // Meanwhile the caller's windows keep painting and the loader's error box stays answerable;
  // user input waits.
  static void StopAndWait(QPointer<TThumbnailThread>& held);

  // Decodes an original of another format than JPEG (data: its bytes) for showing: refused with
  // a clear EImageError beyond maxPixels (0: no limit) or when its decode needs more than the
  // budget (may be null) holds; the decode's memory is reserved there meanwhile.
  static QImage DecodeOtherOriginal(const QString& path, const QByteArray& data, qint64 maxPixels,
                                    TMemoryBudget* budget);

  TLumenfoldAlbum* Album() const { return album_; }
  // Originals decoded to make a preview, previews loaded from their files, in this run.
  int DecodedCount() const { return decoded_.load(); }
  int ReusedCount() const { return reused_.load(); }
  // Pictures visited so far (including pictures whose original is missing).
  int VisitedCount() const { return visited_.load(); }
  // True after the worker went through every picture (not terminated, not ended by an error).
  // A picture whose preview cannot be made (an original that cannot be read or decoded) does
  // not end it: the picture gets no preview and its PreviewError says why.
  bool Completed() const { return completed_.load(); }
  // Text of the error that ended the worker, or the reason of the one picture without a preview
  // (with the count when more lack one); empty when none. Valid once Done() was emitted.
  QString ErrorText() const;

signals:
  // The worker has ended (user-interface thread).
  void Done(TThumbnailThread* thread);

protected:
  void run() override;
  bool event(QEvent* e) override;

private:
  struct Snapshot;
  struct Finding;
  struct Walk;
  struct Wanted {
    int Position;
    int Step;
  };
  class FindingEvent;
  void handleFinished();
  // Waits while paused; false when the worker must end.
  bool waitWhilePaused();
  // One worker of the walk (several run at once); ends at the walk's end or when asked to.
  void work(Walk& walk);
  // Worker: what the files say about one picture, and its preview file of the step made when
  // it is missing. requested: a view asks for it (attached when its file is current or
  // remade). checkOriginal: first visit, the original is compared with its recorded facts.
  Finding examine(const Snapshot& picture, bool requested, int step, bool checkOriginal);
  // User-interface thread: puts a finding into its picture.
  void apply(const Finding& finding);
  void announce(int position, TLumenfoldPicture* picture);
  // User-interface thread: writes the rows of the pictures applied since the last batch.
  void writeRows();

  TLumenfoldAlbum* album_;
  QString albumPath_;
  std::vector<Snapshot> snapshot_;
  QHash<const TLumenfoldPicture*, int> positions_; // read-only once constructed
  QPointer<QObject> owner_;
  QPointer<QObject> view_;
  // Standard locks, whose order a ThreadSanitizer build can see.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool paused_ = false;
  bool closed_ = false;         // no more requests are taken
  std::deque<Wanted> requests_; // positions asked for, newest first
  std::vector<char> queued_;    // per position: in requests_
  std::atomic<bool> terminate_{false};
  std::atomic<int> decoded_{0};
  std::atomic<int> reused_{0};
  std::atomic<int> visited_{0};
  std::atomic<bool> completed_{false};
  QString error_;
  struct Unsaved {
    int Position;
    TLumenfoldPicture* Picture;
    bool Changed;
  };
  std::vector<Unsaved> unsaved_; // user-interface thread: rows to write in the next batch
  QTimer rowTimer_;
  qint64 maxPixels_ = 0;            // the project's pixel limit (0: none)
  TMemoryBudget* budget_ = nullptr; // while the workers run
};
