#include "ferrow/ua/node_attributes.h"

#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/tag_mapping.h"

namespace ferrow::ua {

bool hasAttribute(const Node& node, std::uint32_t attributeId) {
    using A = AttributeId;
    const auto a = static_cast<A>(attributeId);
    switch (a) {
        case A::NodeId:
        case A::NodeClass:
        case A::BrowseName:
        case A::DisplayName:
        case A::Description:
        case A::WriteMask:
        case A::UserWriteMask:
            return true;
        default:
            break;
    }
    switch (node.nodeClass) {
        case NodeClass::Object:
            return a == A::EventNotifier;
        case NodeClass::Variable:
            return a == A::Value || a == A::DataType || a == A::ValueRank || a == A::ArrayDimensions ||
                   a == A::AccessLevel || a == A::UserAccessLevel || a == A::MinimumSamplingInterval ||
                   a == A::Historizing;
        case NodeClass::VariableType:
            return a == A::DataType || a == A::ValueRank || a == A::ArrayDimensions || a == A::IsAbstract;
        case NodeClass::ObjectType:
        case NodeClass::DataType:
            return a == A::IsAbstract;
        case NodeClass::ReferenceType:
            return a == A::IsAbstract || a == A::Symmetric || a == A::InverseName;
        default:
            return false;
    }
}

std::optional<Variant> attributeValue(const Node& node, std::uint32_t attributeId, const NodeId&) {
    if (!hasAttribute(node, attributeId)) return std::nullopt;
    using A = AttributeId;
    switch (static_cast<A>(attributeId)) {
        case A::NodeId:
            return Variant::of(node.id);
        case A::NodeClass:
            return Variant::of(static_cast<std::int32_t>(node.nodeClass));
        case A::BrowseName:
            return Variant::of(node.browseName);
        case A::DisplayName:
            return Variant::of(node.displayName);
        case A::Description:
            return Variant::of(LocalizedText{});
        case A::WriteMask:
        case A::UserWriteMask:
            return Variant::of(std::uint32_t{0});
        case A::EventNotifier:
            return Variant::of(std::uint8_t{0});
        case A::Value:
            return node.value ? node.value() : Variant();
        case A::DataType:
            return Variant::of(node.dataType);
        case A::ValueRank:
            return Variant::of(node.valueRank);
        case A::ArrayDimensions:
            return node.valueRank > 0 ? Variant::arrayOf(std::vector<std::uint32_t>(node.valueRank, 0))
                                      : Variant();
        case A::AccessLevel:
        case A::UserAccessLevel:
            return Variant::of(node.accessLevel);
        case A::MinimumSamplingInterval:
            return Variant::of(0.0);
        case A::Historizing:
            return Variant::of(false);
        case A::IsAbstract:
            return Variant::of(node.isAbstract);
        case A::Symmetric:
            return Variant::of(node.symmetric);
        case A::InverseName:
            return Variant::of(node.inverseName);
        default:
            return std::nullopt;
    }
}

DataValue dataValueOfSample(const TagSample& sample) {
    DataValue value;
    value.value = variantOf(sample.value);
    const std::uint32_t code = statusOfQuality(sample.quality);
    if (code != status::Good) value.status = StatusCode{code};
    if (sample.timestamp.ticks != 0) value.sourceTimestamp = sample.timestamp;
    return value;
}

void applyTimestamps(DataValue& value, TimestampsToReturn which, DateTime serverTime) {
    if (which == TimestampsToReturn::Server || which == TimestampsToReturn::Neither)
        value.sourceTimestamp.reset();
    if (which == TimestampsToReturn::Server || which == TimestampsToReturn::Both)
        value.serverTimestamp = serverTime;
}

}  // namespace ferrow::ua
