#pragma once
// The worker pool of a processing run and its scheduler: the pictures ahead of the current one
// are made on worker threads (ProducePicture), and the run takes each result at its turn, in
// list order. The pipeline knows list indices only; what a picture costs and what work it needs
// come from the run as functions.
//
// Scheduling: the picture whose turn it is goes to the workers first. A free worker then takes
// the largest original among the pictures ahead (the nearest of similar ones), so that a huge
// picture starts early instead of holding up the end of the run while the other workers have
// nothing left to do. Results wait in memory for their turn (within a budget); nothing is written
// before it.
//
// Threads: one owner thread (the run thread) calls everything; the workers run ProducePicture
// on the values of their TPictureWork only.
#include "processing/picturework.h"
#include "util/imaging/memorybudget.h"

#include <QThreadPool>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class TPicturePipeline {
public:
  // The size in bytes of the original at a list index (0: made without decoding), or -1 when
  // there is nothing to hand out (its turn reports why). Asked once per picture.
  using CostFunction = std::function<qint64(int index)>;
  // The values a worker needs for the picture at a list index.
  using WorkFunction = std::function<TPictureWork(int index)>;

  // jobs: worker threads; pictures: the length of the list; memory: what the pictures being made
  // and waiting may take together.
  TPicturePipeline(int jobs, qsizetype pictures, qint64 memory, CostFunction cost,
                   WorkFunction work);
  ~TPicturePipeline(); // drops the pictures not started and waits for the others
  TPicturePipeline(const TPicturePipeline&) = delete;
  TPicturePipeline& operator=(const TPicturePipeline&) = delete;

  // Hands pictures at index and ahead of it to free workers.
  void TopUp(int index);
  // The picture at index was handed to a worker and its result not taken yet.
  bool Pending(int index) const { return pending_.count(index) != 0; }
  // Takes the result of the picture at index: that of its worker when it was handed out (work
  // receives the values it was made from), else made here from work(index). While it is not
  // ready, every finished picture lets the pipeline hand out more, and every step of the
  // picture's work goes to onPart (thousandths).
  TPictureResult Take(int index, TPictureWork& work, const std::function<void(int part)>& onPart);
  // Drops the result of a handed-out picture (and counts its memory off).
  void Drop(int index);

  // Never more pictures than this ahead of the current one.
  static constexpr int kMostAhead = 64;
  // Finished results that wait for their turn may hold this much memory (encoded images are
  // small; a large image or a bitmap waiting for its caption is not).
  static constexpr qint64 kHeldBudget = qint64(64) << 20;

private:
  struct Slot {
    TPictureWork Work;
    std::future<TPictureResult> Result;
    // The worker's steps done, in thousandths of the picture's work (written under mutex).
    std::shared_ptr<std::atomic<int>> Part = std::make_shared<std::atomic<int>>(0);
  };

  // priority: the picture whose turn it is goes before the others waiting in the queue.
  void submit(int index, TPictureWork work, int priority);
  // True when a worker is free or about to be (one picture may wait in the queue, so a worker
  // that finishes while the run thread writes goes on at once), and the results waiting for
  // their turn leave room for more.
  bool workerFree();
  // topUp: hand out more while waiting.
  TPictureResult takeSlot(std::map<int, std::unique_ptr<Slot>>::iterator slot, bool topUp,
                          const std::function<void(int part)>& onPart);
  void release(qint64 bytes);
  qint64 costOf(int index);

  QThreadPool pool_;
  const int jobs_;
  const CostFunction cost_;
  const WorkFunction work_;
  std::vector<bool> handedOut_; // per list index: given to a worker, or left to its turn
  TMemoryBudget budget_;
  std::map<int, qint64> costs_; // per list index: the original's size in bytes (0: no decode)
  std::map<int, std::unique_ptr<Slot>> pending_;
  std::mutex mutex_;
  std::condition_variable done_;
  int current_ = 0;      // the index whose turn it is (for TopUp while waiting)
  int unfinished_ = 0;   // handed out, not finished
  quint64 finished_ = 0; // pictures finished so far
  qint64 held_ = 0;      // bytes held by finished results not taken yet
};
