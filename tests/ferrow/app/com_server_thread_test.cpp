#include "ferrow/app/com_server_thread.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <vector>

#include "platform/ui/time_scale.h"

using ferrow::ComServerThread;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Records what the thread does with the server objects, and when.
struct FakeServers {
    struct Step {
        std::string what;
        Clock::time_point at;
    };
    std::mutex lock;
    std::vector<Step> steps;
    std::u16string reason;
    std::chrono::milliseconds pause{};
    std::uint32_t revokedCookie = 0;
    platform::com::HRESULT registerResult = platform::com::S_OK;
    bool allCutOff = true;

    void note(std::string what) {
        std::lock_guard guard(lock);
        steps.push_back({std::move(what), Clock::now()});
    }
    std::vector<std::string> names() {
        std::lock_guard guard(lock);
        std::vector<std::string> out;
        for (const auto& step : steps) out.push_back(step.what);
        return out;
    }
    ferrow::ComServerHooks hooks() {
        return {[this](std::uint32_t* cookie) {
                    note("register");
                    *cookie = 77;
                    return registerResult;
                },
                [this](const std::u16string& text) {
                    reason = text;
                    note("notify");
                },
                [this](std::chrono::milliseconds between) {
                    pause = between;
                    note("disconnect");
                    return allCutOff;
                },
                [this](std::uint32_t cookie) {
                    revokedCookie = cookie;
                    note("revoke");
                    return platform::com::S_OK;
                }};
    }
};

class ComServerThreadTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::setTimeScale(0.1); }
    void TearDown() override { platform::setTimeScale(1.0); }
};

}  // namespace

TEST_F(ComServerThreadTest, StopRunsTheWholeShutdownSequenceBeforeReturning) {
    FakeServers servers;
    std::promise<void> registered;
    auto hooks = servers.hooks();
    auto plainRegister = hooks.registerClassObject;
    hooks.registerClassObject = [&](std::uint32_t* cookie) {
        const auto result = plainRegister(cookie);
        registered.set_value();
        return result;
    };
    ComServerThread observed(hooks);
    observed.Start();
    ASSERT_EQ(registered.get_future().wait_for(5s), std::future_status::ready);
    EXPECT_EQ(servers.names(), std::vector<std::string>{"register"});

    const auto stopAsked = Clock::now();
    EXPECT_TRUE(observed.Stop());
    EXPECT_FALSE(observed.IsRunning());
    ASSERT_EQ(servers.names(), (std::vector<std::string>{"register", "notify", "disconnect", "revoke"}));
    EXPECT_EQ(servers.reason, u"Exiting Server");
    EXPECT_EQ(servers.pause, 10ms);
    EXPECT_EQ(servers.revokedCookie, 77u);
    // The clients get their (scaled) second between the notice and the disconnect.
    EXPECT_GE(servers.steps[2].at - servers.steps[1].at, platform::scaled(ComServerThread::kShutdownPause));
    EXPECT_GE(servers.steps[1].at, stopAsked);
}

TEST_F(ComServerThreadTest, AClassObjectThatWasNotRegisteredIsNotRevoked) {
    FakeServers servers;
    servers.registerResult = platform::com::E_FAIL;
    ComServerThread thread(servers.hooks());
    thread.Start();
    EXPECT_TRUE(thread.Stop());
    EXPECT_EQ(servers.names(), (std::vector<std::string>{"register", "notify", "disconnect"}));
}

TEST_F(ComServerThreadTest, ADisconnectionLetGoCountsAsNotFinished) {
    // The servers' job was left to its thread: the sequence ends, but the document must not go yet.
    FakeServers servers;
    servers.allCutOff = false;
    ComServerThread thread(servers.hooks());
    thread.Start();
    EXPECT_FALSE(thread.Stop());
    EXPECT_EQ(servers.names(), (std::vector<std::string>{"register", "notify", "disconnect", "revoke"}));
}

TEST_F(ComServerThreadTest, StopWithoutAThreadDoesNothing) {
    FakeServers servers;
    ComServerThread thread(servers.hooks());
    EXPECT_TRUE(thread.Stop());
    EXPECT_TRUE(servers.names().empty());
}

TEST_F(ComServerThreadTest, AStuckDisconnectDoesNotHoldTheExitForEver) {
    FakeServers servers;
    auto hooks = servers.hooks();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    auto ended = std::make_shared<std::promise<void>>();
    hooks.disconnectAndDeleteServers = [released](std::chrono::milliseconds) {
        released.wait();
        return true;
    };
    hooks.revokeClassObject = [ended](std::uint32_t) {
        ended->set_value();
        return platform::com::S_OK;
    };
    auto threadEnded = ended->get_future();
    {
        ComServerThread thread(hooks);
        thread.Start();
        const auto before = Clock::now();
        EXPECT_FALSE(thread.Stop());
        EXPECT_GE(Clock::now() - before, platform::scaled(ComServerThread::kSequenceLimit));
        EXPECT_FALSE(thread.IsRunning());
    }
    // The thread left behind still finishes its sequence once the disconnect returns.
    release.set_value();
    EXPECT_EQ(threadEnded.wait_for(10s), std::future_status::ready);
}
