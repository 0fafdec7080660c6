#include "tests/ferrow/ua_bridge/ua_session.h"

#include "ferrow/ua/status_codes.h"

namespace ferrow::ua_bridge::test {

using namespace ferrow::ua;

std::vector<ReferenceDescription> UaSession::browse(const NodeId& node) {
    BrowseRequest request;
    request.nodesToBrowse.push_back(
        {node, BrowseDirection::Forward, NodeId::numericId(id::HierarchicalReferences), true, 0, 0x3F});
    const auto response = client_.callFor<BrowseResponse>(id::BrowseRequest, request, id::BrowseResponse);
    if (response.results.empty()) return {};
    return response.results[0].references;
}

std::optional<DataValue> UaSession::readValue(const NodeId& node) {
    ReadRequest request;
    request.nodesToRead.push_back({node, static_cast<std::uint32_t>(AttributeId::Value), {}, {}});
    const auto response = client_.callFor<ReadResponse>(id::ReadRequest, request, id::ReadResponse);
    if (response.results.empty()) return std::nullopt;
    return response.results[0];
}

std::uint32_t UaSession::writeValue(const NodeId& node, Variant value) {
    WriteRequest request;
    DataValue data;
    data.value = std::move(value);
    request.nodesToWrite.push_back(
        {node, static_cast<std::uint32_t>(AttributeId::Value), {}, std::move(data)});
    const auto response = client_.callFor<StatusListResponse>(id::WriteRequest, request, id::WriteResponse);
    return response.results.empty() ? status::Bad : response.results[0].code;
}

std::uint32_t UaSession::subscribe() {
    CreateSubscriptionRequest request;
    request.requestedPublishingInterval = 20;
    request.requestedMaxKeepAliveCount = 3;
    request.requestedLifetimeCount = 1000;
    request.publishingEnabled = true;
    return client_
        .callFor<CreateSubscriptionResponse>(id::CreateSubscriptionRequest, request,
                                             id::CreateSubscriptionResponse)
        .subscriptionId;
}

std::uint32_t UaSession::monitor(std::uint32_t subscription, const NodeId& node, std::uint32_t clientHandle) {
    CreateMonitoredItemsRequest request;
    request.subscriptionId = subscription;
    MonitoredItemCreateRequest item;
    item.itemToMonitor.nodeId = node;
    item.requestedParameters.clientHandle = clientHandle;
    item.requestedParameters.queueSize = 10;
    request.itemsToCreate.push_back(item);
    const auto response = client_.callFor<CreateMonitoredItemsResponse>(
        id::CreateMonitoredItemsRequest, request, id::CreateMonitoredItemsResponse);
    return response.results.empty() ? status::Bad : response.results[0].statusCode.code;
}

std::uint32_t UaSession::deleteSubscription(std::uint32_t subscription) {
    SubscriptionListRequest request;
    request.subscriptionIds = {subscription};
    const auto response = client_.callFor<StatusListResponse>(id::DeleteSubscriptionsRequest, request,
                                                              id::DeleteSubscriptionsResponse);
    return response.results.empty() ? status::Bad : response.results[0].code;
}

std::vector<MonitoredItemNotification> UaSession::publishChanges() {
    PublishRequest request;
    request.subscriptionAcknowledgements = std::move(acknowledgements_);
    acknowledgements_.clear();
    const auto response = client_.callFor<PublishResponse>(id::PublishRequest, request, id::PublishResponse);
    const NotificationMessage& message = response.notificationMessage;
    if (!message.notificationData.empty())
        acknowledgements_.push_back({response.subscriptionId, message.sequenceNumber});
    std::vector<MonitoredItemNotification> changes;
    for (const ExtensionObject& data : message.notificationData) {
        if (data.typeId != NodeId::numericId(id::DataChangeNotification)) continue;
        BinaryDecoder decoder(data.bytes);
        DataChangeNotification notification;
        decoder(notification);
        changes.insert(changes.end(), notification.monitoredItems.begin(), notification.monitoredItems.end());
    }
    return changes;
}

std::optional<double> numberOf(const DataValue& value) {
    if (!value.value || value.value->values.size() != 1) return std::nullopt;
    return std::visit(
        [](const auto& x) -> std::optional<double> {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) return static_cast<double>(x);
            return std::nullopt;
        },
        value.value->values.front());
}

}  // namespace ferrow::ua_bridge::test
