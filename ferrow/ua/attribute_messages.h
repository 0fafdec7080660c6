#pragma once

#include "ferrow/ua/common_messages.h"

// The attribute service set: Read and Write.
namespace ferrow::ua {

enum class TimestampsToReturn : std::int32_t { Source = 0, Server = 1, Both = 2, Neither = 3, Invalid = 4 };

enum class AttributeId : std::uint32_t {
    NodeId = 1,
    NodeClass = 2,
    BrowseName = 3,
    DisplayName = 4,
    Description = 5,
    WriteMask = 6,
    UserWriteMask = 7,
    IsAbstract = 8,
    Symmetric = 9,
    InverseName = 10,
    ContainsNoLoops = 11,
    EventNotifier = 12,
    Value = 13,
    DataType = 14,
    ValueRank = 15,
    ArrayDimensions = 16,
    AccessLevel = 17,
    UserAccessLevel = 18,
    MinimumSamplingInterval = 19,
    Historizing = 20,
    Executable = 21,
    UserExecutable = 22
};

struct ReadValueId {
    NodeId nodeId;
    std::uint32_t attributeId = 13;
    std::string indexRange;
    QualifiedName dataEncoding;
};
template <class Io>
void fields(Io& io, ReadValueId& v) {
    io(v.nodeId), io(v.attributeId), io(v.indexRange), io(v.dataEncoding);
}

struct ReadRequest {
    RequestHeader requestHeader;
    double maxAge = 0;
    TimestampsToReturn timestampsToReturn = TimestampsToReturn::Both;
    std::vector<ReadValueId> nodesToRead;
};
template <class Io>
void fields(Io& io, ReadRequest& v) {
    io(v.requestHeader), io(v.maxAge), io(v.timestampsToReturn), io(v.nodesToRead);
}

struct ReadResponse {
    ResponseHeader responseHeader;
    std::vector<DataValue> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
};
template <class Io>
void fields(Io& io, ReadResponse& v) {
    io(v.responseHeader), io(v.results), io(v.diagnosticInfos);
}

struct WriteValue {
    NodeId nodeId;
    std::uint32_t attributeId = 13;
    std::string indexRange;
    DataValue value;
};
template <class Io>
void fields(Io& io, WriteValue& v) {
    io(v.nodeId), io(v.attributeId), io(v.indexRange), io(v.value);
}

struct WriteRequest {
    RequestHeader requestHeader;
    std::vector<WriteValue> nodesToWrite;
};
template <class Io>
void fields(Io& io, WriteRequest& v) {
    io(v.requestHeader), io(v.nodesToWrite);
}

// Responses that are a status per operation (Write, SetMonitoringMode, DeleteMonitoredItems,
// SetPublishingMode, DeleteSubscriptions).
struct StatusListResponse {
    ResponseHeader responseHeader;
    std::vector<StatusCode> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
};
template <class Io>
void fields(Io& io, StatusListResponse& v) {
    io(v.responseHeader), io(v.results), io(v.diagnosticInfos);
}

}  // namespace ferrow::ua
