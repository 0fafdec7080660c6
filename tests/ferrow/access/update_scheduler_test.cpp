// The update scheduler: many watches on a fixed pool, each watch's passes one at a time and in order,
// and a stop that no pass outlives.

#include "ferrow/access/update_scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using ferrow::access::UpdateScheduler;

// Bounds a wait that should end at once; never part of what a test proves.
constexpr auto kHangLimit = 10s;

// One watch's passes: counted, checked never to overlap, and the threads they ran on.
struct CountingWatch {
    std::mutex lock;
    std::condition_variable changed;
    int passes = 0;
    bool inPass = false;
    bool overlapped = false;
    std::set<std::thread::id> threads;

    UpdateScheduler::Pass pass(std::chrono::milliseconds period) {
        return [this, period]() -> std::optional<std::chrono::milliseconds> {
            {
                std::lock_guard guard(lock);
                overlapped = overlapped || inPass;
                inPass = true;
                threads.insert(std::this_thread::get_id());
            }
            std::this_thread::yield();
            std::lock_guard guard(lock);
            inPass = false;
            ++passes;
            changed.notify_all();
            return period;
        };
    }
    bool waitForPasses(int n) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, kHangLimit, [&] { return passes >= n; });
    }
    int count() {
        std::lock_guard guard(lock);
        return passes;
    }
};

// A pass that waits until released.
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;

    void enterAndWait() {
        std::unique_lock guard(lock);
        entered = true;
        changed.notify_all();
        changed.wait_for(guard, kHangLimit, [&] { return open; });
    }
    bool waitEntered() {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, kHangLimit, [&] { return entered; });
    }
    void release() {
        std::lock_guard guard(lock);
        open = true;
        changed.notify_all();
    }
};

TEST(UpdateScheduler, ManyWatchesShareAFixedPoolAndEachRunsItsPassesOneAtATime) {
    UpdateScheduler scheduler(2);
    ASSERT_EQ(scheduler.ThreadCount(), 2u);
    std::vector<std::unique_ptr<CountingWatch>> watches;
    std::vector<std::shared_ptr<UpdateScheduler::Job>> jobs;
    for (int i = 0; i < 40; ++i) {
        watches.push_back(std::make_unique<CountingWatch>());
        jobs.push_back(scheduler.Start(watches.back()->pass(0ms)));
        ASSERT_TRUE(jobs.back());
    }
    std::set<std::thread::id> used;
    for (auto& watch : watches) {
        ASSERT_TRUE(watch->waitForPasses(20));
        std::lock_guard guard(watch->lock);
        EXPECT_FALSE(watch->overlapped);
        used.insert(watch->threads.begin(), watch->threads.end());
    }
    EXPECT_LE(used.size(), 2u);  // forty watches, two threads
    for (auto& job : jobs) scheduler.Stop(job);
}

TEST(UpdateScheduler, StopWaitsForTheRunningPassAndNoPassStartsAfterIt) {
    UpdateScheduler scheduler(2);
    Gate gate;
    std::atomic<int> passes{0};
    auto job = scheduler.Start([&]() -> std::optional<std::chrono::milliseconds> {
        if (++passes == 2) gate.enterAndWait();
        return 0ms;
    });
    ASSERT_TRUE(gate.waitEntered());
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        scheduler.Stop(job);
        stopped = true;
    });
    // The stop cannot end while the pass runs; the other thread of the pool keeps serving others.
    CountingWatch other;
    auto otherJob = scheduler.Start(other.pass(0ms));
    ASSERT_TRUE(other.waitForPasses(10));
    EXPECT_FALSE(stopped);
    gate.release();
    stopper.join();
    const int atStop = passes;
    // Once the others have had many more passes, the stopped watch has had none.
    const int otherSoFar = other.count();
    ASSERT_TRUE(other.waitForPasses(otherSoFar + 20));
    EXPECT_EQ(passes, atStop);
    scheduler.Stop(otherJob);
}

TEST(UpdateScheduler, APassEndsItsJobByReturningNothingOrByStoppingIt) {
    UpdateScheduler scheduler(1);
    std::atomic<int> ended{0};
    auto byReturn = scheduler.Start([&]() -> std::optional<std::chrono::milliseconds> {
        ++ended;
        return std::nullopt;
    });
    std::shared_ptr<UpdateScheduler::Job> self;
    std::mutex selfLock;
    std::atomic<int> stoppedItself{0};
    {
        std::lock_guard guard(selfLock);
        self = scheduler.Start([&]() -> std::optional<std::chrono::milliseconds> {
            std::shared_ptr<UpdateScheduler::Job> me;
            {
                std::lock_guard guard(selfLock);
                me = self;
            }
            scheduler.Stop(me);  // from its own pass: returns at once
            ++stoppedItself;
            return 0ms;
        });
    }
    CountingWatch other;
    auto otherJob = scheduler.Start(other.pass(0ms));
    ASSERT_TRUE(other.waitForPasses(30));
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(stoppedItself, 1);
    scheduler.Stop(otherJob);
    scheduler.Stop(byReturn);  // an ended job may be stopped again
}

TEST(UpdateScheduler, AStuckPassHoldsUpOneThreadOnly) {
    UpdateScheduler scheduler(2);
    Gate gate;
    auto stuck = scheduler.Start([&]() -> std::optional<std::chrono::milliseconds> {
        gate.enterAndWait();
        return 0ms;
    });
    ASSERT_TRUE(gate.waitEntered());
    CountingWatch a;
    CountingWatch b;
    auto jobA = scheduler.Start(a.pass(1ms));
    auto jobB = scheduler.Start(b.pass(1ms));
    EXPECT_TRUE(a.waitForPasses(10));
    EXPECT_TRUE(b.waitForPasses(10));
    gate.release();
    scheduler.Stop(stuck);
    scheduler.Stop(jobA);
    scheduler.Stop(jobB);
}

}  // namespace
