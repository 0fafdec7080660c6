#pragma once

#include "ferrow/ua/common_messages.h"

// The view service set: Browse, BrowseNext, TranslateBrowsePathsToNodeIds, RegisterNodes, UnregisterNodes.
namespace ferrow::ua {

enum class BrowseDirection : std::int32_t { Forward = 0, Inverse = 1, Both = 2, Invalid = 3 };
enum class NodeClass : std::int32_t {
    Unspecified = 0,
    Object = 1,
    Variable = 2,
    Method = 4,
    ObjectType = 8,
    VariableType = 16,
    ReferenceType = 32,
    DataType = 64,
    View = 128
};

struct ViewDescription {
    NodeId viewId;
    DateTime timestamp;
    std::uint32_t viewVersion = 0;
};
template <class Io>
void fields(Io& io, ViewDescription& v) {
    io(v.viewId), io(v.timestamp), io(v.viewVersion);
}

struct BrowseDescription {
    NodeId nodeId;
    BrowseDirection browseDirection = BrowseDirection::Forward;
    NodeId referenceTypeId;
    bool includeSubtypes = true;
    std::uint32_t nodeClassMask = 0, resultMask = 0x3F;
};
template <class Io>
void fields(Io& io, BrowseDescription& v) {
    io(v.nodeId), io(v.browseDirection), io(v.referenceTypeId), io(v.includeSubtypes);
    io(v.nodeClassMask), io(v.resultMask);
}

struct ReferenceDescription {
    NodeId referenceTypeId;
    bool isForward = true;
    ExpandedNodeId nodeId;
    QualifiedName browseName;
    LocalizedText displayName;
    NodeClass nodeClass = NodeClass::Unspecified;
    ExpandedNodeId typeDefinition;
};
template <class Io>
void fields(Io& io, ReferenceDescription& v) {
    io(v.referenceTypeId), io(v.isForward), io(v.nodeId), io(v.browseName), io(v.displayName);
    io(v.nodeClass), io(v.typeDefinition);
}

struct BrowseResult {
    StatusCode statusCode;
    ByteString continuationPoint;
    std::vector<ReferenceDescription> references;
};
template <class Io>
void fields(Io& io, BrowseResult& v) {
    io(v.statusCode), io(v.continuationPoint), io(v.references);
}

struct BrowseRequest {
    RequestHeader requestHeader;
    ViewDescription view;
    std::uint32_t requestedMaxReferencesPerNode = 0;
    std::vector<BrowseDescription> nodesToBrowse;
};
template <class Io>
void fields(Io& io, BrowseRequest& v) {
    io(v.requestHeader), io(v.view), io(v.requestedMaxReferencesPerNode), io(v.nodesToBrowse);
}

struct BrowseResponse {
    ResponseHeader responseHeader;
    std::vector<BrowseResult> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
};
template <class Io>
void fields(Io& io, BrowseResponse& v) {
    io(v.responseHeader), io(v.results), io(v.diagnosticInfos);
}

struct BrowseNextRequest {
    RequestHeader requestHeader;
    bool releaseContinuationPoints = false;
    std::vector<ByteString> continuationPoints;
};
template <class Io>
void fields(Io& io, BrowseNextRequest& v) {
    io(v.requestHeader), io(v.releaseContinuationPoints), io(v.continuationPoints);
}

struct RelativePathElement {
    NodeId referenceTypeId;
    bool isInverse = false, includeSubtypes = true;
    QualifiedName targetName;
};
template <class Io>
void fields(Io& io, RelativePathElement& v) {
    io(v.referenceTypeId), io(v.isInverse), io(v.includeSubtypes), io(v.targetName);
}

struct BrowsePath {
    NodeId startingNode;
    std::vector<RelativePathElement> elements;  // the RelativePath structure holds only this array
};
template <class Io>
void fields(Io& io, BrowsePath& v) {
    io(v.startingNode), io(v.elements);
}

struct BrowsePathTarget {
    ExpandedNodeId targetId;
    std::uint32_t remainingPathIndex = 0xFFFFFFFF;
};
template <class Io>
void fields(Io& io, BrowsePathTarget& v) {
    io(v.targetId), io(v.remainingPathIndex);
}

struct BrowsePathResult {
    StatusCode statusCode;
    std::vector<BrowsePathTarget> targets;
};
template <class Io>
void fields(Io& io, BrowsePathResult& v) {
    io(v.statusCode), io(v.targets);
}

struct TranslateBrowsePathsRequest {
    RequestHeader requestHeader;
    std::vector<BrowsePath> browsePaths;
};
template <class Io>
void fields(Io& io, TranslateBrowsePathsRequest& v) {
    io(v.requestHeader), io(v.browsePaths);
}

struct TranslateBrowsePathsResponse {
    ResponseHeader responseHeader;
    std::vector<BrowsePathResult> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
};
template <class Io>
void fields(Io& io, TranslateBrowsePathsResponse& v) {
    io(v.responseHeader), io(v.results), io(v.diagnosticInfos);
}

// RegisterNodes and UnregisterNodes carry the same list.
struct NodeListRequest {
    RequestHeader requestHeader;
    std::vector<NodeId> nodes;
};
template <class Io>
void fields(Io& io, NodeListRequest& v) {
    io(v.requestHeader), io(v.nodes);
}

struct RegisterNodesResponse {
    ResponseHeader responseHeader;
    std::vector<NodeId> registeredNodeIds;
};
template <class Io>
void fields(Io& io, RegisterNodesResponse& v) {
    io(v.responseHeader), io(v.registeredNodeIds);
}

}  // namespace ferrow::ua
