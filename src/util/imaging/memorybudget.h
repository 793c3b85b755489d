#pragma once
// The memory that the pictures of one run may take together. Before a worker starts a picture
// it reserves the picture's estimated peak (see EstimateOriginalMemory in imaging.h); when the
// picture is done, the reservation shrinks to what its result holds until the run takes it,
// and that part is given back then.
//
// Reservations are granted in the order they are asked for. One that does not fit waits until
// enough is given back; when no picture is being worked on any more it goes ahead whatever the
// finished results still hold (they are given back only as the run moves on, so waiting for
// them could wait for ever). A picture that needs more than the whole budget is refused.
//
// Threads: every method may be called from any thread.
#include <QtGlobal>
#include <condition_variable>
#include <mutex>

// The most memory a processing run's pictures may take together: what keeps the whole program
// within 1.5 GB, less what it holds already (residentBytes) and a margin for the run's own
// work beside the pictures; or half of the memory the system has free when that is less.
// Unknown figures (0) are left out.
qint64 RunMemoryBudget(qint64 availableBytes, qint64 residentBytes);

class TMemoryBudget {
public:
  explicit TMemoryBudget(qint64 total) : total_(total) {}
  TMemoryBudget(const TMemoryBudget&) = delete;
  TMemoryBudget& operator=(const TMemoryBudget&) = delete;

  qint64 Total() const { return total_; }
  // Waits until the bytes can be taken for a picture's work, and takes them. False (taking
  // nothing) when they are more than the whole budget.
  bool Reserve(qint64 bytes);
  // The picture's work that reserved `reserved` is done; its result keeps `held` of them.
  void Finish(qint64 reserved, qint64 held);
  // The run has taken a result that held these bytes.
  void ReleaseHeld(qint64 held);
  // Bytes reserved now, by work and by results together.
  qint64 InUse() const;
  // Reservations waiting for room now.
  int Waiting() const;

private:
  const qint64 total_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  qint64 working_ = 0; // reserved by pictures being worked on
  qint64 held_ = 0;    // kept by finished results
  quint64 nextTicket_ = 0, serving_ = 0;
};
