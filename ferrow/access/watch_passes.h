#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "ferrow/access/update_scheduler.h"

namespace ferrow::access {

// A watch's passes on the process's update scheduler, and whether the watch is still running them: its
// teardown says so first, so that a pass under way (which may be the one that started the teardown) ends
// the job instead of scheduling another. Any thread; its lock is a leaf.
class WatchPasses {
  public:
    // Schedules the passes (once: a second call does nothing); the registry they use is made first, so that
    // it outlives the scheduler's threads at exit.
    void Start(UpdateScheduler::Pass pass);
    // No pass starts after this returns; a pass under way on another thread is waited for at most
    // `limit` and then let go (it must hold what it uses itself). Called from a pass, it returns at once.
    bool Stop(std::chrono::milliseconds limit);
    // False from the start of Stop on.
    bool running();

  private:
    std::shared_ptr<UpdateScheduler::Job> job_;
    std::mutex lock_;
    bool running_ = true;  // guarded by lock_
};

// A watch's count of its delivering passes (guarded by the watch's lock), so that a pass never loses a
// change flagged while it delivers: items are flagged with the current number, a delivering pass takes
// the number and moves it on, and afterwards clears only what was flagged up to its own number
// (ItemState::Delivered).
class PassNumbers {
  public:
    // The number to flag changes with now.
    std::uint64_t current() const { return next_; }
    // The number of the pass that delivers now; changes flagged from here on carry a later one.
    std::uint64_t beginDelivery() { return next_++; }

  private:
    std::uint64_t next_ = 1;
};

}  // namespace ferrow::access
