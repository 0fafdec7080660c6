// The monitored item service set: CreateMonitoredItems, ModifyMonitoredItems, SetMonitoringMode and
// DeleteMonitoredItems, and the watches that feed the items.
#include <algorithm>
#include <cmath>

#include "ferrow/ua/node_attributes.h"
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/server_core.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/subscription_engine.h"
#include "ferrow/ua/tag_mapping.h"
#include "ferrow/ua/transport_limits.h"

namespace ferrow::ua {

namespace {

bool isNumeric(TagType type) {
    return type != TagType::Boolean && type != TagType::String && type != TagType::DateTime;
}

double reviseSampling(double requested, double publishingInterval) {
    if (!std::isfinite(requested) || requested < 0) return publishingInterval;
    return std::clamp(requested, limits::kMinIntervalMs, 3600000.0);
}

std::uint32_t reviseQueue(std::uint32_t requested) {
    return std::clamp<std::uint32_t>(requested, 1, limits::kMaxQueueSize);
}

// What stops a Create or Modify of monitored items before any item is looked at; 0 when nothing does.
std::uint32_t itemRequestFault(const void* subscription, TimestampsToReturn timestamps, std::size_t items) {
    if (!subscription) return status::BadSubscriptionIdInvalid;
    if (static_cast<std::uint32_t>(timestamps) > 3) return status::BadTimestampsToReturnInvalid;
    if (items == 0) return status::BadNothingToDo;
    if (items > limits::kMaxOperationsPerCall) return status::BadTooManyOperations;
    return 0;
}

DataValue statusValue(std::uint32_t code) {
    DataValue value;
    value.status = StatusCode{code};
    return value;
}

}  // namespace

void SubscriptionEngine::startWatching(Subscription& subscription, MonitoredItem& item) {
    if (!item.tagType || item.watch != 0) return;
    const Node* node = space_.find(item.nodeId);
    if (!node || !node->tag) return;
    if (!poster_) poster_ = std::make_shared<const UaServerCore::Poster>(core_.poster());
    // One small capture per watch (the poster is shared): the watches are most of an item's memory.
    const std::uint32_t subscriptionId = subscription.id, itemId = item.id;
    item.watch = source_.watch(
        node->tag->itemId, [this, post = poster_, subscriptionId, itemId](const TagSample& sample) {
            (*post)([this, subscriptionId, itemId, sample] { onSample(subscriptionId, itemId, sample); });
        });
}

void SubscriptionEngine::stopWatching(MonitoredItem& item) {
    if (item.watch != 0) source_.unwatch(item.watch);
    item.watch = 0;
}

void SubscriptionEngine::onSample(std::uint32_t subscriptionId, std::uint32_t itemId,
                                  const TagSample& sample) {
    const auto s = subscriptions_.find(subscriptionId);
    if (s == subscriptions_.end()) return;
    const auto it = s->second.items.find(itemId);
    if (it == s->second.items.end() || it->second.gone) return;
    MonitoredItem& item = it->second;
    DataValue value = dataValueOfSample(sample);
    applyTimestamps(value, item.timestamps, DateTime::now());
    item.offer(value);
}

void SubscriptionEngine::sampleNonTagItems(Subscription& subscription) {
    for (auto& [id, item] : subscription.items) {
        if (item.tagType || item.gone || item.mode == MonitoringMode::Disabled) continue;
        const Node* node = space_.find(item.nodeId);
        if (!node) continue;
        DataValue value;
        value.value = attributeValue(*node, item.attributeId, {});
        applyTimestamps(value, item.timestamps, DateTime::now());
        if (value.value && item.timestamps != TimestampsToReturn::Neither &&
            item.timestamps != TimestampsToReturn::Server)
            value.sourceTimestamp = value.serverTimestamp ? value.serverTimestamp : DateTime::now();
        item.offer(value);
    }
}

void SubscriptionEngine::onAddressSpaceChanged() {
    for (auto& [sid, subscription] : subscriptions_) {
        for (auto& [id, item] : subscription.items) {
            const Node* node = space_.find(item.nodeId);
            const bool present = node && (!item.tagType || (node->tag && node->tag->type == *item.tagType));
            if (!present && !item.gone) {
                stopWatching(item);
                item.gone = true;
                item.resetLastValue();
                item.offer(statusValue(status::BadNodeIdUnknown));
            } else if (present && item.gone) {
                item.gone = false;
                item.resetLastValue();
                startWatching(subscription, item);
            }
        }
    }
}

void SubscriptionEngine::createMonitoredItems(RequestContext& context,
                                              const CreateMonitoredItemsRequest& request) {
    Subscription* s = findOwned(context, request.subscriptionId);
    if (const auto fault = itemRequestFault(s, request.timestampsToReturn, request.itemsToCreate.size()))
        return core_.fault(context, fault);
    CreateMonitoredItemsResponse response;
    for (const MonitoredItemCreateRequest& create : request.itemsToCreate) {
        MonitoredItemCreateResult result;
        const Node* node = space_.find(create.itemToMonitor.nodeId);
        const auto mode = static_cast<std::uint32_t>(create.monitoringMode);
        const bool isTagValue =
            node && node->tag &&
            create.itemToMonitor.attributeId == static_cast<std::uint32_t>(AttributeId::Value);
        DataChangeFilter filter;
        if (itemCount_ >= limits::kMaxMonitoredItems) {
            result.statusCode.code = status::BadTooManyMonitoredItems;
        } else if (!node) {
            result.statusCode.code = status::BadNodeIdUnknown;
        } else if (!hasAttribute(*node, create.itemToMonitor.attributeId)) {
            result.statusCode.code = status::BadAttributeIdInvalid;
        } else if (mode > 2) {
            result.statusCode.code = status::BadMonitoringModeInvalid;
        } else if (!create.itemToMonitor.indexRange.empty()) {
            result.statusCode.code = status::BadIndexRangeInvalid;
        } else {
            result.statusCode.code = parseFilter(create.requestedParameters.filter,
                                                 isTagValue && isNumeric(node->tag->type), filter);
        }
        if (result.statusCode.code == status::Good) {
            MonitoredItem& item = s->items[nextItemId_];
            item.id = nextItemId_++;
            item.clientHandle = create.requestedParameters.clientHandle;
            item.nodeId = create.itemToMonitor.nodeId;
            item.attributeId = create.itemToMonitor.attributeId;
            if (isTagValue) item.tagType = node->tag->type;
            item.mode = create.monitoringMode;
            item.samplingInterval =
                reviseSampling(create.requestedParameters.samplingInterval, s->publishingInterval);
            item.queueSize = reviseQueue(create.requestedParameters.queueSize);
            item.discardOldest = create.requestedParameters.discardOldest;
            item.filter = filter;
            item.timestamps = request.timestampsToReturn;
            ++itemCount_;
            result.monitoredItemId = item.id;
            result.revisedSamplingInterval = item.samplingInterval;
            result.revisedQueueSize = item.queueSize;
            // The first notification carries the current value: the watch reports it at once.
            if (item.mode != MonitoringMode::Disabled) startWatching(*s, item);
            if (!item.tagType) sampleNonTagItems(*s);
        }
        response.results.push_back(std::move(result));
    }
    core_.reply(context, id::CreateMonitoredItemsResponse, response);
}

void SubscriptionEngine::modifyMonitoredItems(RequestContext& context,
                                              const ModifyMonitoredItemsRequest& request) {
    Subscription* s = findOwned(context, request.subscriptionId);
    if (const auto fault = itemRequestFault(s, request.timestampsToReturn, request.itemsToModify.size()))
        return core_.fault(context, fault);
    ModifyMonitoredItemsResponse response;
    for (const MonitoredItemModifyRequest& modify : request.itemsToModify) {
        MonitoredItemModifyResult result;
        const auto it = s->items.find(modify.monitoredItemId);
        DataChangeFilter filter;
        if (it == s->items.end()) {
            result.statusCode.code = status::BadMonitoredItemIdInvalid;
        } else {
            MonitoredItem& item = it->second;
            result.statusCode.code = parseFilter(modify.requestedParameters.filter,
                                                 item.tagType && isNumeric(*item.tagType), filter);
            if (result.statusCode.code == status::Good) {
                item.clientHandle = modify.requestedParameters.clientHandle;
                item.samplingInterval =
                    reviseSampling(modify.requestedParameters.samplingInterval, s->publishingInterval);
                item.queueSize = reviseQueue(modify.requestedParameters.queueSize);
                item.discardOldest = modify.requestedParameters.discardOldest;
                item.filter = filter;
                item.timestamps = request.timestampsToReturn;
                result.revisedSamplingInterval = item.samplingInterval;
                result.revisedQueueSize = item.queueSize;
            }
        }
        response.results.push_back(std::move(result));
    }
    core_.reply(context, id::ModifyMonitoredItemsResponse, response);
}

void SubscriptionEngine::setMonitoringMode(RequestContext& context, const SetMonitoringModeRequest& request) {
    Subscription* s = findOwned(context, request.subscriptionId);
    if (!s) return core_.fault(context, status::BadSubscriptionIdInvalid);
    if (request.monitoredItemIds.empty()) return core_.fault(context, status::BadNothingToDo);
    if (request.monitoredItemIds.size() > limits::kMaxOperationsPerCall)
        return core_.fault(context, status::BadTooManyOperations);
    if (static_cast<std::uint32_t>(request.monitoringMode) > 2)
        return core_.fault(context, status::BadMonitoringModeInvalid);
    StatusListResponse response;
    for (const std::uint32_t id : request.monitoredItemIds) {
        const auto it = s->items.find(id);
        if (it == s->items.end()) {
            response.results.push_back(StatusCode{status::BadMonitoredItemIdInvalid});
            continue;
        }
        MonitoredItem& item = it->second;
        const bool wasDisabled = item.mode == MonitoringMode::Disabled;
        item.mode = request.monitoringMode;
        if (item.mode == MonitoringMode::Disabled) {
            stopWatching(item);
            item.clearQueue();
        } else if (wasDisabled) {
            item.resetLastValue();
            if (!item.gone) startWatching(*s, item);
        }
        response.results.push_back(StatusCode{status::Good});
    }
    core_.reply(context, id::SetMonitoringModeResponse, response);
}

void SubscriptionEngine::deleteMonitoredItems(RequestContext& context,
                                              const DeleteMonitoredItemsRequest& request) {
    Subscription* s = findOwned(context, request.subscriptionId);
    if (!s) return core_.fault(context, status::BadSubscriptionIdInvalid);
    if (request.monitoredItemIds.empty()) return core_.fault(context, status::BadNothingToDo);
    if (request.monitoredItemIds.size() > limits::kMaxOperationsPerCall)
        return core_.fault(context, status::BadTooManyOperations);
    StatusListResponse response;
    for (const std::uint32_t id : request.monitoredItemIds) {
        const auto it = s->items.find(id);
        if (it == s->items.end()) {
            response.results.push_back(StatusCode{status::BadMonitoredItemIdInvalid});
            continue;
        }
        stopWatching(it->second);
        s->items.erase(it);
        --itemCount_;
        response.results.push_back(StatusCode{status::Good});
    }
    core_.reply(context, id::DeleteMonitoredItemsResponse, response);
}

}  // namespace ferrow::ua
