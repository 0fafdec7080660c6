#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::com::dbus {

// The threads that run COM calls arriving from the bus (the multithreaded apartment). Threads are
// started as work waits and none is idle, up to `maxThreads`; at most `maxQueued` jobs wait. Thread-safe.
class WorkerPool {
  public:
    WorkerPool(std::size_t maxThreads, std::size_t maxQueued);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // False when the queue is full or the pool has stopped; the job is then not run.
    bool post(std::function<void()> job);
    // Queued whatever the queue holds (clean-up work that must not be lost); false once stopped.
    bool postAlways(std::function<void()> job);
    // Runs what is queued, then ends every thread. Never call it from a job.
    void stop();
    std::size_t threadCount();

  private:
    bool enqueue(std::function<void()> job, bool bounded);
    void run();

    const std::size_t maxThreads_;
    const std::size_t maxQueued_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
};

}  // namespace platform::com::dbus
