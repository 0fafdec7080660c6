#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace ferrow::access {

// Runs the update passes of every watch on a fixed pool of threads: the number of threads does not depend
// on the number of watches. Each thread keeps the timer queue of the watches it serves (a new watch goes
// to the thread with the fewest), so a due pass wakes one thread and a watch's items stay in one core's
// cache. A job's passes run one at a time and in order; the next is due its period after the previous
// one began (at once when that time has passed). A pass that does not return holds up its thread; the
// other threads take over that thread's watches once their passes are kStealAfter late. Any thread.
class UpdateScheduler {
  public:
    // What a pass returns: the time from its start to the next pass, or nullopt to end the job.
    using Pass = std::function<std::optional<std::chrono::milliseconds>()>;
    class Job;

    explicit UpdateScheduler(std::size_t threads);
    // Ends the threads; jobs still scheduled never run again.
    ~UpdateScheduler();
    UpdateScheduler(const UpdateScheduler&) = delete;
    UpdateScheduler& operator=(const UpdateScheduler&) = delete;

    // The process's scheduler, whose threads start on first use.
    static UpdateScheduler& Shared();
    static constexpr std::size_t kSharedThreads = 4;

    // Schedules `pass` to run now, then again as it says. Null when the pool has no thread.
    std::shared_ptr<Job> Start(Pass pass);
    // No pass of the job starts after this returns. Waits for a pass under way on another thread, at
    // most `limit` when one is given; called from the job's own pass it returns at once (the pass ends
    // the job by returning). False when a pass was still under way at the limit: it ends by itself, and
    // its captures go on its thread, so what it uses must be kept alive by the pass itself.
    bool Stop(const std::shared_ptr<Job>& job, std::optional<std::chrono::milliseconds> limit = std::nullopt);

    std::size_t ThreadCount() const { return threads_.size(); }

    // How late a watch's pass may be, behind a pass of its thread that does not end, before another
    // thread takes the watch over; and how often a thread without a due pass looks for such watches.
    static constexpr std::chrono::milliseconds kStealAfter{100};

  private:
    using Clock = std::chrono::steady_clock;
    using Queue = std::multimap<Clock::time_point, std::shared_ptr<Job>>;
    struct Worker;

    void WorkerLoop(Worker& me);
    void Run(const std::shared_ptr<Job>& job, Worker& me, std::unique_lock<std::mutex>& lock);
    void Schedule(const std::shared_ptr<Job>& job, Clock::time_point due);
    std::shared_ptr<Job> TakeOverLateJob(Worker& me, Clock::time_point now);

    std::mutex lock_;  // guards the workers' queues and every job's state
    std::vector<std::unique_ptr<Worker>> workers_;
    std::condition_variable passEnded_;  // for Stop, while it waits for a running pass
    int stopWaiters_ = 0;
    bool ending_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace ferrow::access
