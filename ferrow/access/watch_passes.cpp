#include "ferrow/access/watch_passes.h"

#include "ferrow/access/tag_registry.h"

namespace ferrow::access {

void WatchPasses::Start(UpdateScheduler::Pass pass) {
    if (job_) return;
    TagRegistry::Shared();
    job_ = UpdateScheduler::Shared().Start(std::move(pass));
}

bool WatchPasses::Stop(std::chrono::milliseconds limit) {
    {
        std::lock_guard lock(lock_);
        running_ = false;
    }
    return UpdateScheduler::Shared().Stop(job_, limit);
}

bool WatchPasses::running() {
    std::lock_guard lock(lock_);
    return running_;
}

}  // namespace ferrow::access
