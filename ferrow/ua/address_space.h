#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "ferrow/ua/data_source.h"
#include "ferrow/ua/view_messages.h"

namespace ferrow::ua {

inline constexpr std::uint16_t kDeviceNamespace = 2;
inline constexpr const char* kDeviceNamespaceUri = "urn:quillon:ferrow:devices";

struct Reference {
    NodeId type;
    bool isForward = true;
    NodeId target;
};

// One node of the address space with the attributes its class has.
struct Node {
    NodeId id;
    NodeClass nodeClass = NodeClass::Object;
    QualifiedName browseName;
    LocalizedText displayName;
    std::vector<Reference> references;
    // Variables and variable types.
    std::function<Variant()> value;  // a base variable's value, computed when read
    std::optional<TagInfo> tag;      // a device tag: its value comes from the data source
    NodeId dataType;
    std::int32_t valueRank = -1;
    std::uint8_t accessLevel = 1;
    // Types.
    bool isAbstract = false;
    bool symmetric = false;
    LocalizedText inverseName;
};

// The nodes the endpoint serves: the base model of namespace 0 and the devices' folders and tags in
// namespace 2, which follow the configuration. Owned and used by the endpoint's thread only.
class AddressSpace {
  public:
    const Node* find(const NodeId& id) const;
    Node& add(Node node);
    // A reference and its inverse.
    void link(const NodeId& source, std::uint32_t referenceType, const NodeId& target);
    bool isSubtypeOf(const NodeId& type, const NodeId& base) const;
    NodeId typeDefinitionOf(const Node& node) const;

    // Replaces every device node by the tree given.
    void setDevices(const std::vector<FolderInfo>& devices);

  private:
    void addFolder(const FolderInfo& folder, const NodeId& parent);
    void removeDeviceNodes();

    // The nodes live apart from the index: its entries stay small, so a lookup touches few cache lines.
    std::unordered_map<NodeId, std::unique_ptr<Node>, NodeIdHash> nodes_;
};

}  // namespace ferrow::ua
