// The subscription service set: CreateSubscription, ModifySubscription, SetPublishingMode, Publish,
// Republish and DeleteSubscriptions, and the publishing cycle.
#include "ferrow/ua/subscription_engine.h"

#include <algorithm>
#include <cmath>

#include "ferrow/ua/binary_encoder.h"
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/server_core.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/transport_limits.h"

namespace ferrow::ua {

SubscriptionEngine::SubscriptionEngine(UaServerCore& core, UaDataSource& source, const AddressSpace& space)
    : core_(core), source_(source), space_(space) {}

SubscriptionEngine::~SubscriptionEngine() {
    for (auto& [id, subscription] : subscriptions_)
        for (auto& [itemId, item] : subscription.items) stopWatching(item);
}

namespace {
bool hasNotificationsToSend(const Subscription& s) {
    return s.publishingEnabled && std::any_of(s.items.begin(), s.items.end(), [](const auto& entry) {
               return entry.second.mode == MonitoringMode::Reporting && entry.second.hasQueued();
           });
}
}  // namespace

Subscription* SubscriptionEngine::findOwned(RequestContext& context, std::uint32_t subscriptionId) {
    const auto it = subscriptions_.find(subscriptionId);
    if (it == subscriptions_.end() || it->second.session != context.session) return nullptr;
    return &it->second;
}

void SubscriptionEngine::revise(Subscription& s, double interval, std::uint32_t lifetime,
                                std::uint32_t keepAlive, std::uint32_t maxNotifications) {
    const double requested = std::isfinite(interval) ? interval : 0;
    s.publishingInterval = std::clamp(requested, limits::kMinIntervalMs, 3600000.0);
    s.maxKeepAliveCount = std::clamp<std::uint32_t>(keepAlive, 1, 10000);
    // The lifetime is at least three keep-alive periods, so that a client has time to send a Publish.
    s.lifetimeCount = std::max<std::uint32_t>({lifetime, 3 * s.maxKeepAliveCount, 3});
    s.maxNotificationsPerPublish = maxNotifications;
    if (!s.timer) {
        s.timer = std::make_unique<QTimer>();
        // To the millisecond: a coarse timer may stretch a cycle by 5 %, and a cycle that long holds two
        // changes of a value that changes once per interval, of which a queue of one keeps only the last.
        s.timer->setTimerType(Qt::PreciseTimer);
        const std::uint32_t id = s.id;
        QObject::connect(s.timer.get(), &QTimer::timeout, [this, id] { onPublishingTimer(id); });
    }
    s.timer->start(static_cast<int>(s.publishingInterval));
}

void SubscriptionEngine::createSubscription(RequestContext& context,
                                            const CreateSubscriptionRequest& request) {
    Session& session = *context.session;
    if (session.subscriptionIds.size() >= limits::kMaxSubscriptionsPerSession)
        return core_.fault(context, status::BadTooManySubscriptions);
    const std::uint32_t id = nextSubscriptionId_++;
    Subscription& s = subscriptions_[id];
    s.id = id;
    s.session = &session;
    s.publishingEnabled = request.publishingEnabled;
    revise(s, request.requestedPublishingInterval, request.requestedLifetimeCount,
           request.requestedMaxKeepAliveCount, request.maxNotificationsPerPublish);
    s.keepAliveCounter = s.maxKeepAliveCount;  // the first cycle without data sends a keep-alive
    session.subscriptionIds.push_back(id);
    CreateSubscriptionResponse response;
    response.subscriptionId = id;
    response.revisedPublishingInterval = s.publishingInterval;
    response.revisedLifetimeCount = s.lifetimeCount;
    response.revisedMaxKeepAliveCount = s.maxKeepAliveCount;
    core_.reply(context, id::CreateSubscriptionResponse, response);
}

void SubscriptionEngine::modifySubscription(RequestContext& context,
                                            const ModifySubscriptionRequest& request) {
    Subscription* s = findOwned(context, request.subscriptionId);
    if (!s) return core_.fault(context, status::BadSubscriptionIdInvalid);
    revise(*s, request.requestedPublishingInterval, request.requestedLifetimeCount,
           request.requestedMaxKeepAliveCount, request.maxNotificationsPerPublish);
    ModifySubscriptionResponse response;
    response.revisedPublishingInterval = s->publishingInterval;
    response.revisedLifetimeCount = s->lifetimeCount;
    response.revisedMaxKeepAliveCount = s->maxKeepAliveCount;
    core_.reply(context, id::ModifySubscriptionResponse, response);
}

void SubscriptionEngine::setPublishingMode(RequestContext& context, const SetPublishingModeRequest& request) {
    if (request.subscriptionIds.empty()) return core_.fault(context, status::BadNothingToDo);
    StatusListResponse response;
    for (const std::uint32_t id : request.subscriptionIds) {
        Subscription* s = findOwned(context, id);
        if (s) s->publishingEnabled = request.publishingEnabled;
        response.results.push_back(StatusCode{s ? status::Good : status::BadSubscriptionIdInvalid});
    }
    core_.reply(context, id::SetPublishingModeResponse, response);
}

void SubscriptionEngine::deleteSubscriptions(RequestContext& context,
                                             const SubscriptionListRequest& request) {
    if (request.subscriptionIds.empty()) return core_.fault(context, status::BadNothingToDo);
    if (request.subscriptionIds.size() > limits::kMaxOperationsPerCall)
        return core_.fault(context, status::BadTooManyOperations);
    StatusListResponse response;
    for (const std::uint32_t id : request.subscriptionIds) {
        const bool owned = findOwned(context, id) != nullptr;
        if (owned) deleteSubscription(id);
        response.results.push_back(StatusCode{owned ? status::Good : status::BadSubscriptionIdInvalid});
    }
    core_.reply(context, id::DeleteSubscriptionsResponse, response);
}

void SubscriptionEngine::deleteSubscription(std::uint32_t subscriptionId) {
    const auto it = subscriptions_.find(subscriptionId);
    if (it == subscriptions_.end()) return;
    for (auto& [itemId, item] : it->second.items) stopWatching(item);
    itemCount_ -= it->second.items.size();
    std::erase(it->second.session->subscriptionIds, subscriptionId);
    // The timer may be the one whose timeout is running now: it goes once that is over.
    it->second.timer->stop();
    it->second.timer.release()->deleteLater();
    subscriptions_.erase(it);
}

void SubscriptionEngine::deleteSessionSubscriptions(Session& session) {
    const std::vector<std::uint32_t> ids = session.subscriptionIds;
    for (const std::uint32_t id : ids) deleteSubscription(id);
}

void SubscriptionEngine::publish(RequestContext& context, const PublishRequest& request) {
    Session& session = *context.session;
    PendingPublish pending{context.connectionId, context.requestId, context.header.requestHandle, {}};
    for (const SubscriptionAcknowledgement& ack : request.subscriptionAcknowledgements) {
        Subscription* s = findOwned(context, ack.subscriptionId);
        std::uint32_t result = status::BadSubscriptionIdInvalid;
        if (s)
            result =
                s->retransmit.erase(ack.sequenceNumber) ? status::Good : status::BadSequenceNumberUnknown;
        pending.acknowledgementResults.push_back(StatusCode{result});
    }
    if (session.subscriptionIds.empty()) return core_.fault(context, status::BadNoSubscription);
    if (session.publishRequests.size() >= limits::kMaxPublishRequestsPerSession)
        return core_.fault(context, status::BadTooManyPublishRequests);
    session.publishRequests.push_back(std::move(pending));
    // A subscription that had something to say but no Publish to say it with answers at once; the others
    // keep to their publishing interval.
    for (const std::uint32_t id : session.subscriptionIds) {
        Subscription& s = subscriptions_.at(id);
        s.lifetimeCounter = 0;
        if (s.late && hasNotificationsToSend(s) && !session.publishRequests.empty()) {
            bool more = false;
            NotificationMessage message = collectNotifications(s, more);
            sendPublishResponse(s, std::move(message), more);
        }
    }
}

void SubscriptionEngine::republish(RequestContext& context, const RepublishRequest& request) {
    Subscription* s = findOwned(context, request.subscriptionId);
    if (!s) return core_.fault(context, status::BadSubscriptionIdInvalid);
    const auto it = s->retransmit.find(request.retransmitSequenceNumber);
    if (it == s->retransmit.end()) return core_.fault(context, status::BadMessageNotAvailable);
    RepublishResponse response;
    response.notificationMessage = it->second;
    core_.reply(context, id::RepublishResponse, response);
}

NotificationMessage SubscriptionEngine::collectNotifications(Subscription& s, bool& more) {
    const std::size_t limit = s.maxNotificationsPerPublish == 0 ? SIZE_MAX : s.maxNotificationsPerPublish;
    const auto reporting = [](const MonitoredItem& item) {
        return item.mode == MonitoringMode::Reporting && item.hasQueued();
    };
    // The values of this message are counted first, then encoded straight from the items' queues: a
    // cycle of many changes makes no list of them in between. What is over the limit stays queued, in
    // order, for the next message.
    std::size_t count = 0;
    for (auto it = s.items.begin(); it != s.items.end() && count < limit; ++it)
        if (reporting(it->second)) count += std::min(it->second.queuedCount(), limit - count);
    BinaryEncoder changes;  // a DataChangeNotification
    changes(static_cast<std::int32_t>(count));
    std::size_t left = count;
    for (auto it = s.items.begin(); it != s.items.end() && left > 0; ++it) {
        MonitoredItem& item = it->second;
        if (!reporting(item)) continue;
        const std::size_t taken = std::min(left, item.queuedCount());
        item.drainQueued(taken, [&](const DataValue& value) {
            changes(item.clientHandle);
            changes(value);
        });
        left -= taken;
    }
    changes(std::vector<DiagnosticInfo>{});
    more = count == limit && std::any_of(s.items.begin(), s.items.end(),
                                         [&](const auto& entry) { return reporting(entry.second); });

    NotificationMessage message;
    message.sequenceNumber = s.nextSequenceNumber++;
    if (s.nextSequenceNumber == 0) s.nextSequenceNumber = 1;
    message.publishTime = DateTime::now();
    message.notificationData.push_back(wrapEncoded(id::DataChangeNotification, changes.take()));
    s.retransmit[message.sequenceNumber] = message;
    while (s.retransmit.size() > limits::kMaxRetransmitQueue) s.retransmit.erase(s.retransmit.begin());
    return message;
}

bool SubscriptionEngine::sendPublishResponse(Subscription& s, NotificationMessage message, bool more) {
    auto& queue = s.session->publishRequests;
    if (queue.empty()) return false;
    PendingPublish pending = std::move(queue.front());
    queue.pop_front();
    RequestContext context;
    context.connectionId = pending.connectionId;
    context.requestId = pending.requestId;
    context.header.requestHandle = pending.requestHandle;
    PublishResponse response;
    response.subscriptionId = s.id;
    for (const auto& [sequence, kept] : s.retransmit) response.availableSequenceNumbers.push_back(sequence);
    response.moreNotifications = more;
    response.notificationMessage = std::move(message);
    response.results = std::move(pending.acknowledgementResults);
    core_.reply(context, id::PublishResponse, response);
    s.keepAliveCounter = 0;
    s.lifetimeCounter = 0;
    s.late = more;  // the rest goes with the next Publish, without waiting for a cycle
    return true;
}

void SubscriptionEngine::onPublishingTimer(std::uint32_t subscriptionId) {
    const auto it = subscriptions_.find(subscriptionId);
    if (it == subscriptions_.end()) return;
    Subscription& s = it->second;
    sampleNonTagItems(s);
    const bool hasNotifications = hasNotificationsToSend(s);
    const bool canSend = !s.session->publishRequests.empty();
    if (hasNotifications && canSend) {
        bool more = false;
        NotificationMessage message = collectNotifications(s, more);
        sendPublishResponse(s, std::move(message), more);
        return;
    }
    if (!hasNotifications && ++s.keepAliveCounter >= s.maxKeepAliveCount && canSend) {
        NotificationMessage keepAlive;
        keepAlive.sequenceNumber = s.nextSequenceNumber;  // a keep-alive uses no sequence number
        keepAlive.publishTime = DateTime::now();
        sendPublishResponse(s, std::move(keepAlive), false);
        return;
    }
    if (hasNotifications) s.late = true;
    if (!canSend && ++s.lifetimeCounter >= s.lifetimeCount) deleteSubscription(subscriptionId);
}

void SubscriptionEngine::onHousekeeping(Clock::time_point) {}

}  // namespace ferrow::ua
