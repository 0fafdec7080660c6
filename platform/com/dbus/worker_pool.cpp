#include "platform/com/dbus/worker_pool.h"

namespace platform::com::dbus {

WorkerPool::WorkerPool(std::size_t maxThreads, std::size_t maxQueued)
    : maxThreads_(maxThreads ? maxThreads : 1), maxQueued_(maxQueued) {}

WorkerPool::~WorkerPool() { stop(); }

bool WorkerPool::post(std::function<void()> job) { return enqueue(std::move(job), true); }

bool WorkerPool::postAlways(std::function<void()> job) { return enqueue(std::move(job), false); }

bool WorkerPool::enqueue(std::function<void()> job, bool bounded) {
    {
        std::lock_guard guard(lock_);
        if (stopping_ || (bounded && jobs_.size() >= maxQueued_)) return false;
        jobs_.push_back(std::move(job));
        if (idle_ < jobs_.size() && threads_.size() < maxThreads_) threads_.emplace_back(&WorkerPool::run, this);
    }
    wake_.notify_one();
    return true;
}

void WorkerPool::run() {
    std::unique_lock guard(lock_);
    for (;;) {
        ++idle_;
        wake_.wait(guard, [this] { return stopping_ || !jobs_.empty(); });
        --idle_;
        if (jobs_.empty()) return;  // stopping, nothing left
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        guard.unlock();
        job();
        job = nullptr;
        guard.lock();
    }
}

void WorkerPool::stop() {
    std::vector<std::thread> threads;
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
        threads.swap(threads_);
    }
    wake_.notify_all();
    for (std::thread& t : threads) t.join();
    // Jobs queued with no thread left to take them (none started): run them here.
    std::deque<std::function<void()>> left;
    {
        std::lock_guard guard(lock_);
        left.swap(jobs_);
    }
    for (auto& job : left) job();
}

std::size_t WorkerPool::threadCount() {
    std::lock_guard guard(lock_);
    return threads_.size();
}

}  // namespace platform::com::dbus
