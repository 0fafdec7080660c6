#pragma once

#include "ferrow/ua/attribute_messages.h"

// The subscription and monitored item service sets and the notifications they publish.
namespace ferrow::ua {

enum class MonitoringMode : std::int32_t { Disabled = 0, Sampling = 1, Reporting = 2 };
enum class DataChangeTrigger : std::int32_t { Status = 0, StatusValue = 1, StatusValueTimestamp = 2 };
enum class DeadbandType : std::uint32_t { None = 0, Absolute = 1, Percent = 2 };

struct DataChangeFilter {
    DataChangeTrigger trigger = DataChangeTrigger::StatusValue;
    std::uint32_t deadbandType = 0;
    double deadbandValue = 0;
};
template <class Io>
void fields(Io& io, DataChangeFilter& v) {
    io(v.trigger), io(v.deadbandType), io(v.deadbandValue);
}

struct MonitoringParameters {
    std::uint32_t clientHandle = 0;
    double samplingInterval = 0;
    ExtensionObject filter;
    std::uint32_t queueSize = 1;
    bool discardOldest = true;
};
template <class Io>
void fields(Io& io, MonitoringParameters& v) {
    io(v.clientHandle), io(v.samplingInterval), io(v.filter), io(v.queueSize), io(v.discardOldest);
}

struct MonitoredItemCreateRequest {
    ReadValueId itemToMonitor;
    MonitoringMode monitoringMode = MonitoringMode::Reporting;
    MonitoringParameters requestedParameters;
};
template <class Io>
void fields(Io& io, MonitoredItemCreateRequest& v) {
    io(v.itemToMonitor), io(v.monitoringMode), io(v.requestedParameters);
}

struct MonitoredItemCreateResult {
    StatusCode statusCode;
    std::uint32_t monitoredItemId = 0;
    double revisedSamplingInterval = 0;
    std::uint32_t revisedQueueSize = 0;
    ExtensionObject filterResult;
};
template <class Io>
void fields(Io& io, MonitoredItemCreateResult& v) {
    io(v.statusCode), io(v.monitoredItemId), io(v.revisedSamplingInterval), io(v.revisedQueueSize);
    io(v.filterResult);
}

struct CreateMonitoredItemsRequest {
    RequestHeader requestHeader;
    std::uint32_t subscriptionId = 0;
    TimestampsToReturn timestampsToReturn = TimestampsToReturn::Both;
    std::vector<MonitoredItemCreateRequest> itemsToCreate;
};
template <class Io>
void fields(Io& io, CreateMonitoredItemsRequest& v) {
    io(v.requestHeader), io(v.subscriptionId), io(v.timestampsToReturn), io(v.itemsToCreate);
}

struct CreateMonitoredItemsResponse {
    ResponseHeader responseHeader;
    std::vector<MonitoredItemCreateResult> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
};
template <class Io>
void fields(Io& io, CreateMonitoredItemsResponse& v) {
    io(v.responseHeader), io(v.results), io(v.diagnosticInfos);
}

struct MonitoredItemModifyRequest {
    std::uint32_t monitoredItemId = 0;
    MonitoringParameters requestedParameters;
};
template <class Io>
void fields(Io& io, MonitoredItemModifyRequest& v) {
    io(v.monitoredItemId), io(v.requestedParameters);
}

struct MonitoredItemModifyResult {
    StatusCode statusCode;
    double revisedSamplingInterval = 0;
    std::uint32_t revisedQueueSize = 0;
    ExtensionObject filterResult;
};
template <class Io>
void fields(Io& io, MonitoredItemModifyResult& v) {
    io(v.statusCode), io(v.revisedSamplingInterval), io(v.revisedQueueSize), io(v.filterResult);
}

struct ModifyMonitoredItemsRequest {
    RequestHeader requestHeader;
    std::uint32_t subscriptionId = 0;
    TimestampsToReturn timestampsToReturn = TimestampsToReturn::Both;
    std::vector<MonitoredItemModifyRequest> itemsToModify;
};
template <class Io>
void fields(Io& io, ModifyMonitoredItemsRequest& v) {
    io(v.requestHeader), io(v.subscriptionId), io(v.timestampsToReturn), io(v.itemsToModify);
}

struct ModifyMonitoredItemsResponse {
    ResponseHeader responseHeader;
    std::vector<MonitoredItemModifyResult> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
};
template <class Io>
void fields(Io& io, ModifyMonitoredItemsResponse& v) {
    io(v.responseHeader), io(v.results), io(v.diagnosticInfos);
}

struct SetMonitoringModeRequest {
    RequestHeader requestHeader;
    std::uint32_t subscriptionId = 0;
    MonitoringMode monitoringMode = MonitoringMode::Reporting;
    std::vector<std::uint32_t> monitoredItemIds;
};
template <class Io>
void fields(Io& io, SetMonitoringModeRequest& v) {
    io(v.requestHeader), io(v.subscriptionId), io(v.monitoringMode), io(v.monitoredItemIds);
}

struct DeleteMonitoredItemsRequest {
    RequestHeader requestHeader;
    std::uint32_t subscriptionId = 0;
    std::vector<std::uint32_t> monitoredItemIds;
};
template <class Io>
void fields(Io& io, DeleteMonitoredItemsRequest& v) {
    io(v.requestHeader), io(v.subscriptionId), io(v.monitoredItemIds);
}

struct CreateSubscriptionRequest {
    RequestHeader requestHeader;
    double requestedPublishingInterval = 0;
    std::uint32_t requestedLifetimeCount = 0, requestedMaxKeepAliveCount = 0, maxNotificationsPerPublish = 0;
    bool publishingEnabled = true;
    std::uint8_t priority = 0;
};
template <class Io>
void fields(Io& io, CreateSubscriptionRequest& v) {
    io(v.requestHeader), io(v.requestedPublishingInterval), io(v.requestedLifetimeCount);
    io(v.requestedMaxKeepAliveCount), io(v.maxNotificationsPerPublish), io(v.publishingEnabled),
        io(v.priority);
}

struct CreateSubscriptionResponse {
    ResponseHeader responseHeader;
    std::uint32_t subscriptionId = 0;
    double revisedPublishingInterval = 0;
    std::uint32_t revisedLifetimeCount = 0, revisedMaxKeepAliveCount = 0;
};
template <class Io>
void fields(Io& io, CreateSubscriptionResponse& v) {
    io(v.responseHeader), io(v.subscriptionId), io(v.revisedPublishingInterval), io(v.revisedLifetimeCount);
    io(v.revisedMaxKeepAliveCount);
}

struct ModifySubscriptionRequest {
    RequestHeader requestHeader;
    std::uint32_t subscriptionId = 0;
    double requestedPublishingInterval = 0;
    std::uint32_t requestedLifetimeCount = 0, requestedMaxKeepAliveCount = 0, maxNotificationsPerPublish = 0;
    std::uint8_t priority = 0;
};
template <class Io>
void fields(Io& io, ModifySubscriptionRequest& v) {
    io(v.requestHeader), io(v.subscriptionId), io(v.requestedPublishingInterval),
        io(v.requestedLifetimeCount);
    io(v.requestedMaxKeepAliveCount), io(v.maxNotificationsPerPublish), io(v.priority);
}

struct ModifySubscriptionResponse {
    ResponseHeader responseHeader;
    double revisedPublishingInterval = 0;
    std::uint32_t revisedLifetimeCount = 0, revisedMaxKeepAliveCount = 0;
};
template <class Io>
void fields(Io& io, ModifySubscriptionResponse& v) {
    io(v.responseHeader), io(v.revisedPublishingInterval), io(v.revisedLifetimeCount);
    io(v.revisedMaxKeepAliveCount);
}

struct SetPublishingModeRequest {
    RequestHeader requestHeader;
    bool publishingEnabled = true;
    std::vector<std::uint32_t> subscriptionIds;
};
template <class Io>
void fields(Io& io, SetPublishingModeRequest& v) {
    io(v.requestHeader), io(v.publishingEnabled), io(v.subscriptionIds);
}

// DeleteSubscriptions carries a list of subscription ids alone.
struct SubscriptionListRequest {
    RequestHeader requestHeader;
    std::vector<std::uint32_t> subscriptionIds;
};
template <class Io>
void fields(Io& io, SubscriptionListRequest& v) {
    io(v.requestHeader), io(v.subscriptionIds);
}

struct MonitoredItemNotification {
    std::uint32_t clientHandle = 0;
    DataValue value;
};
template <class Io>
void fields(Io& io, MonitoredItemNotification& v) {
    io(v.clientHandle), io(v.value);
}

struct DataChangeNotification {
    std::vector<MonitoredItemNotification> monitoredItems;
    std::vector<DiagnosticInfo> diagnosticInfos;
};
template <class Io>
void fields(Io& io, DataChangeNotification& v) {
    io(v.monitoredItems), io(v.diagnosticInfos);
}

struct StatusChangeNotification {
    StatusCode status;
    DiagnosticInfo diagnosticInfo;
};
template <class Io>
void fields(Io& io, StatusChangeNotification& v) {
    io(v.status), io(v.diagnosticInfo);
}

struct NotificationMessage {
    std::uint32_t sequenceNumber = 0;
    DateTime publishTime;
    std::vector<ExtensionObject> notificationData;
};
template <class Io>
void fields(Io& io, NotificationMessage& v) {
    io(v.sequenceNumber), io(v.publishTime), io(v.notificationData);
}

struct SubscriptionAcknowledgement {
    std::uint32_t subscriptionId = 0, sequenceNumber = 0;
};
template <class Io>
void fields(Io& io, SubscriptionAcknowledgement& v) {
    io(v.subscriptionId), io(v.sequenceNumber);
}

struct PublishRequest {
    RequestHeader requestHeader;
    std::vector<SubscriptionAcknowledgement> subscriptionAcknowledgements;
};
template <class Io>
void fields(Io& io, PublishRequest& v) {
    io(v.requestHeader), io(v.subscriptionAcknowledgements);
}

struct PublishResponse {
    ResponseHeader responseHeader;
    std::uint32_t subscriptionId = 0;
    std::vector<std::uint32_t> availableSequenceNumbers;
    bool moreNotifications = false;
    NotificationMessage notificationMessage;
    std::vector<StatusCode> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
};
template <class Io>
void fields(Io& io, PublishResponse& v) {
    io(v.responseHeader), io(v.subscriptionId), io(v.availableSequenceNumbers), io(v.moreNotifications);
    io(v.notificationMessage), io(v.results), io(v.diagnosticInfos);
}

struct RepublishRequest {
    RequestHeader requestHeader;
    std::uint32_t subscriptionId = 0, retransmitSequenceNumber = 0;
};
template <class Io>
void fields(Io& io, RepublishRequest& v) {
    io(v.requestHeader), io(v.subscriptionId), io(v.retransmitSequenceNumber);
}

struct RepublishResponse {
    ResponseHeader responseHeader;
    NotificationMessage notificationMessage;
};
template <class Io>
void fields(Io& io, RepublishResponse& v) {
    io(v.responseHeader), io(v.notificationMessage);
}

}  // namespace ferrow::ua
