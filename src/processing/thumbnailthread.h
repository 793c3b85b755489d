#pragma once
// TThumbnailThread: the background loader of list previews for one album.
//
// For each picture of the album it checks the original against its recorded date, size and
// checksum, reuses the 160 x 120 preview kept in the album's "ps_tmp" folder when the original is
// unchanged, and otherwise makes the preview again from the original (nearest filter, never
// upscaled), records the original's size and marks the picture modified. Each preview it attaches
// to a picture is announced by message LF_MSG_THUMBNAIL (first parameter the picture's position,
// second the picture) posted to the view and to the owner.
//
// Threads:
//  - The constructor, start(), WriteRows, FreeOnEnd, SetPaused(), Terminate() and the
//    destructor belong to the user-interface thread (the thread that created the object).
//  - SetPaused(), Paused(), Terminate(), TerminateRequested() and the counters are safe from any
//    thread.
//  - run() is the worker. It reads the album's picture list and writes the pictures' original
//    facts, dimensions, modified mark and preview (the preview under ThumbnailLock()), and saves
//    pictures when WriteRows is on. The owner pauses the loader around its own database work and
//    stops it (Terminate, then wait for Done) before it changes or frees the album's pictures.
//  - Done() is emitted on the user-interface thread after the worker has ended; an error that
//    ended the worker has been shown through Prompt() just before, from that thread too.
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QWaitCondition>
#include <atomic>

class TLumenfoldAlbum;
class TLumenfoldPicture;

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
  // be null.
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

  TLumenfoldAlbum* Album() const { return album_; }
  // Originals decoded to make a preview, previews loaded from their files, in this run.
  int DecodedCount() const { return decoded_.load(); }
  int ReusedCount() const { return reused_.load(); }
  // Pictures visited so far (including pictures whose original is missing).
  int VisitedCount() const { return visited_.load(); }
  // True after the worker went through every picture (not terminated, no error).
  bool Completed() const { return completed_.load(); }
  // Text of the error that ended the worker (empty when none); valid once Done() was emitted.
  QString ErrorText() const;

signals:
  // The worker has ended (user-interface thread).
  void Done(TThumbnailThread* thread);

protected:
  void run() override;
  bool event(QEvent* e) override;

private:
  void handleFinished();
  // Waits while paused; false when the worker must end.
  bool waitWhilePaused();
  void processPicture(int position, TLumenfoldPicture* picture);
  void announce(int position, TLumenfoldPicture* picture);

  TLumenfoldAlbum* album_;
  QPointer<QObject> owner_;
  QPointer<QObject> view_;
  mutable QMutex mutex_;
  QWaitCondition wake_;
  bool paused_ = false;
  std::atomic<bool> terminate_{false};
  std::atomic<int> decoded_{0};
  std::atomic<int> reused_{0};
  std::atomic<int> visited_{0};
  std::atomic<bool> completed_{false};
  QString error_;
  QString previewFolder_;
};
