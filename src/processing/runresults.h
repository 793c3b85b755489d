#pragma once
// The results of a processing run's pictures on their way from the run thread to the thread
// that owns the pictures (the desktop's user-interface thread, lumenfold-cli's main thread),
// which writes them into the pictures and saves their rows. The run thread only reads pictures;
// it works on a record copy of each (TLumenfoldPicture::AssignRecord) and hands the copy over.
//
// The hand-over is a queued list: HandOver appends and posts an event to this object, whose
// thread applies the list in order while its event loop runs, and the run thread waits until its
// picture has been applied. So files, rows and progress messages still follow the list, and a
// failed save ends the run at that picture with the database's own message.
//
// Threads: create on the owner's thread, which must keep dispatching events while a run is
// active (TProcessingJob::WaitForEnd, the modal progress window, TProcessThread::WaitForEnd).
// HandOver from the run thread only.
#include <QObject>
#include <QString>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

class TLumenfoldPicture;

class TRunResults : public QObject {
  Q_OBJECT
public:
  explicit TRunResults(QObject* parent = nullptr);
  ~TRunResults() override;

  // Hands the record of the picture over and waits until the owner's thread has written its
  // checksum, size, time stamp, dimensions, file names and image sizes into the picture and,
  // with save, cleared its modified mark and saved its row (and a new album's row) in one
  // transaction. Returns why the save failed, or an empty text.
  QString HandOver(TLumenfoldPicture* picture, std::unique_ptr<TLumenfoldPicture> record,
                   bool save);

signals:
  // A hand-over is waiting (emitted on the run thread, received on the owner's thread).
  void handedOver();

private:
  struct Update {
    TLumenfoldPicture* Picture = nullptr;
    std::unique_ptr<TLumenfoldPicture> Record;
    bool Save = false;
  };
  // Owner's thread: applies every update handed over so far.
  void applyAll();
  // Returns why the save failed, or an empty text.
  static QString apply(const Update& update);

  std::mutex mutex_;
  std::condition_variable applied_;
  std::vector<Update> queue_;
  quint64 handedOver_ = 0;   // updates handed over so far
  quint64 appliedCount_ = 0; // updates applied so far
  QString failure_;          // the last failed save, for the run thread
};
