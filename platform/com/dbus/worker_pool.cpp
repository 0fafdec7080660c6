#include "platform/com/dbus/worker_pool.h"

#include <new>
#include <system_error>

namespace platform::com::dbus {

WorkerPool::WorkerPool(Limits limits, ThreadStarter starter) : limits_(limits), starter_(std::move(starter)) {
    if (!starter_) starter_ = [](std::function<void()> body) { return std::thread(std::move(body)); };
    threads_.reserve(limits_.maxThreads ? limits_.maxThreads : 1);
}

WorkerPool::~WorkerPool() { stop(); }

void WorkerPool::setIdleHandler(std::function<void(const QString&)> handler) {
    std::lock_guard guard(lock_);
    idleHandler_ = std::move(handler);
}

WorkerPool::Posted WorkerPool::post(const QString& caller, std::function<void()> job) {
    std::lock_guard guard(lock_);
    if (stopping_) return Posted::Stopped;
    CallerQueue& queue = callers_[caller];
    if (queue.jobs.size() >= limits_.maxQueuedPerCaller) return Posted::QueueFull;
    queue.jobs.push_back(std::move(job));
    queueTurnLocked(caller, queue);
    if (growLocked() || free_ > 0) return Posted::Queued;
    // Nobody can run it now and no thread can be started for it: the call fails, the process goes on.
    queue.jobs.pop_back();
    if (queue.jobs.empty() && queue.running == 0) callers_.remove(caller);
    return Posted::NoThread;
}

bool WorkerPool::resume(const QString& caller, std::function<void()> job) {
    std::lock_guard guard(lock_);
    if (stopped_) return false;
    CallerQueue& queue = callers_[caller];
    queue.jobs.push_front(std::move(job));
    queueTurnLocked(caller, queue);
    // The job giving its thread back is still counted running: that thread takes the work if no other can.
    growLocked();
    return true;
}

bool WorkerPool::postAlways(std::function<void()> job) {
    {
        std::lock_guard guard(lock_);
        if (stopping_) return false;
        cleanup_.push_back(std::move(job));
        growLocked();
    }
    wake_.notify_one();
    return true;
}

void WorkerPool::queueTurnLocked(const QString& caller, CallerQueue& queue) {
    // While stopping, the shares no longer matter: everything queued runs.
    if (queue.inTurn || queue.jobs.empty() || (queue.running >= limits_.callerShare && !stopping_)) return;
    queue.inTurn = true;
    turns_.push_back(caller);
    wake_.notify_one();
}

bool WorkerPool::takeLocked(std::function<void()>& job, QString& caller) {
    caller.clear();
    if (!cleanup_.empty()) {
        job = std::move(cleanup_.front());
        cleanup_.pop_front();
        return true;
    }
    while (!turns_.empty()) {
        const QString next = turns_.front();
        turns_.pop_front();
        auto it = callers_.find(next);
        if (it == callers_.end()) continue;
        it->inTurn = false;
        if (it->jobs.empty()) continue;
        job = std::move(it->jobs.front());
        it->jobs.pop_front();
        ++it->running;
        caller = next;
        // Its next call waits for the other callers' turns.
        queueTurnLocked(next, *it);
        return true;
    }
    return false;
}

bool WorkerPool::growLocked() {
    if (stopping_) return true;
    while (free_ < runnableLocked() && threads_.size() < limits_.maxThreads) {
        try {
            threads_.push_back(starter_([this] { run(); }));
        } catch (const std::system_error&) {
            return false;
        } catch (const std::bad_alloc&) {
            return false;
        }
        ++free_;
    }
    return true;
}

void WorkerPool::run() {
    std::unique_lock guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return stopping_ || runnableLocked() > 0; });
        std::function<void()> job;
        QString caller;
        if (!takeLocked(job, caller)) {
            if (!stopping_) continue;
            --free_;
            return;
        }
        --free_;
        growLocked();
        guard.unlock();
        job();
        job = nullptr;
        guard.lock();
        ++free_;
        if (caller.isEmpty()) continue;
        auto it = callers_.find(caller);
        if (it == callers_.end()) continue;
        --it->running;
        if (!it->jobs.empty()) {
            queueTurnLocked(caller, *it);
        } else if (it->running == 0) {
            callers_.erase(it);
            if (auto handler = idleHandler_) {
                guard.unlock();
                handler(caller);
                guard.lock();
            }
        }
    }
}

void WorkerPool::stop() {
    std::vector<std::thread> threads;
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
        for (auto it = callers_.begin(); it != callers_.end(); ++it) queueTurnLocked(it.key(), *it);
        threads.swap(threads_);
    }
    wake_.notify_all();
    for (std::thread& t : threads) t.join();
    // Jobs queued with no thread left to take them (none started): run them here.
    std::unique_lock guard(lock_);
    std::function<void()> job;
    QString caller;
    while (takeLocked(job, caller)) {
        guard.unlock();
        job();
        job = nullptr;
        guard.lock();
        if (auto it = callers_.find(caller); !caller.isEmpty() && it != callers_.end()) {
            --it->running;
            queueTurnLocked(caller, *it);
        }
    }
    callers_.clear();
    stopped_ = true;
}

std::size_t WorkerPool::threadCount() {
    std::lock_guard guard(lock_);
    return threads_.size();
}

std::size_t WorkerPool::pending(const QString& caller) {
    std::lock_guard guard(lock_);
    const auto it = callers_.constFind(caller);
    return it == callers_.cend() ? 0 : it->jobs.size() + it->running;
}

}  // namespace platform::com::dbus
