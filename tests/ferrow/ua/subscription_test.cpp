// Subscriptions and monitored items over a real socket: first values, changes, filters, queues, keep-
// alives, Republish, the Publish queue limit, nodes that go, and watches released with their session.
#include "ferrow/ua/session_messages.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/subscription_messages.h"
#include "tests/ferrow/ua/endpoint_fixture.h"

namespace ferrow::ua {
namespace {

using test::faultOf;

const NodeId kCounter = NodeId::stringId(2, "Device1.Counter");

class SubscriptionTest : public test::EndpointTest {
  protected:
    void SetUp() override {
        EndpointTest::SetUp();
        ASSERT_TRUE(client.openSession());
    }
    std::uint32_t subscribe(double interval = 10, bool enabled = true, std::uint32_t keepAlive = 3,
                            std::uint32_t maxNotifications = 0) {
        CreateSubscriptionRequest request;
        request.requestedPublishingInterval = interval;
        request.requestedMaxKeepAliveCount = keepAlive;
        request.maxNotificationsPerPublish = maxNotifications;
        request.requestedLifetimeCount = 1000;
        request.publishingEnabled = enabled;
        return client
            .callFor<CreateSubscriptionResponse>(id::CreateSubscriptionRequest, request,
                                                 id::CreateSubscriptionResponse)
            .subscriptionId;
    }
    MonitoredItemCreateResult monitor(std::uint32_t subscription, const NodeId& node,
                                      std::uint32_t queueSize = 10, ExtensionObject filter = {},
                                      std::uint32_t clientHandle = 500) {
        CreateMonitoredItemsRequest request;
        request.subscriptionId = subscription;
        MonitoredItemCreateRequest item;
        item.itemToMonitor.nodeId = node;
        item.requestedParameters.clientHandle = clientHandle;
        item.requestedParameters.queueSize = queueSize;
        item.requestedParameters.filter = std::move(filter);
        request.itemsToCreate.push_back(item);
        const auto response = client.callFor<CreateMonitoredItemsResponse>(
            id::CreateMonitoredItemsRequest, request, id::CreateMonitoredItemsResponse);
        if (!response.results.empty()) return response.results[0];
        MonitoredItemCreateResult failed;
        failed.statusCode.code = status::Bad;
        return failed;
    }
    PublishResponse publish(std::vector<SubscriptionAcknowledgement> acks = {}) {
        PublishRequest request;
        request.subscriptionAcknowledgements = std::move(acks);
        return client.callFor<PublishResponse>(id::PublishRequest, request, id::PublishResponse);
    }
    // Publishes until a response carries data changes (keep-alives in between), at most `limit` times.
    std::vector<MonitoredItemNotification> nextChanges(int limit = 500, bool* more = nullptr) {
        for (int i = 0; i < limit; ++i) {
            const PublishResponse response = publish();
            if (more) *more = response.moreNotifications;
            for (const ExtensionObject& data : response.notificationMessage.notificationData) {
                if (data.typeId != NodeId::numericId(id::DataChangeNotification)) continue;
                BinaryDecoder decoder(data.bytes);
                DataChangeNotification changes;
                decoder(changes);
                if (!changes.monitoredItems.empty()) {
                    lastSequence = response.notificationMessage.sequenceNumber;
                    return changes.monitoredItems;
                }
            }
        }
        return {};
    }
    void setCounter(std::int32_t value, std::uint16_t quality = 0xC0) {
        source.setSample("Device1.Counter", TagSample{value, quality, DateTime::now()});
    }
    static ExtensionObject deadband(std::uint32_t type, double value) {
        return wrapExtension(id::DataChangeFilter,
                             DataChangeFilter{DataChangeTrigger::StatusValue, type, value});
    }

    std::uint32_t lastSequence = 0;
};

TEST_F(SubscriptionTest, newItemReportsTheCurrentValueFirstAndThenEachChange) {
    const std::uint32_t s = subscribe();
    const auto item = monitor(s, kCounter);
    ASSERT_EQ(item.statusCode.code, status::Good);
    EXPECT_EQ(item.revisedQueueSize, 10u);
    EXPECT_GE(item.revisedSamplingInterval, 10.0);
    auto changes = nextChanges();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].clientHandle, 500u);
    EXPECT_EQ(changes[0].value.value, Variant::of(std::int32_t{41}));
    setCounter(42);
    changes = nextChanges();
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes[0].value.value, Variant::of(std::int32_t{42}));
    EXPECT_EQ(source.watchCount("Device1.Counter"), 1u);
}

TEST_F(SubscriptionTest, deviceDropTurnsTheItemToNoCommunicationAndBack) {
    const std::uint32_t s = subscribe();
    ASSERT_EQ(monitor(s, kCounter).statusCode.code, status::Good);
    nextChanges();
    setCounter(41, 0x18);
    auto changes = nextChanges();
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes[0].value.status, StatusCode{status::BadNoCommunication});
    setCounter(43);
    changes = nextChanges();
    ASSERT_FALSE(changes.empty());
    EXPECT_FALSE(changes[0].value.status.has_value());
    EXPECT_EQ(changes[0].value.value, Variant::of(std::int32_t{43}));
}

TEST_F(SubscriptionTest, absoluteDeadbandHoldsBackChangesWithinIt) {
    const std::uint32_t s = subscribe();
    ASSERT_EQ(monitor(s, kCounter, 10, deadband(1, 5)).statusCode.code, status::Good);
    nextChanges();
    setCounter(44);  // within 5 of 41
    setCounter(50);
    const auto changes = nextChanges();
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes[0].value.value, Variant::of(std::int32_t{50}));
}

TEST_F(SubscriptionTest, filtersTheTagsCannotHonourAreRefusedPerItem) {
    const std::uint32_t s = subscribe();
    EXPECT_EQ(monitor(s, kCounter, 1, deadband(2, 10)).statusCode.code,
              status::BadMonitoredItemFilterUnsupported);
    EXPECT_EQ(monitor(s, NodeId::stringId(2, "Device2.Text"), 1, deadband(1, 1)).statusCode.code,
              status::BadFilterNotAllowed);
    EXPECT_EQ(monitor(s, NodeId::stringId(2, "Nope")).statusCode.code, status::BadNodeIdUnknown);
    EXPECT_EQ(source.watchCount(), 0u);
}

TEST_F(SubscriptionTest, fullQueueDropsTheOldestAndMarksTheGap) {
    const std::uint32_t s = subscribe(10, false);
    ASSERT_EQ(monitor(s, kCounter, 2).statusCode.code, status::Good);
    setCounter(1);
    setCounter(2);
    setCounter(3);
    SetPublishingModeRequest enable;
    enable.publishingEnabled = true;
    enable.subscriptionIds = {s};
    ASSERT_EQ(faultOf(client.call(id::SetPublishingModeRequest, enable)), status::Good);
    const auto changes = nextChanges();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].value.value, Variant::of(std::int32_t{2}));
    EXPECT_EQ(changes[0].value.status, StatusCode{status::kInfoTypeDataValue | status::kOverflowBit});
    EXPECT_EQ(changes[1].value.value, Variant::of(std::int32_t{3}));
}

// A subscription's limit of notifications per message splits a cycle's changes over messages, in order,
// also within an item's queue: the first says there is more, the next brings the rest.
TEST_F(SubscriptionTest, notificationsBeyondThePerMessageLimitComeInTheNextMessage) {
    const std::uint32_t s = subscribe(10, false, 3, 2);
    ASSERT_EQ(monitor(s, kCounter, 2, {}, 1).statusCode.code, status::Good);
    setCounter(1);
    ASSERT_EQ(monitor(s, NodeId::stringId(2, "Device1.Setpoint"), 1, {}, 2).statusCode.code, status::Good);
    ASSERT_EQ(monitor(s, NodeId::stringId(2, "Device1.Line.Speed"), 1, {}, 3).statusCode.code, status::Good);
    SetPublishingModeRequest enable;
    enable.publishingEnabled = true;
    enable.subscriptionIds = {s};
    ASSERT_EQ(faultOf(client.call(id::SetPublishingModeRequest, enable)), status::Good);

    // The counter's two values first; then the setpoint's and the speed's.
    bool more = false;
    auto changes = nextChanges(500, &more);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_TRUE(more);
    EXPECT_EQ(changes[0].clientHandle, 1u);
    EXPECT_EQ(changes[0].value.value, Variant::of(std::int32_t{41}));
    EXPECT_EQ(changes[1].clientHandle, 1u);
    EXPECT_EQ(changes[1].value.value, Variant::of(std::int32_t{1}));
    changes = nextChanges(500, &more);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].clientHandle, 2u);
    EXPECT_EQ(changes[1].clientHandle, 3u);
    EXPECT_FALSE(more);

    // A queue longer than the limit goes over several messages, oldest first.
    ModifySubscriptionRequest tighter;
    tighter.subscriptionId = s;
    tighter.requestedPublishingInterval = 10;
    tighter.requestedLifetimeCount = 1000;
    tighter.requestedMaxKeepAliveCount = 3;
    tighter.maxNotificationsPerPublish = 1;
    ASSERT_EQ(faultOf(client.call(id::ModifySubscriptionRequest, tighter)), status::Good);
    ASSERT_EQ(faultOf(client.call(id::SetPublishingModeRequest,
                                  [&] {
                                      SetPublishingModeRequest off = enable;
                                      off.publishingEnabled = false;
                                      return off;
                                  }())),
              status::Good);
    setCounter(2);
    setCounter(3);
    ASSERT_EQ(faultOf(client.call(id::SetPublishingModeRequest, enable)), status::Good);
    changes = nextChanges(500, &more);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].value.value, Variant::of(std::int32_t{2}));
    EXPECT_TRUE(more);
    changes = nextChanges(500, &more);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].value.value, Variant::of(std::int32_t{3}));
    EXPECT_FALSE(more);
}

TEST_F(SubscriptionTest, subscriptionWithNothingToSayAnswersWithKeepAlives) {
    const std::uint32_t s = subscribe();
    const PublishResponse response = publish();
    EXPECT_EQ(response.subscriptionId, s);
    EXPECT_TRUE(response.notificationMessage.notificationData.empty());
    EXPECT_EQ(response.notificationMessage.sequenceNumber, 1u);  // the next one, not used
}

TEST_F(SubscriptionTest, unacknowledgedMessageCanBeRepublishedUntilAcknowledged) {
    const std::uint32_t s = subscribe();
    monitor(s, kCounter);
    nextChanges();
    const std::uint32_t sequence = lastSequence;
    RepublishRequest republish;
    republish.subscriptionId = s;
    republish.retransmitSequenceNumber = sequence;
    const auto again =
        client.callFor<RepublishResponse>(id::RepublishRequest, republish, id::RepublishResponse);
    EXPECT_EQ(again.notificationMessage.sequenceNumber, sequence);
    const PublishResponse acked = publish({{s, sequence}, {s, 999}});
    ASSERT_EQ(acked.results.size(), 2u);
    EXPECT_EQ(acked.results[0].code, status::Good);
    EXPECT_EQ(acked.results[1].code, status::BadSequenceNumberUnknown);
    EXPECT_EQ(faultOf(client.call(id::RepublishRequest, republish)), status::BadMessageNotAvailable);
}

TEST_F(SubscriptionTest, eleventhWaitingPublishIsRefused) {
    subscribe(3600000, true, 10000);
    PublishRequest request;
    for (int i = 0; i < 10; ++i) client.sendRaw(client.wire.request(id::PublishRequest, request));
    EXPECT_EQ(faultOf(client.call(id::PublishRequest, request)), status::BadTooManyPublishRequests);
}

TEST_F(SubscriptionTest, cancelAnswersTheWaitingPublishWithItsHandle) {
    subscribe(3600000, true, 10000);
    client.sendRaw(client.wire.request(id::PublishRequest, PublishRequest()));
    const std::uint32_t publishHandle = client.wire.requestHandle;
    CancelRequest cancel;
    cancel.requestHandle = publishHandle;
    client.sendRaw(client.wire.request(id::CancelRequest, cancel));
    const auto cancelled = client.next();
    EXPECT_EQ(faultOf(cancelled), status::BadRequestCancelledByClient);
    EXPECT_EQ(test::WireClient::decode<ServiceFault>(*cancelled).responseHeader.requestHandle, publishHandle);
    const auto answer = client.next();
    ASSERT_TRUE(answer && answer->typeId == id::CancelResponse);
    EXPECT_EQ(test::WireClient::decode<CancelResponse>(*answer).cancelCount, 1u);
}

TEST_F(SubscriptionTest, publishWithoutSubscriptionsIsRefused) {
    EXPECT_EQ(faultOf(client.call(id::PublishRequest, PublishRequest())), status::BadNoSubscription);
}

TEST_F(SubscriptionTest, tagThatLeavesTheConfigurationIsReportedUnknownOnce) {
    const std::uint32_t s = subscribe();
    monitor(s, kCounter);
    nextChanges();
    auto devices = test::sampleDevices();
    devices.erase(devices.begin());
    source.setDevices(devices);
    const auto changes = nextChanges();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].value.status, StatusCode{status::BadNodeIdUnknown});
    EXPECT_EQ(source.watchCount("Device1.Counter"), 0u);
}

TEST_F(SubscriptionTest, closingTheSessionReleasesEveryWatchItHeld) {
    const std::uint32_t s = subscribe();
    monitor(s, kCounter);
    monitor(s, NodeId::stringId(2, "Device1.Setpoint"));
    EXPECT_EQ(source.watchCount(), 2u);
    CloseSessionRequest close;
    ASSERT_EQ(faultOf(client.call(id::CloseSessionRequest, close)), status::Good);
    EXPECT_EQ(source.watchCount(), 0u);
}

TEST_F(SubscriptionTest, deletedItemsAndSubscriptionsStopWatching) {
    const std::uint32_t s = subscribe();
    const auto item = monitor(s, kCounter);
    DeleteMonitoredItemsRequest remove;
    remove.subscriptionId = s;
    remove.monitoredItemIds = {item.monitoredItemId, 12345};
    const auto removed = client.callFor<StatusListResponse>(id::DeleteMonitoredItemsRequest, remove,
                                                            id::DeleteMonitoredItemsResponse);
    ASSERT_EQ(removed.results.size(), 2u);
    EXPECT_EQ(removed.results[1].code, status::BadMonitoredItemIdInvalid);
    EXPECT_EQ(source.watchCount(), 0u);
    monitor(s, kCounter);
    SubscriptionListRequest drop;
    drop.subscriptionIds = {s};
    EXPECT_EQ(faultOf(client.call(id::DeleteSubscriptionsRequest, drop)), status::Good);
    EXPECT_EQ(source.watchCount(), 0u);
}

}  // namespace
}  // namespace ferrow::ua
