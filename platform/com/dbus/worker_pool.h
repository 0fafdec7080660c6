#pragma once

#include <QHash>
#include <QString>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::com::dbus {

// The threads that run COM calls arriving from the bus (the multithreaded apartment), shared fairly
// among the callers. Each caller has a queue of its own, at most `maxQueuedPerCaller` long, and runs
// at most `callerShare` of its calls at once; the callers with work are served in turn, one call each,
// so a caller whose calls wait on something outside (a sink that never answers) holds its own share of
// the threads and no more, and a caller with thousands of calls queued delays another caller's call by
// one turn at most. Clean-up work (postAlways) goes before every caller. Threads are started as work
// waits and none is idle, up to `maxThreads`, whatever the number of callers. Thread-safe.
class WorkerPool {
  public:
    struct Limits {
        std::size_t maxThreads = 16;
        std::size_t callerShare = 4;
        std::size_t maxQueuedPerCaller = 256;
    };
    // Starts a thread running `body`; throws std::system_error when the system has no thread to give.
    using ThreadStarter = std::function<std::thread(std::function<void()> body)>;
    enum class Posted { Queued, QueueFull, NoThread, Stopped };

    explicit WorkerPool(Limits limits, ThreadStarter starter = {});
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Queues `job` for `caller`. Not run when the caller's queue is full, the pool has stopped, or no
    // thread is free to run it and none can be started.
    Posted post(const QString& caller, std::function<void()> job);
    // The rest of a call a job of `caller` has taken, queued first in that caller's queue whatever its
    // length, so that the other callers' turns come before it and the caller's own later calls after
    // it. False once the pool has stopped for good (the caller then runs it itself).
    bool resume(const QString& caller, std::function<void()> job);
    // Queued whatever the queues hold (clean-up work that must not be lost); false once stopped.
    bool postAlways(std::function<void()> job);
    // Told (on a worker, with no lock held) each time a caller has nothing queued or running any more.
    void setIdleHandler(std::function<void(const QString& caller)> handler);
    // Runs what is queued, then ends every thread. Never call it from a job.
    void stop();

    std::size_t threadCount();
    // The calls of `caller` queued or running now.
    std::size_t pending(const QString& caller);

  private:
    struct CallerQueue {
        std::deque<std::function<void()>> jobs;
        std::size_t running = 0;
        bool inTurn = false;  // in turns_
    };

    void run();
    // Under lock_: the next job a worker may take, with the caller it belongs to (empty for clean-up).
    bool takeLocked(std::function<void()>& job, QString& caller);
    void queueTurnLocked(const QString& caller, CallerQueue& queue);
    // Under lock_: starts threads while runnable work outnumbers the free ones; false when one was
    // needed and could not be started.
    bool growLocked();
    std::size_t runnableLocked() const { return cleanup_.size() + turns_.size(); }

    const Limits limits_;
    ThreadStarter starter_;
    std::function<void(const QString&)> idleHandler_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> cleanup_;
    QHash<QString, CallerQueue> callers_;
    std::deque<QString> turns_;  // the callers with a call they may start now, in the order they are served
    std::vector<std::thread> threads_;
    std::size_t free_ = 0;  // threads waiting for work, or started and not yet waiting
    bool stopping_ = false;
    bool stopped_ = false;  // stop() has run what was left: nothing more is taken
};

}  // namespace platform::com::dbus
