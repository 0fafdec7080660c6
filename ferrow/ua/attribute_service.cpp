// The attribute service set: Read and Write.
#include <cmath>

#include "ferrow/ua/node_attributes.h"
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/server_core.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/tag_mapping.h"

namespace ferrow::ua {

namespace {

constexpr std::uint8_t kAccessLevelCurrentWrite = 0x02;

DataValue statusOnly(std::uint32_t code) {
    DataValue value;
    value.status = StatusCode{code};
    return value;
}

std::uint32_t statusOfWrite(WriteOutcome outcome) {
    switch (outcome) {
        case WriteOutcome::Accepted:
            return status::Good;
        case WriteOutcome::UnknownTag:
            return status::BadNodeIdUnknown;
        case WriteOutcome::NotWritable:
            return status::BadNotWritable;
        case WriteOutcome::DeviceRefused:
            return status::BadDeviceFailure;
        case WriteOutcome::NoCommunication:
            return status::BadNoCommunication;
    }
    return status::BadInternalError;
}

}  // namespace

void UaServerCore::read(RequestContext& context, ReadRequest& request) {
    if (std::isnan(request.maxAge) || request.maxAge < 0) return fault(context, status::BadMaxAgeInvalid);
    if (static_cast<std::uint32_t>(request.timestampsToReturn) > 3)
        return fault(context, status::BadTimestampsToReturnInvalid);
    if (!checkOperationCount(context, request.nodesToRead.size())) return;
    const TimestampsToReturn timestamps = request.timestampsToReturn;
    ReadResponse response;
    response.results.resize(request.nodesToRead.size());
    std::vector<std::size_t> deviceReads;
    std::vector<std::string> deviceItems;
    const DateTime now = DateTime::now();
    for (std::size_t i = 0; i < request.nodesToRead.size(); ++i) {
        const ReadValueId& item = request.nodesToRead[i];
        DataValue& result = response.results[i];
        const Node* node = space_.find(item.nodeId);
        if (!node) {
            result = statusOnly(status::BadNodeIdUnknown);
            continue;
        }
        if (!hasAttribute(*node, item.attributeId)) {
            result = statusOnly(status::BadAttributeIdInvalid);
            continue;
        }
        const bool isValue = item.attributeId == static_cast<std::uint32_t>(AttributeId::Value);
        if (!item.indexRange.empty()) {
            result = statusOnly(isValue ? status::BadIndexRangeNoData : status::BadIndexRangeInvalid);
            continue;
        }
        if (!item.dataEncoding.name.empty() && item.dataEncoding.name != "Default Binary") {
            result = statusOnly(status::BadDataEncodingUnsupported);
            continue;
        }
        if (isValue && node->tag) {
            if (request.maxAge == 0) {
                deviceReads.push_back(i);
                deviceItems.push_back(node->tag->itemId);
                continue;
            }
            const auto sample = source_.readCached(node->tag->itemId);
            result = sample ? dataValueOfSample(*sample) : statusOnly(status::BadNodeIdUnknown);
        } else {
            result.value = attributeValue(*node, item.attributeId, {});
            if (isValue) result.sourceTimestamp = now;
            // What this session's user may do: writing needs a user unless anonymous writes are allowed.
            if (item.attributeId == static_cast<std::uint32_t>(AttributeId::UserAccessLevel) &&
                !context.session->mayWrite)
                result.value =
                    Variant::of(static_cast<std::uint8_t>(node->accessLevel & ~kAccessLevelCurrentWrite));
        }
        if (isValue) applyTimestamps(result, timestamps, now);
    }
    if (deviceReads.empty()) return reply(context, id::ReadResponse, response);

    // The devices answer later; the response waits for them and holds up nothing else.
    auto pending = std::make_shared<ReadResponse>(std::move(response));
    source_.readFromDevice(deviceItems, [this, post = poster(), context, pending, deviceReads,
                                         timestamps](std::vector<std::optional<TagSample>> samples) mutable {
        post([this, context, pending, deviceReads, timestamps, samples = std::move(samples)] {
            const DateTime now = DateTime::now();
            for (std::size_t k = 0; k < deviceReads.size(); ++k) {
                DataValue& result = pending->results[deviceReads[k]];
                result = k < samples.size() && samples[k] ? dataValueOfSample(*samples[k])
                                                          : statusOnly(status::BadNoCommunication);
                applyTimestamps(result, timestamps, now);
            }
            reply(context, id::ReadResponse, *pending);
        });
    });
}

void UaServerCore::write(RequestContext& context, WriteRequest& request) {
    if (!checkOperationCount(context, request.nodesToWrite.size())) return;
    StatusListResponse response;
    response.results.resize(request.nodesToWrite.size());
    std::vector<std::size_t> deviceWrites;
    std::vector<std::pair<std::string, TagValue>> items;
    for (std::size_t i = 0; i < request.nodesToWrite.size(); ++i) {
        const WriteValue& item = request.nodesToWrite[i];
        std::uint32_t& result = response.results[i].code;
        const Node* node = space_.find(item.nodeId);
        if (!node) {
            result = status::BadNodeIdUnknown;
        } else if (!hasAttribute(*node, item.attributeId)) {
            result = status::BadAttributeIdInvalid;
        } else if (item.attributeId != static_cast<std::uint32_t>(AttributeId::Value) || !node->tag ||
                   !node->tag->writable) {
            result = status::BadNotWritable;
        } else if (!context.session->mayWrite) {
            result = status::BadUserAccessDenied;
        } else if (!item.indexRange.empty() || item.value.status || item.value.sourceTimestamp ||
                   item.value.serverTimestamp) {
            result = status::BadWriteNotSupported;
        } else if (auto value =
                       item.value.value ? tagValueOf(*item.value.value, node->tag->type) : std::nullopt) {
            deviceWrites.push_back(i);
            items.emplace_back(node->tag->itemId, std::move(*value));
        } else {
            result = status::BadTypeMismatch;
        }
    }
    if (deviceWrites.empty()) return reply(context, id::WriteResponse, response);

    auto pending = std::make_shared<StatusListResponse>(std::move(response));
    source_.write(std::move(items), [this, post = poster(), context, pending,
                                     deviceWrites](std::vector<WriteOutcome> outcomes) {
        post([this, context, pending, deviceWrites, outcomes] {
            for (std::size_t k = 0; k < deviceWrites.size(); ++k)
                pending->results[deviceWrites[k]].code =
                    k < outcomes.size() ? statusOfWrite(outcomes[k]) : status::BadNoCommunication;
            reply(context, id::WriteResponse, *pending);
        });
    });
}

}  // namespace ferrow::ua
