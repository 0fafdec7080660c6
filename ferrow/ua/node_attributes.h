#pragma once

#include <optional>

#include "ferrow/ua/address_space.h"
#include "ferrow/ua/attribute_messages.h"

namespace ferrow::ua {

// Whether a node of its class has the attribute.
bool hasAttribute(const Node& node, std::uint32_t attributeId);
// Every attribute but a tag's Value, as the node defines it; nothing when the node has no such attribute.
std::optional<Variant> attributeValue(const Node& node, std::uint32_t attributeId,
                                      const NodeId& typeDefinition);
// A tag's sample as a Value: the value, its quality as a status and the tag's time.
DataValue dataValueOfSample(const TagSample& sample);
// Keeps the timestamps the client asked for and adds the server's where asked.
void applyTimestamps(DataValue& value, TimestampsToReturn which, DateTime serverTime);

}  // namespace ferrow::ua
