#include "ferrow/access/update_scheduler.h"

#include <algorithm>
#include <system_error>

namespace ferrow::access {

struct UpdateScheduler::Worker {
    Queue queue;  // the due times of the jobs this worker serves
    std::condition_variable wake;
    std::size_t jobs = 0;  // jobs served, queued or running
    bool busy = false;     // in a pass
};

class UpdateScheduler::Job {
  public:
    explicit Job(Pass pass) : pass(std::move(pass)) {}

    Pass pass;  // released once the job has ended
    Worker* home = nullptr;
    Queue::iterator entry;  // valid while queued
    bool queued = false;
    bool running = false;
    bool stopped = false;
    bool ended = false;  // counted off its worker's jobs
    std::thread::id runner;

    void End() {
        if (ended) return;
        ended = true;
        --home->jobs;
    }
};

UpdateScheduler::UpdateScheduler(std::size_t threads) {
    // The threads start working once the list of workers they look through is complete.
    std::lock_guard lock(lock_);
    for (std::size_t i = 0; i < threads; ++i) workers_.push_back(std::make_unique<Worker>());
    threads_.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i) {
        Worker* worker = workers_[i].get();
        try {
            threads_.emplace_back([this, worker] { WorkerLoop(*worker); });
        } catch (const std::system_error&) {
            workers_.resize(i);  // fewer threads; with none, Start refuses
            break;
        }
    }
}

UpdateScheduler::~UpdateScheduler() {
    {
        std::lock_guard lock(lock_);
        ending_ = true;
        for (auto& worker : workers_) worker->wake.notify_one();
    }
    for (std::thread& thread : threads_) thread.join();
}

UpdateScheduler& UpdateScheduler::Shared() {
    static UpdateScheduler scheduler(kSharedThreads);
    return scheduler;
}

std::shared_ptr<UpdateScheduler::Job> UpdateScheduler::Start(Pass pass) {
    if (threads_.empty()) return nullptr;
    auto job = std::make_shared<Job>(std::move(pass));
    std::lock_guard lock(lock_);
    Worker* home = std::min_element(workers_.begin(), workers_.end(), [](const auto& a, const auto& b) {
                       return a->jobs < b->jobs;
                   })->get();
    job->home = home;
    ++home->jobs;
    Schedule(job, Clock::now());
    return job;
}

void UpdateScheduler::Schedule(const std::shared_ptr<Job>& job, Clock::time_point due) {
    Worker& home = *job->home;
    const bool earliest = home.queue.empty() || due < home.queue.begin()->first;
    job->entry = home.queue.emplace(due, job);
    job->queued = true;
    if (earliest && !home.busy) home.wake.notify_one();
}

bool UpdateScheduler::Stop(const std::shared_ptr<Job>& job, std::optional<std::chrono::milliseconds> limit) {
    if (!job) return true;
    Pass released;
    std::unique_lock lock(lock_);
    if (!job->running) job->End();
    job->stopped = true;
    if (job->queued) {
        job->home->queue.erase(job->entry);
        job->queued = false;
    }
    if (job->running && job->runner == std::this_thread::get_id()) return true;
    ++stopWaiters_;
    const auto passEnded = [&job] { return !job->running; };
    bool ended = true;
    if (limit)
        ended = passEnded_.wait_for(lock, *limit, passEnded);
    else
        passEnded_.wait(lock, passEnded);
    --stopWaiters_;
    // A pass still under way lets go of its captures itself when it returns (Run).
    if (ended) released = std::move(job->pass);
    lock.unlock();
    return ended;
}

std::shared_ptr<UpdateScheduler::Job> UpdateScheduler::TakeOverLateJob(Worker& me, Clock::time_point now) {
    for (auto& other : workers_) {
        if (other.get() == &me || !other->busy || other->queue.empty()) continue;
        if (other->queue.begin()->first + kStealAfter > now) continue;
        std::shared_ptr<Job> job = other->queue.begin()->second;
        other->queue.erase(other->queue.begin());
        job->queued = false;
        --other->jobs;
        job->home = &me;
        ++me.jobs;
        return job;
    }
    return nullptr;
}

void UpdateScheduler::WorkerLoop(Worker& me) {
    std::unique_lock lock(lock_);
    while (!ending_) {
        const Clock::time_point now = Clock::now();
        if (!me.queue.empty() && me.queue.begin()->first <= now) {
            std::shared_ptr<Job> job = me.queue.begin()->second;
            me.queue.erase(me.queue.begin());
            job->queued = false;
            Run(job, me, lock);
            continue;
        }
        if (std::shared_ptr<Job> late = TakeOverLateJob(me, now)) {
            Run(late, me, lock);
            continue;
        }
        Clock::time_point until = now + kStealAfter;
        if (!me.queue.empty()) until = std::min(until, me.queue.begin()->first);
        me.wake.wait_until(lock, until);
    }
}

void UpdateScheduler::Run(const std::shared_ptr<Job>& job, Worker& me, std::unique_lock<std::mutex>& lock) {
    job->running = true;
    job->runner = std::this_thread::get_id();
    me.busy = true;
    lock.unlock();
    const Clock::time_point began = Clock::now();
    const std::optional<std::chrono::milliseconds> next = job->pass();
    lock.lock();
    me.busy = false;
    job->running = false;
    job->runner = {};
    if (next && !job->stopped) {
        Schedule(job, began + *next);
    } else {
        job->End();
        job->stopped = true;
        // The pass's captures go now, not with the last reference to the job.
        Pass ended = std::move(job->pass);
        lock.unlock();
        ended = nullptr;
        lock.lock();
    }
    if (stopWaiters_ > 0) passEnded_.notify_all();
}

}  // namespace ferrow::access
