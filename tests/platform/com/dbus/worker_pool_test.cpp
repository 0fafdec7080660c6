#include "platform/com/dbus/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace bustest {
namespace {

using platform::com::dbus::WorkerPool;
using namespace std::chrono_literals;

// A gate jobs wait at until the test opens it, and the order in which jobs ran.
class Journal {
  public:
    void gate() {
        std::unique_lock guard(lock_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(guard, [this] { return open_; });
        --waiting_;
    }
    void open() {
        std::lock_guard guard(lock_);
        open_ = true;
        changed_.notify_all();
    }
    bool waitForWaiting(int count) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, 5s, [&] { return waiting_ >= count; });
    }
    void note(const std::string& what) {
        std::lock_guard guard(lock_);
        order_.push_back(what);
        changed_.notify_all();
    }
    bool waitForNotes(std::size_t count) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, 5s, [&] { return order_.size() >= count; });
    }
    std::vector<std::string> order() {
        std::lock_guard guard(lock_);
        return order_;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool open_ = false;
    int waiting_ = 0;
    std::vector<std::string> order_;
};

TEST(WorkerPoolTest, CallersAreServedInTurnOneCallEach) {
    WorkerPool pool({.maxThreads = 1, .callerShare = 4, .maxQueuedPerCaller = 256});
    Journal journal;
    ASSERT_EQ(pool.post(QStringLiteral(":1.1"),
                        [&] {
                            journal.gate();
                            journal.note("a1");
                        }),
              WorkerPool::Posted::Queued);
    ASSERT_TRUE(journal.waitForWaiting(1));
    for (const char* name : {"a2", "a3", "a4"})
        pool.post(QStringLiteral(":1.1"), [&journal, name] { journal.note(name); });
    pool.post(QStringLiteral(":1.2"), [&] { journal.note("b1"); });
    pool.post(QStringLiteral(":1.2"), [&] { journal.note("b2"); });
    journal.open();
    ASSERT_TRUE(journal.waitForNotes(6));
    EXPECT_EQ(journal.order(), (std::vector<std::string>{"a1", "a2", "b1", "a3", "b2", "a4"}));
}

TEST(WorkerPoolTest, ACallerRunsItsShareAtMostAndOnlyItsOwnQueueOverflows) {
    WorkerPool pool({.maxThreads = 4, .callerShare = 2, .maxQueuedPerCaller = 3});
    Journal journal;
    std::atomic<int> done{0};
    const QString greedy = QStringLiteral(":1.7");
    const auto held = [&] {
        journal.gate();
        ++done;
    };
    for (int i = 0; i < 2; ++i) ASSERT_EQ(pool.post(greedy, held), WorkerPool::Posted::Queued) << i;
    ASSERT_TRUE(journal.waitForWaiting(2));
    for (int i = 0; i < 3; ++i) ASSERT_EQ(pool.post(greedy, held), WorkerPool::Posted::Queued) << i;
    // Two run, three wait: the next is refused, for this caller only.
    EXPECT_EQ(pool.post(greedy, [] {}), WorkerPool::Posted::QueueFull);
    EXPECT_EQ(pool.pending(greedy), 5u);
    ASSERT_EQ(pool.post(QStringLiteral(":1.8"), [&] { journal.note("other"); }), WorkerPool::Posted::Queued);
    EXPECT_TRUE(journal.waitForNotes(1)) << "another caller is served while the first holds its share";
    journal.open();
    pool.stop();
    EXPECT_EQ(done.load(), 5);
    EXPECT_EQ(pool.post(greedy, [] {}), WorkerPool::Posted::Stopped);
}

TEST(WorkerPoolTest, AThreadThatCannotBeStartedFailsTheCallNotTheProcess) {
    std::atomic<int> started{0};
    WorkerPool pool(
        {.maxThreads = 4, .callerShare = 4, .maxQueuedPerCaller = 256}, [&](std::function<void()> body) {
            if (started.load() >= 1)
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            ++started;
            return std::thread(std::move(body));
        });
    Journal journal;
    ASSERT_EQ(pool.post(QStringLiteral(":1.1"),
                        [&] {
                            journal.gate();
                            journal.note("held");
                        }),
              WorkerPool::Posted::Queued);
    ASSERT_TRUE(journal.waitForWaiting(1));
    // The one thread is busy and no other can be had.
    EXPECT_EQ(pool.post(QStringLiteral(":1.2"), [&] { journal.note("lost"); }), WorkerPool::Posted::NoThread);
    EXPECT_EQ(pool.pending(QStringLiteral(":1.2")), 0u);
    journal.open();
    ASSERT_TRUE(journal.waitForNotes(1));
    // Once the thread is free again (the call has ended) it serves the next call.
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (pool.pending(QStringLiteral(":1.1")) > 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(pool.post(QStringLiteral(":1.2"), [&] { journal.note("served"); }), WorkerPool::Posted::Queued);
    ASSERT_TRUE(journal.waitForNotes(2));
    EXPECT_EQ(journal.order(), (std::vector<std::string>{"held", "served"}));
    EXPECT_EQ(pool.threadCount(), 1u);
}

TEST(WorkerPoolTest, TheIdleHandlerHearsOfACallerWhoseLastCallEnded) {
    WorkerPool pool({.maxThreads = 2, .callerShare = 2, .maxQueuedPerCaller = 256});
    Journal journal;
    pool.setIdleHandler([&](const QString& caller) { journal.note("idle " + caller.toStdString()); });
    pool.post(QStringLiteral(":1.3"), [&] { journal.gate(); });
    pool.post(QStringLiteral(":1.3"), [&] { journal.gate(); });
    ASSERT_TRUE(journal.waitForWaiting(2));
    EXPECT_TRUE(journal.order().empty());
    journal.open();
    ASSERT_TRUE(journal.waitForNotes(1));
    pool.stop();
    EXPECT_EQ(journal.order(), (std::vector<std::string>{"idle :1.3"}));
}

}  // namespace
}  // namespace bustest
