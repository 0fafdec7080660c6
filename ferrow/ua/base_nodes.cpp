#include "ferrow/ua/base_nodes.h"

#include "ferrow/ua/binary_encoder.h"
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/transport_limits.h"

namespace ferrow::ua {

namespace {

struct BuildInfo {
    std::string productUri, manufacturerName, productName, softwareVersion, buildNumber;
    DateTime buildDate;
};
template <class Io>
void fields(Io& io, BuildInfo& v) {
    io(v.productUri), io(v.manufacturerName), io(v.productName), io(v.softwareVersion), io(v.buildNumber);
    io(v.buildDate);
}

struct ServerStatusDataType {
    DateTime startTime, currentTime;
    std::int32_t state = 0;  // Running
    BuildInfo buildInfo;
    std::uint32_t secondsTillShutdown = 0;
    LocalizedText shutdownReason;
};
template <class Io>
void fields(Io& io, ServerStatusDataType& v) {
    io(v.startTime), io(v.currentTime), io(v.state), io(v.buildInfo), io(v.secondsTillShutdown),
        io(v.shutdownReason);
}

BuildInfo buildInfoOf(const ServerInfo& info) {
    return {info.productUri,      info.manufacturerName, info.productName,
            info.softwareVersion, info.buildNumber,      info.buildDate};
}

struct TypeEntry {
    std::uint32_t id;
    const char* name;
    std::uint32_t parent;  // 0: a root of its hierarchy
    bool isAbstract;
};

constexpr TypeEntry kDataTypes[] = {
    {id::BaseDataType, "BaseDataType", 0, true},
    {id::Boolean, "Boolean", id::BaseDataType, false},
    {id::Number, "Number", id::BaseDataType, true},
    {id::Integer, "Integer", id::Number, true},
    {id::UInteger, "UInteger", id::Number, true},
    {id::SByte, "SByte", id::Integer, false},
    {id::Int16, "Int16", id::Integer, false},
    {id::Int32, "Int32", id::Integer, false},
    {id::Int64, "Int64", id::Integer, false},
    {id::Byte, "Byte", id::UInteger, false},
    {id::UInt16, "UInt16", id::UInteger, false},
    {id::UInt32, "UInt32", id::UInteger, false},
    {id::UInt64, "UInt64", id::UInteger, false},
    {id::Float, "Float", id::Number, false},
    {id::Double, "Double", id::Number, false},
    {id::Duration, "Duration", id::Double, false},
    {id::String, "String", id::BaseDataType, false},
    {id::LocaleId, "LocaleId", id::String, false},
    {id::DateTime, "DateTime", id::BaseDataType, false},
    {id::UtcTime, "UtcTime", id::DateTime, false},
    {id::Guid, "Guid", id::BaseDataType, false},
    {id::ByteString, "ByteString", id::BaseDataType, false},
    {id::XmlElement, "XmlElement", id::BaseDataType, false},
    {id::NodeId, "NodeId", id::BaseDataType, false},
    {id::ExpandedNodeId, "ExpandedNodeId", id::BaseDataType, false},
    {id::StatusCode, "StatusCode", id::BaseDataType, false},
    {id::QualifiedName, "QualifiedName", id::BaseDataType, false},
    {id::LocalizedText, "LocalizedText", id::BaseDataType, false},
    {id::Structure, "Structure", id::BaseDataType, true},
    {id::DataValue, "DataValue", id::BaseDataType, false},
    {id::DiagnosticInfo, "DiagnosticInfo", id::BaseDataType, false},
    {id::Enumeration, "Enumeration", id::BaseDataType, true},
    {id::ServerState, "ServerState", id::Enumeration, false},
    {id::BuildInfoType, "BuildInfo", id::Structure, false},
    {id::ServerStatusDataType, "ServerStatusDataType", id::Structure, false},
};

constexpr TypeEntry kObjectTypes[] = {
    {id::BaseObjectType, "BaseObjectType", 0, false},
    {id::FolderType, "FolderType", id::BaseObjectType, false},
    {id::ServerType, "ServerType", id::BaseObjectType, false},
    {id::ServerCapabilitiesType, "ServerCapabilitiesType", id::BaseObjectType, false},
    {id::OperationLimitsType, "OperationLimitsType", id::BaseObjectType, false},
};

struct VariableTypeEntry {
    TypeEntry type;
    std::uint32_t dataType;
    std::int32_t valueRank;
};

constexpr VariableTypeEntry kVariableTypes[] = {
    {{id::BaseVariableType, "BaseVariableType", 0, true}, id::BaseDataType, -2},
    {{id::BaseDataVariableType, "BaseDataVariableType", id::BaseVariableType, false}, id::BaseDataType, -2},
    {{id::PropertyType, "PropertyType", id::BaseVariableType, false}, id::BaseDataType, -2},
    {{id::ServerStatusType, "ServerStatusType", id::BaseDataVariableType, false},
     id::ServerStatusDataType,
     -1},
    {{id::BuildInfoVariableType, "BuildInfoType", id::BaseDataVariableType, false}, id::BuildInfoType, -1},
};

struct ReferenceTypeEntry {
    TypeEntry type;
    bool symmetric;
    const char* inverseName;
};

constexpr ReferenceTypeEntry kReferenceTypes[] = {
    {{id::References, "References", 0, true}, true, nullptr},
    {{id::HierarchicalReferences, "HierarchicalReferences", id::References, true},
     false,
     "InverseHierarchicalReferences"},
    {{id::NonHierarchicalReferences, "NonHierarchicalReferences", id::References, true}, false, nullptr},
    {{id::HasChild, "HasChild", id::HierarchicalReferences, true}, false, "ChildOf"},
    {{id::Organizes, "Organizes", id::HierarchicalReferences, false}, false, "OrganizedBy"},
    {{id::HasEventSource, "HasEventSource", id::HierarchicalReferences, false}, false, "EventSourceOf"},
    {{id::Aggregates, "Aggregates", id::HasChild, true}, false, "AggregatedBy"},
    {{id::HasSubtype, "HasSubtype", id::HasChild, false}, false, "SubtypeOf"},
    {{id::HasProperty, "HasProperty", id::Aggregates, false}, false, "PropertyOf"},
    {{id::HasComponent, "HasComponent", id::Aggregates, false}, false, "ComponentOf"},
    {{id::HasTypeDefinition, "HasTypeDefinition", id::NonHierarchicalReferences, false},
     false,
     "TypeDefinitionOf"},
    {{id::HasModellingRule, "HasModellingRule", id::NonHierarchicalReferences, false},
     false,
     "ModellingRuleOf"},
    {{id::HasEncoding, "HasEncoding", id::NonHierarchicalReferences, false}, false, "EncodingOf"},
};

class BaseModel {
  public:
    BaseModel(AddressSpace& space, const ServerInfo& info) : space_(space), info_(info) {}

    void build() {
        folders();
        types();
        server();
    }

  private:
    Node& node(std::uint32_t id, NodeClass nodeClass, const char* name) {
        Node n;
        n.id = NodeId::numericId(id);
        n.nodeClass = nodeClass;
        n.browseName = {0, name};
        n.displayName = {std::nullopt, name};
        return space_.add(std::move(n));
    }

    void object(std::uint32_t id, const char* name, std::uint32_t parent, std::uint32_t reference,
                std::uint32_t type) {
        node(id, NodeClass::Object, name);
        if (parent) space_.link(NodeId::numericId(parent), reference, NodeId::numericId(id));
        space_.link(NodeId::numericId(id), id::HasTypeDefinition, NodeId::numericId(type));
    }

    void variable(std::uint32_t id, const char* name, std::uint32_t parent, std::uint32_t dataType,
                  std::function<Variant()> value, std::int32_t valueRank = -1) {
        const bool property = parentIsNotAVariable(parent) && name != std::string("ServerStatus");
        Node& n = node(id, NodeClass::Variable, name);
        n.dataType = NodeId::numericId(dataType);
        n.valueRank = valueRank;
        n.value = std::move(value);
        space_.link(NodeId::numericId(parent), property ? id::HasProperty : id::HasComponent,
                    NodeId::numericId(id));
        const std::uint32_t type = property                               ? id::PropertyType
                                   : dataType == id::ServerStatusDataType ? id::ServerStatusType
                                   : dataType == id::BuildInfoType        ? id::BuildInfoVariableType
                                                                          : id::BaseDataVariableType;
        space_.link(NodeId::numericId(id), id::HasTypeDefinition, NodeId::numericId(type));
    }

    // Children of objects are properties here, except ServerStatus and the operation limits' own
    // variables, which the base model makes components and properties as below.
    bool parentIsNotAVariable(std::uint32_t parent) const {
        const Node* p = space_.find(NodeId::numericId(parent));
        return p && p->nodeClass != NodeClass::Variable;
    }

    Node& typeHierarchy(const TypeEntry& t, NodeClass nodeClass) {
        Node& n = node(t.id, nodeClass, t.name);
        n.isAbstract = t.isAbstract;
        if (t.parent) space_.link(NodeId::numericId(t.parent), id::HasSubtype, NodeId::numericId(t.id));
        return n;
    }

    void folders() {
        object(id::RootFolder, "Root", 0, 0, id::FolderType);
        object(id::ObjectsFolder, "Objects", id::RootFolder, id::Organizes, id::FolderType);
        object(id::TypesFolder, "Types", id::RootFolder, id::Organizes, id::FolderType);
        object(id::ViewsFolder, "Views", id::RootFolder, id::Organizes, id::FolderType);
        object(id::ObjectTypesFolder, "ObjectTypes", id::TypesFolder, id::Organizes, id::FolderType);
        object(id::VariableTypesFolder, "VariableTypes", id::TypesFolder, id::Organizes, id::FolderType);
        object(id::DataTypesFolder, "DataTypes", id::TypesFolder, id::Organizes, id::FolderType);
        object(id::ReferenceTypesFolder, "ReferenceTypes", id::TypesFolder, id::Organizes, id::FolderType);
    }

    void types() {
        for (const auto& r : kReferenceTypes) {
            Node& n = typeHierarchy(r.type, NodeClass::ReferenceType);
            n.symmetric = r.symmetric;
            if (r.inverseName) n.inverseName = {std::nullopt, r.inverseName};
        }
        for (const auto& t : kObjectTypes) typeHierarchy(t, NodeClass::ObjectType);
        for (const auto& v : kVariableTypes) {
            Node& n = typeHierarchy(v.type, NodeClass::VariableType);
            n.dataType = NodeId::numericId(v.dataType);
            n.valueRank = v.valueRank;
        }
        for (const auto& t : kDataTypes) typeHierarchy(t, NodeClass::DataType);
        space_.link(NodeId::numericId(id::ObjectTypesFolder), id::Organizes,
                    NodeId::numericId(id::BaseObjectType));
        space_.link(NodeId::numericId(id::VariableTypesFolder), id::Organizes,
                    NodeId::numericId(id::BaseVariableType));
        space_.link(NodeId::numericId(id::DataTypesFolder), id::Organizes,
                    NodeId::numericId(id::BaseDataType));
        space_.link(NodeId::numericId(id::ReferenceTypesFolder), id::Organizes,
                    NodeId::numericId(id::References));
    }

    static std::function<Variant()> constant(Variant v) {
        return [v] { return v; };
    }
    static std::function<Variant()> limit(std::size_t n) {
        return constant(Variant::of(static_cast<std::uint32_t>(n)));
    }

    void server() {
        const ServerInfo& info = info_;
        object(id::Server, "Server", id::ObjectsFolder, id::Organizes, id::ServerType);
        variable(
            id::ServerArray, "ServerArray", id::Server, id::String,
            [&info] { return Variant::arrayOf(std::vector<std::string>{info.effectiveApplicationUri()}); },
            1);
        variable(
            id::NamespaceArray, "NamespaceArray", id::Server, id::String,
            [&info] {
                return Variant::arrayOf(std::vector<std::string>{
                    "http://opcfoundation.org/UA/", info.effectiveApplicationUri(), kDeviceNamespaceUri});
            },
            1);
        variable(id::ServerStatus, "ServerStatus", id::Server, id::ServerStatusDataType, [&info] {
            ServerStatusDataType status{info.startTime, DateTime::now(), 0, buildInfoOf(info), 0, {}};
            return Variant::of(wrapExtension(id::ServerStatusDataTypeEncoding, status));
        });
        variable(id::ServerStatusStartTime, "StartTime", id::ServerStatus, id::UtcTime,
                 [&info] { return Variant::of(info.startTime); });
        variable(id::ServerStatusCurrentTime, "CurrentTime", id::ServerStatus, id::UtcTime,
                 [] { return Variant::of(DateTime::now()); });
        variable(id::ServerStatusState, "State", id::ServerStatus, id::ServerState,
                 constant(Variant::of(std::int32_t{0})));
        variable(id::ServerStatusBuildInfo, "BuildInfo", id::ServerStatus, id::BuildInfoType,
                 [&info] { return Variant::of(wrapExtension(id::BuildInfoEncoding, buildInfoOf(info))); });
        variable(id::BuildInfoProductUri, "ProductUri", id::ServerStatusBuildInfo, id::String,
                 [&info] { return Variant::of(info.productUri); });
        variable(id::BuildInfoManufacturerName, "ManufacturerName", id::ServerStatusBuildInfo, id::String,
                 [&info] { return Variant::of(info.manufacturerName); });
        variable(id::BuildInfoProductName, "ProductName", id::ServerStatusBuildInfo, id::String,
                 [&info] { return Variant::of(info.productName); });
        variable(id::BuildInfoSoftwareVersion, "SoftwareVersion", id::ServerStatusBuildInfo, id::String,
                 [&info] { return Variant::of(info.softwareVersion); });
        variable(id::BuildInfoBuildNumber, "BuildNumber", id::ServerStatusBuildInfo, id::String,
                 [&info] { return Variant::of(info.buildNumber); });
        variable(id::BuildInfoBuildDate, "BuildDate", id::ServerStatusBuildInfo, id::UtcTime,
                 [&info] { return Variant::of(info.buildDate); });
        variable(id::SecondsTillShutdown, "SecondsTillShutdown", id::ServerStatus, id::UInt32,
                 constant(Variant::of(std::uint32_t{0})));
        variable(id::ShutdownReason, "ShutdownReason", id::ServerStatus, id::LocalizedText,
                 constant(Variant::of(LocalizedText{})));
        variable(id::ServiceLevel, "ServiceLevel", id::Server, id::Byte,
                 constant(Variant::of(std::uint8_t{255})));
        variable(id::Auditing, "Auditing", id::Server, id::Boolean, constant(Variant::of(false)));

        object(id::ServerCapabilities, "ServerCapabilities", id::Server, id::HasComponent,
               id::ServerCapabilitiesType);
        variable(id::ServerProfileArray, "ServerProfileArray", id::ServerCapabilities, id::String,
                 constant(Variant::arrayOf(std::vector<std::string>{
                     "http://opcfoundation.org/UA-Profile/Server/MicroEmbeddedDevice"})),
                 1);
        variable(id::LocaleIdArray, "LocaleIdArray", id::ServerCapabilities, id::LocaleId,
                 constant(Variant::arrayOf(std::vector<std::string>{"en"})), 1);
        variable(id::MinSupportedSampleRate, "MinSupportedSampleRate", id::ServerCapabilities, id::Duration,
                 constant(Variant::of(limits::kMinIntervalMs)));
        variable(id::MaxBrowseContinuationPoints, "MaxBrowseContinuationPoints", id::ServerCapabilities,
                 id::UInt16,
                 constant(Variant::of(static_cast<std::uint16_t>(limits::kMaxContinuationPointsPerSession))));
        object(id::OperationLimits, "OperationLimits", id::ServerCapabilities, id::HasComponent,
               id::OperationLimitsType);
        const std::pair<std::uint32_t, const char*> operationLimits[] = {
            {id::MaxNodesPerRead, "MaxNodesPerRead"},
            {id::MaxNodesPerWrite, "MaxNodesPerWrite"},
            {id::MaxNodesPerBrowse, "MaxNodesPerBrowse"},
            {id::MaxNodesPerRegisterNodes, "MaxNodesPerRegisterNodes"},
            {id::MaxNodesPerTranslateBrowsePaths, "MaxNodesPerTranslateBrowsePathsToNodeIds"},
            {id::MaxMonitoredItemsPerCall, "MaxMonitoredItemsPerCall"},
        };
        for (const auto& [limitId, name] : operationLimits)
            variable(limitId, name, id::OperationLimits, id::UInt32, limit(limits::kMaxOperationsPerCall));
    }

    AddressSpace& space_;
    const ServerInfo& info_;
};

}  // namespace

void addBaseNodes(AddressSpace& space, const ServerInfo& info) { BaseModel(space, info).build(); }

}  // namespace ferrow::ua
