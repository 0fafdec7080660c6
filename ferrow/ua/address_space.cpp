#include "ferrow/ua/address_space.h"

#include <algorithm>

#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/tag_mapping.h"

namespace ferrow::ua {

const Node* AddressSpace::find(const NodeId& id) const {
    const auto it = nodes_.find(id);
    return it == nodes_.end() ? nullptr : it->second.get();
}

Node& AddressSpace::add(Node node) {
    NodeId id = node.id;
    std::unique_ptr<Node>& held = nodes_[std::move(id)];
    if (held)
        *held = std::move(node);
    else
        held = std::make_unique<Node>(std::move(node));
    return *held;
}

void AddressSpace::link(const NodeId& source, std::uint32_t referenceType, const NodeId& target) {
    const NodeId type = NodeId::numericId(referenceType);
    if (auto it = nodes_.find(source); it != nodes_.end())
        it->second->references.push_back({type, true, target});
    // Type definitions are not told of their instances: a type would collect one reference per tag.
    if (referenceType == id::HasTypeDefinition) return;
    if (auto it = nodes_.find(target); it != nodes_.end())
        it->second->references.push_back({type, false, source});
}

bool AddressSpace::isSubtypeOf(const NodeId& type, const NodeId& base) const {
    NodeId current = type;
    for (int depth = 0; depth < 32; ++depth) {
        if (current == base) return true;
        const Node* node = find(current);
        if (!node) return false;
        const auto parent = std::find_if(
            node->references.begin(), node->references.end(),
            [](const Reference& r) { return !r.isForward && r.type == NodeId::numericId(id::HasSubtype); });
        if (parent == node->references.end()) return false;
        current = parent->target;
    }
    return false;
}

NodeId AddressSpace::typeDefinitionOf(const Node& node) const {
    for (const Reference& r : node.references)
        if (r.isForward && r.type == NodeId::numericId(id::HasTypeDefinition)) return r.target;
    return {};
}

void AddressSpace::removeDeviceNodes() {
    std::erase_if(nodes_, [](const auto& entry) { return entry.first.ns == kDeviceNamespace; });
    for (auto& [id, node] : nodes_)
        std::erase_if(node->references, [](const Reference& r) { return r.target.ns == kDeviceNamespace; });
}

void AddressSpace::setDevices(const std::vector<FolderInfo>& devices) {
    removeDeviceNodes();
    for (const FolderInfo& device : devices) addFolder(device, NodeId::numericId(id::ObjectsFolder));
}

void AddressSpace::addFolder(const FolderInfo& folder, const NodeId& parent) {
    Node node;
    node.id = NodeId::stringId(kDeviceNamespace, folder.path);
    node.nodeClass = NodeClass::Object;
    node.browseName = {kDeviceNamespace, folder.name};
    node.displayName = {std::nullopt, folder.name};
    const NodeId folderId = add(std::move(node)).id;
    link(parent, id::Organizes, folderId);
    link(folderId, id::HasTypeDefinition, NodeId::numericId(id::FolderType));
    for (const FolderInfo& child : folder.folders) addFolder(child, folderId);
    for (const TagInfo& tag : folder.tags) {
        Node variable;
        variable.id = NodeId::stringId(kDeviceNamespace, tag.itemId);
        variable.nodeClass = NodeClass::Variable;
        variable.browseName = {kDeviceNamespace, tag.name};
        variable.displayName = {std::nullopt, tag.name};
        variable.tag = tag;
        variable.dataType = NodeId::numericId(dataTypeOf(tag.type));
        variable.accessLevel = tag.writable ? 3 : 1;
        const NodeId tagId = add(std::move(variable)).id;
        link(folderId, id::HasComponent, tagId);
        link(tagId, id::HasTypeDefinition, NodeId::numericId(id::BaseDataVariableType));
    }
}

}  // namespace ferrow::ua
