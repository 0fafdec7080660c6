#pragma once

#include <QTimer>
#include <map>
#include <memory>

#include "ferrow/ua/address_space.h"
#include "ferrow/ua/monitored_item.h"
#include "ferrow/ua/server_core.h"
#include "ferrow/ua/session.h"

namespace ferrow::ua {

class UaServerCore;
struct RequestContext;

// One subscription: its monitored items, its publishing timer and counters, and the notification
// messages kept for Republish until the client acknowledges them.
struct Subscription {
    std::uint32_t id = 0;
    Session* session = nullptr;
    double publishingInterval = 0;
    std::uint32_t lifetimeCount = 0, maxKeepAliveCount = 0, maxNotificationsPerPublish = 0;
    bool publishingEnabled = true;
    std::map<std::uint32_t, MonitoredItem> items;
    std::uint32_t nextSequenceNumber = 1;
    std::uint32_t keepAliveCounter = 0, lifetimeCounter = 0;
    // A cycle had notifications but no Publish to send them with, or more than one message could hold.
    bool late = false;
    std::map<std::uint32_t, NotificationMessage> retransmit;
    std::unique_ptr<QTimer> timer;
};

// The subscriptions of every session and their monitored items: creates and changes them as the
// services ask, turns the data source's changes into queued values, and on each publishing cycle answers
// a waiting Publish with notifications or a keep-alive. Lives on the endpoint's thread; watches report
// through the core's poster.
class SubscriptionEngine {
  public:
    SubscriptionEngine(UaServerCore& core, UaDataSource& source, const AddressSpace& space);
    ~SubscriptionEngine();

    void createSubscription(RequestContext& context, const CreateSubscriptionRequest& request);
    void modifySubscription(RequestContext& context, const ModifySubscriptionRequest& request);
    void setPublishingMode(RequestContext& context, const SetPublishingModeRequest& request);
    void deleteSubscriptions(RequestContext& context, const SubscriptionListRequest& request);
    void publish(RequestContext& context, const PublishRequest& request);
    void republish(RequestContext& context, const RepublishRequest& request);
    void createMonitoredItems(RequestContext& context, const CreateMonitoredItemsRequest& request);
    void modifyMonitoredItems(RequestContext& context, const ModifyMonitoredItemsRequest& request);
    void setMonitoringMode(RequestContext& context, const SetMonitoringModeRequest& request);
    void deleteMonitoredItems(RequestContext& context, const DeleteMonitoredItemsRequest& request);

    void deleteSessionSubscriptions(Session& session);
    // Items whose node is gone report BadNodeIdUnknown once; those whose node came back watch it again.
    void onAddressSpaceChanged();
    void onHousekeeping(Clock::time_point now);
    std::size_t monitoredItemCount() const { return itemCount_; }

  private:
    Subscription* findOwned(RequestContext& context, std::uint32_t subscriptionId);
    void revise(Subscription& subscription, double interval, std::uint32_t lifetime, std::uint32_t keepAlive,
                std::uint32_t maxNotifications);
    void onPublishingTimer(std::uint32_t subscriptionId);
    // Answers the session's oldest waiting Publish with `message`; false when none waits.
    bool sendPublishResponse(Subscription& subscription, NotificationMessage message, bool moreNotifications);
    NotificationMessage collectNotifications(Subscription& subscription, bool& more);
    void startWatching(Subscription& subscription, MonitoredItem& item);
    void stopWatching(MonitoredItem& item);
    void onSample(std::uint32_t subscriptionId, std::uint32_t itemId, const TagSample& sample);
    void sampleNonTagItems(Subscription& subscription);
    void deleteSubscription(std::uint32_t subscriptionId);

    UaServerCore& core_;
    UaDataSource& source_;
    const AddressSpace& space_;
    std::map<std::uint32_t, Subscription> subscriptions_;
    std::uint32_t nextSubscriptionId_ = 1, nextItemId_ = 1;
    std::size_t itemCount_ = 0;
    std::shared_ptr<const UaServerCore::Poster> poster_;  // shared by every watch
};

}  // namespace ferrow::ua
