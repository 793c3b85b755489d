#include "processing/picturepipeline.h"

#include <chrono>

namespace {

// A large image that is stamped at its turn waits as a full-size bitmap.
bool holdsBitmap(const TPictureWork& w) {
  return w.Render && w.Outputs[okLarge].Enabled && w.Outputs[okLarge].SignLater;
}

} // namespace

TPicturePipeline::TPicturePipeline(int jobs, qsizetype pictures, qint64 memory, CostFunction cost,
                                   WorkFunction work)
    : jobs_(jobs), cost_(std::move(cost)), work_(std::move(work)),
      handedOut_(size_t(pictures), false), budget_(memory) {
  pool_.setMaxThreadCount(jobs);
}

TPicturePipeline::~TPicturePipeline() {
  pool_.clear(); // pictures not started yet are dropped
  pool_.waitForDone();
}

void TPicturePipeline::submit(int index, TPictureWork work, int priority) {
  auto promise = std::make_shared<std::promise<TPictureResult>>();
  auto slot = std::make_unique<Slot>();
  slot->Work = std::move(work);
  slot->Result = promise->get_future();
  {
    std::lock_guard lock(mutex_);
    ++unfinished_;
  }
  pool_.start(
      [this, promise, work = slot->Work, part = slot->Part] {
        qint64 bytes = 0;
        auto steps = [this, &part](int doneSteps, int allSteps) {
          {
            std::lock_guard lock(mutex_);
            part->store(allSteps > 0 ? doneSteps * 1000 / allSteps : 0);
          }
          done_.notify_all();
        };
        try {
          TPictureResult result = ProducePicture(work, steps, &budget_);
          bytes = HeldBytes(result);
          promise->set_value(std::move(result));
        } catch (...) {
          promise->set_exception(std::current_exception());
        }
        {
          std::lock_guard lock(mutex_);
          --unfinished_;
          ++finished_;
          held_ += bytes;
        }
        done_.notify_all();
      },
      priority);
  pending_[index] = std::move(slot);
}

bool TPicturePipeline::workerFree() {
  std::lock_guard lock(mutex_);
  return unfinished_ <= jobs_ && held_ < kHeldBudget;
}

qint64 TPicturePipeline::costOf(int i) {
  auto cost = costs_.find(i);
  if (cost != costs_.end()) return cost->second;
  const qint64 bytes = cost_(i);
  if (bytes < 0) {
    handedOut_[size_t(i)] = true;
    return -1;
  }
  return costs_.emplace(i, bytes).first->second;
}

void TPicturePipeline::TopUp(int index) {
  current_ = index;
  const int end = int(std::min<qsizetype>(qsizetype(handedOut_.size()), index + kMostAhead + 1));
  std::vector<bool> skipped(size_t(end - index), false);
  for (;;) {
    int pick = -1;
    if (!handedOut_[size_t(index)] && costOf(index) >= 0) {
      pick = index;
    } else {
      if (!workerFree()) return;
      qint64 best = -1;
      for (int i = index + 1; i < end; ++i) {
        if (handedOut_[size_t(i)] || skipped[size_t(i - index)]) continue;
        // Sizes within a quarter of each other count as equal: then list order decides.
        const qint64 cost = costOf(i);
        if (cost >= 0 && (pick < 0 || cost > best + best / 4)) best = cost, pick = i;
      }
    }
    if (pick < 0) return;
    TPictureWork work = work_(pick);
    // Keep at most one picture that waits as a bitmap per worker ahead, so memory stays
    // bounded by the workers' count.
    if (holdsBitmap(work) && pick > index) {
      int waiting = 0;
      for (const auto& [at, slot] : pending_)
        if (at >= index && holdsBitmap(slot->Work)) ++waiting;
      if (waiting >= jobs_) {
        skipped[size_t(pick - index)] = true;
        continue;
      }
    }
    handedOut_[size_t(pick)] = true;
    costs_.erase(pick);
    submit(pick, std::move(work), pick == index ? 1 : 0);
  }
}

TPictureResult TPicturePipeline::Take(int index, TPictureWork& work,
                                      const std::function<void(int part)>& onPart) {
  auto slot = pending_.find(index);
  if (slot != pending_.end()) {
    work = slot->second->Work;
    return takeSlot(slot, true, onPart);
  }
  // A picture whose file appeared only now: the same work here.
  work = work_(index);
  TPictureResult result = ProducePicture(
      work,
      [&](int done, int steps) {
        if (onPart && steps > 0)
          onPart(int(std::clamp<qint64>(qint64(done) * 1000 / steps, 0, 1000)));
      },
      &budget_);
  budget_.ReleaseHeld(HeldBytes(result));
  return result;
}

void TPicturePipeline::Drop(int index) {
  if (auto slot = pending_.find(index); slot != pending_.end()) takeSlot(slot, false, {});
}

TPictureResult TPicturePipeline::takeSlot(std::map<int, std::unique_ptr<Slot>>::iterator slot,
                                          bool topUp, const std::function<void(int part)>& onPart) {
  std::future<TPictureResult> future = std::move(slot->second->Result);
  const std::shared_ptr<std::atomic<int>> part = slot->second->Part;
  pending_.erase(slot);
  auto ready = [&] {
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  };
  int shown = -1;
  while (!ready()) {
    if (topUp) TopUp(current_);
    if (const int now = part->load(); onPart && now != shown) onPart(shown = now);
    std::unique_lock lock(mutex_);
    const quint64 seen = finished_;
    done_.wait(lock,
               [&] { return finished_ != seen || (onPart && part->load() != shown) || ready(); });
  }
  TPictureResult result;
  try {
    result = future.get();
  } catch (...) {
    release(0);
    throw;
  }
  release(HeldBytes(result));
  return result;
}

void TPicturePipeline::release(qint64 bytes) {
  budget_.ReleaseHeld(bytes);
  std::lock_guard lock(mutex_);
  held_ -= bytes;
}
