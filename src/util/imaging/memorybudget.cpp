#include "util/imaging/memorybudget.h"

#include <algorithm>

namespace {
// The bound for the whole program, and what the run's work beside the pictures may take (its
// database rows, messages and the archive's bookkeeping).
constexpr qint64 kProgramBound = qint64(1500) * 1000 * 1000;
constexpr qint64 kRunMargin = qint64(32) << 20;
} // namespace

qint64 RunMemoryBudget(qint64 availableBytes, qint64 residentBytes) {
  qint64 budget = kProgramBound - kRunMargin - std::max<qint64>(residentBytes, 0);
  if (availableBytes > 0) budget = std::min(budget, availableBytes / 2);
  return std::max<qint64>(budget, 0);
}

bool TMemoryBudget::Reserve(qint64 bytes) {
  bytes = std::max<qint64>(bytes, 0);
  if (bytes > total_) return false;
  std::unique_lock lock(mutex_);
  const quint64 ticket = nextTicket_++;
  changed_.wait(lock, [&] {
    return ticket == serving_ && (working_ == 0 || working_ + held_ + bytes <= total_);
  });
  working_ += bytes;
  ++serving_;
  lock.unlock();
  changed_.notify_all();
  return true;
}

void TMemoryBudget::Finish(qint64 reserved, qint64 held) {
  {
    std::lock_guard lock(mutex_);
    working_ -= std::max<qint64>(reserved, 0);
    held_ += std::max<qint64>(held, 0);
  }
  changed_.notify_all();
}

void TMemoryBudget::ReleaseHeld(qint64 held) {
  {
    std::lock_guard lock(mutex_);
    held_ -= std::max<qint64>(held, 0);
  }
  changed_.notify_all();
}

qint64 TMemoryBudget::InUse() const {
  std::lock_guard lock(mutex_);
  return working_ + held_;
}

int TMemoryBudget::Waiting() const {
  std::lock_guard lock(mutex_);
  return int(nextTicket_ - serving_);
}
