// The view service set: Browse, BrowseNext, TranslateBrowsePathsToNodeIds, RegisterNodes, UnregisterNodes.
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/server_core.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/transport_limits.h"

namespace ferrow::ua {

namespace {

enum ResultMask : std::uint32_t {
    kReferenceType = 0x01,
    kIsForward = 0x02,
    kNodeClass = 0x04,
    kBrowseName = 0x08,
    kDisplayName = 0x10,
    kTypeDefinition = 0x20
};

bool referenceMatches(const AddressSpace& space, const Reference& reference, const NodeId& wanted,
                      bool includeSubtypes) {
    if (wanted.isNull() || wanted == reference.type) return true;
    return includeSubtypes && space.isSubtypeOf(reference.type, wanted);
}

}  // namespace

BrowseResult UaServerCore::browseOne(Session& session, const BrowseDescription& description,
                                     std::uint32_t maxReferences) {
    BrowseResult result;
    const Node* node = space_.find(description.nodeId);
    if (!node) return BrowseResult{StatusCode{status::BadNodeIdUnknown}, {}, {}};
    if (static_cast<std::uint32_t>(description.browseDirection) > 2)
        return BrowseResult{StatusCode{status::BadBrowseDirectionInvalid}, {}, {}};
    if (!description.referenceTypeId.isNull()) {
        const Node* type = space_.find(description.referenceTypeId);
        if (!type || type->nodeClass != NodeClass::ReferenceType)
            return BrowseResult{StatusCode{status::BadReferenceTypeIdInvalid}, {}, {}};
    }
    ContinuationPoint all;
    all.maxPerCall = maxReferences;
    for (const Reference& reference : node->references) {
        const bool directionOk =
            description.browseDirection == BrowseDirection::Both ||
            reference.isForward == (description.browseDirection == BrowseDirection::Forward);
        if (!directionOk ||
            !referenceMatches(space_, reference, description.referenceTypeId, description.includeSubtypes))
            continue;
        const Node* target = space_.find(reference.target);
        if (!target) continue;
        if (description.nodeClassMask != 0 &&
            (description.nodeClassMask & static_cast<std::uint32_t>(target->nodeClass)) == 0)
            continue;
        const std::uint32_t mask = description.resultMask;
        ReferenceDescription out;
        if (mask & kReferenceType) out.referenceTypeId = reference.type;
        out.isForward = reference.isForward;
        out.nodeId.nodeId = target->id;
        if (mask & kNodeClass) out.nodeClass = target->nodeClass;
        if (mask & kBrowseName) out.browseName = target->browseName;
        if (mask & kDisplayName) out.displayName = target->displayName;
        if ((mask & kTypeDefinition) &&
            (target->nodeClass == NodeClass::Object || target->nodeClass == NodeClass::Variable))
            out.typeDefinition.nodeId = space_.typeDefinitionOf(*target);
        all.remaining.push_back(std::move(out));
    }
    return takeReferences(session, std::move(all));
}

BrowseResult UaServerCore::takeReferences(Session& session, ContinuationPoint point) {
    BrowseResult result;
    if (point.maxPerCall == 0 || point.remaining.size() <= point.maxPerCall) {
        result.references = std::move(point.remaining);
        return result;
    }
    if (session.continuationPoints.size() >= limits::kMaxContinuationPointsPerSession)
        return BrowseResult{StatusCode{status::BadNoContinuationPoints}, {}, {}};
    const auto split = point.remaining.begin() + point.maxPerCall;
    result.references.assign(std::make_move_iterator(point.remaining.begin()),
                             std::make_move_iterator(split));
    point.remaining.erase(point.remaining.begin(), split);
    const std::string key = "cp" + std::to_string(session.nextContinuationPoint++);
    result.continuationPoint = ByteString(key);
    session.continuationPoints[key] = std::move(point);
    return result;
}

void UaServerCore::browse(RequestContext& context, BrowseRequest& request) {
    if (!request.view.viewId.isNull()) return fault(context, status::BadViewIdUnknown);
    if (!checkOperationCount(context, request.nodesToBrowse.size())) return;
    BrowseResponse response;
    for (const BrowseDescription& description : request.nodesToBrowse)
        response.results.push_back(
            browseOne(*context.session, description, request.requestedMaxReferencesPerNode));
    reply(context, id::BrowseResponse, response);
}

void UaServerCore::browseNext(RequestContext& context, BrowseNextRequest& request) {
    if (!checkOperationCount(context, request.continuationPoints.size())) return;
    BrowseResponse response;
    auto& points = context.session->continuationPoints;
    for (const ByteString& key : request.continuationPoints) {
        const auto it = points.find(key.bytes);
        if (it == points.end()) {
            response.results.push_back(BrowseResult{StatusCode{status::BadContinuationPointInvalid}, {}, {}});
            continue;
        }
        ContinuationPoint point = std::move(it->second);
        points.erase(it);
        response.results.push_back(request.releaseContinuationPoints
                                       ? BrowseResult()
                                       : takeReferences(*context.session, std::move(point)));
    }
    reply(context, id::BrowseNextResponse, response);
}

void UaServerCore::translateBrowsePaths(RequestContext& context, TranslateBrowsePathsRequest& request) {
    if (!checkOperationCount(context, request.browsePaths.size())) return;
    TranslateBrowsePathsResponse response;
    for (const BrowsePath& path : request.browsePaths) {
        BrowsePathResult result;
        if (!space_.find(path.startingNode)) {
            result.statusCode.code = status::BadNodeIdUnknown;
        } else if (path.elements.empty()) {
            result.statusCode.code = status::BadNothingToDo;
        } else {
            std::vector<NodeId> current{path.startingNode};
            for (const RelativePathElement& element : path.elements) {
                if (element.targetName.name.empty()) {
                    result.statusCode.code = status::BadBrowseNameInvalid;
                    break;
                }
                std::vector<NodeId> next;
                for (const NodeId& from : current) {
                    for (const Reference& reference : space_.find(from)->references) {
                        if (reference.isForward == element.isInverse ||
                            !referenceMatches(space_, reference, element.referenceTypeId,
                                              element.includeSubtypes))
                            continue;
                        const Node* target = space_.find(reference.target);
                        if (target && target->browseName == element.targetName) next.push_back(target->id);
                    }
                }
                current = std::move(next);
                if (current.empty()) break;
            }
            if (result.statusCode.code == status::Good && current.empty())
                result.statusCode.code = status::BadNoMatch;
            if (result.statusCode.code == status::Good)
                for (const NodeId& target : current)
                    result.targets.push_back({ExpandedNodeId{target, {}, 0}, 0xFFFFFFFF});
        }
        response.results.push_back(std::move(result));
    }
    reply(context, id::TranslateBrowsePathsResponse, response);
}

void UaServerCore::registerNodes(RequestContext& context, NodeListRequest& request) {
    if (!checkOperationCount(context, request.nodes.size())) return;
    RegisterNodesResponse response;
    response.registeredNodeIds = std::move(request.nodes);  // the nodes are as fast to reach as they get
    reply(context, id::RegisterNodesResponse, response);
}

void UaServerCore::unregisterNodes(RequestContext& context, NodeListRequest& request) {
    if (!checkOperationCount(context, request.nodes.size())) return;
    HeaderOnlyResponse response;
    reply(context, id::UnregisterNodesResponse, response);
}

}  // namespace ferrow::ua
