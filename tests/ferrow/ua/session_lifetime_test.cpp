// Session lifetime driven with a clock of the test's own, through the core without sockets: a session
// outlives its connection until its timeout, then goes with its subscriptions and the watches they held.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <deque>
#include <limits>

#include "ferrow/ua/memory_data_source.h"
#include "ferrow/ua/server_core.h"
#include "ferrow/ua/status_codes.h"
#include "tests/ferrow/ua/endpoint_fixture.h"
#include "tests/ferrow/ua/wire_client.h"

namespace ferrow::ua {
namespace {

using namespace std::chrono_literals;

class SessionLifetimeTest : public ::testing::Test, public ConnectionSink {
  protected:
    void SetUp() override {
        source.setDevices(test::sampleDevices());
        UaServerCore::Environment environment;
        environment.findConnection = [this](std::uint64_t id) {
            return connection && id == connection->id() ? connection.get() : nullptr;
        };
        environment.post = [this](std::function<void()> fn) { posted.push_back(std::move(fn)); };
        core = std::make_unique<UaServerCore>(source, ServerInfo(), environment);
        connection = std::make_unique<UaConnection>(1, 1, *this, *core, Clock::now());
    }
    void send(std::string bytes) override { received += bytes; }
    void closeConnection() override {}

    // Sends the client's bytes and runs what the data source handed back; the replies since.
    std::vector<test::WireClient::Reply> exchange(const std::string& bytes) {
        connection->onBytes(bytes, Clock::now());
        while (!posted.empty()) {
            auto fn = std::move(posted.front());
            posted.pop_front();
            fn();
        }
        return client.read(received);
    }
    template <class Response, class Request>
    Response call(std::uint32_t typeId, Request request) {
        const auto replies = exchange(client.request(typeId, std::move(request)));
        EXPECT_EQ(replies.size(), 1u);
        return replies.empty() ? Response{} : test::WireClient::decode<Response>(replies.back());
    }
    void openSessionWithAWatch(double timeoutMs) {
        exchange(client.hello() + client.open());
        CreateSessionRequest create;
        create.requestedSessionTimeout = timeoutMs;
        client.authenticationToken =
            call<CreateSessionResponse>(id::CreateSessionRequest, create).authenticationToken;
        call<ActivateSessionResponse>(id::ActivateSessionRequest, ActivateSessionRequest());
        const auto subscription =
            call<CreateSubscriptionResponse>(id::CreateSubscriptionRequest, CreateSubscriptionRequest());
        CreateMonitoredItemsRequest monitor;
        monitor.subscriptionId = subscription.subscriptionId;
        monitor.itemsToCreate.resize(1);
        monitor.itemsToCreate[0].itemToMonitor.nodeId = NodeId::stringId(2, "Device1.Counter");
        const auto items = call<CreateMonitoredItemsResponse>(id::CreateMonitoredItemsRequest, monitor);
        ASSERT_EQ(items.results.at(0).statusCode.code, status::Good);
    }

    MemoryDataSource source;
    std::deque<std::function<void()>> posted;
    std::unique_ptr<UaServerCore> core;
    std::unique_ptr<UaConnection> connection;
    std::string received;
    test::WireClient client;
};

TEST_F(SessionLifetimeTest, sessionOutlivesItsConnectionUntilItsTimeoutThenReleasesItsWatches) {
    openSessionWithAWatch(15000);
    EXPECT_EQ(source.watchCount("Device1.Counter"), 1u);
    connection->onDisconnected();
    core->onHousekeeping(Clock::now() + 14s);
    EXPECT_EQ(core->sessionCount(), 1u);
    EXPECT_EQ(source.watchCount(), 1u);
    core->onHousekeeping(Clock::now() + 16s);
    EXPECT_EQ(core->sessionCount(), 0u);
    EXPECT_EQ(source.watchCount(), 0u);
}

TEST_F(SessionLifetimeTest, subscriptionNobodyPublishesForEndsAfterItsLifetime) {
    openSessionWithAWatch(60000);  // publishing every 10 ms, a lifetime of three cycles
    QElapsedTimer hangLimit;
    hangLimit.start();
    while (source.watchCount() > 0 && hangLimit.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_EQ(source.watchCount(), 0u);
    EXPECT_EQ(core->sessionCount(), 1u);  // the session stays
}

TEST_F(SessionLifetimeTest, timeoutIsRevisedIntoItsLimits) {
    exchange(client.hello() + client.open());
    CreateSessionRequest create;
    create.requestedSessionTimeout = 1e12;
    EXPECT_EQ(call<CreateSessionResponse>(id::CreateSessionRequest, create).revisedSessionTimeout, 3600000.0);
    create.requestedSessionTimeout = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(call<CreateSessionResponse>(id::CreateSessionRequest, create).revisedSessionTimeout, 10000.0);
}

}  // namespace
}  // namespace ferrow::ua
