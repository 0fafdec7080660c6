// A group's request pool with an owner of the test's own: the bound on its threads, the references
// they hold, and its stop, which lets go of a thread stuck in a sink and never waits for its own thread.

#include "ferrow/opc/request_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace opctest {
namespace {

using namespace std::chrono_literals;
using ferrow::opc::AsyncRequest;
using ferrow::opc::RequestPool;
using platform::com::DWORD;
using platform::com::E_FAIL;
using platform::com::S_OK;

// Counts the references the pool's threads take and serves requests that wait until the test opens.
class Owner : public RequestPool::Owner {
  public:
    void holdForRequests() override {
        std::lock_guard lock(lock_);
        ++holds;
    }
    void releaseAfterRequests() override {
        std::lock_guard lock(lock_);
        ++releases;
        changed_.notify_all();
    }
    void runRequest(AsyncRequest& request) override {
        {
            std::unique_lock lock(lock_);
            ++running;
            maxRunning = std::max(maxRunning, running);
            changed_.notify_all();
            changed_.wait(lock, [&] { return open_; });
        }
        if (inside) inside(request);
        std::lock_guard lock(lock_);
        --running;
        served.push_back(request.transactionId);
        changed_.notify_all();
    }

    void open() {
        std::lock_guard lock(lock_);
        open_ = true;
        changed_.notify_all();
    }
    // Waits, under the owner's lock, for the condition; false only when it never came.
    template <class Condition>
    bool waitFor(Condition condition) {
        std::unique_lock lock(lock_);
        return changed_.wait_for(lock, 30s, condition);
    }
    // Every thread that took a reference has let it go.
    bool threadsEnded() {
        return waitFor([&] { return releases == holds; });
    }

    // Guarded by the owner's lock (read them in waitFor, or once the threads have ended).
    int holds = 0;
    int releases = 0;
    int running = 0;
    int maxRunning = 0;
    std::vector<DWORD> served;
    // Called on the pool's thread once the request may go on.
    std::function<void(AsyncRequest&)> inside;

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool open_ = false;
};

std::unique_ptr<AsyncRequest> read1() {
    auto request = std::make_unique<AsyncRequest>();
    request->kind = AsyncRequest::Kind::Read1;
    return request;
}

TEST(RequestPool, RunsAtMostItsBoundOfThreadsAndServesEveryRequestOnce) {
    Owner owner;
    RequestPool pool(owner, 2);
    std::vector<DWORD> ids(6);
    for (DWORD& id : ids) ASSERT_EQ(pool.queue(read1(), &id), S_OK);

    ASSERT_TRUE(owner.waitFor([&] { return owner.running == 2; }));
    EXPECT_EQ(pool.threadCount(), 2u);
    // One reference per thread, not per request.
    EXPECT_TRUE(owner.waitFor([&] { return owner.holds == 2; }));

    owner.open();
    ASSERT_TRUE(owner.waitFor([&] { return owner.served.size() == ids.size(); }));
    ASSERT_TRUE(owner.threadsEnded());
    EXPECT_EQ(owner.maxRunning, 2);
    EXPECT_EQ(pool.threadCount(), 0u);
    // A version 1.0 request goes out under the ID the pool gave it, each its own.
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
    std::sort(owner.served.begin(), owner.served.end());
    EXPECT_EQ(owner.served, ids);
    EXPECT_TRUE(pool.stop(30s));
}

TEST(RequestPool, StopLetsGoOfAThreadStuckInASinkAndDiscardsTheQueue) {
    Owner owner;
    RequestPool pool(owner, 1);
    DWORD id = 0;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(pool.queue(read1(), &id), S_OK);
    ASSERT_TRUE(owner.waitFor([&] { return owner.running == 1; }));

    // The stuck thread is not waited for beyond the limit.
    EXPECT_FALSE(pool.stop(1ms));
    EXPECT_EQ(pool.queue(read1(), &id), E_FAIL);

    // Let go, the thread still ends by itself, with its reference, serving none of the discarded requests.
    owner.open();
    ASSERT_TRUE(owner.threadsEnded());
    EXPECT_EQ(owner.holds, 1);
    EXPECT_EQ(owner.served.size(), 1u);
}

TEST(RequestPool, StopOnOneOfItsOwnThreadsDoesNotWaitForThatThread) {
    // A sink that cuts its group off tears the group down on the request thread it was called on.
    Owner owner;
    RequestPool pool(owner, 2);
    std::optional<bool> allEnded;
    owner.inside = [&](AsyncRequest&) { allEnded = pool.stop(30s); };
    owner.open();
    DWORD id = 0;
    ASSERT_EQ(pool.queue(read1(), &id), S_OK);
    ASSERT_TRUE(owner.waitFor([&] { return owner.releases == 1; }));
    EXPECT_EQ(allEnded, true);
    EXPECT_EQ(owner.served.size(), 1u);
}

}  // namespace
}  // namespace opctest
