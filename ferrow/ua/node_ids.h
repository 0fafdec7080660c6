#pragma once

#include <cstdint>

// Numeric identifiers of namespace 0 the endpoint uses: reference types, types, the base nodes and the
// binary encodings of the structures on the wire.
namespace ferrow::ua::id {

// Data types.
inline constexpr std::uint32_t Boolean = 1, SByte = 2, Byte = 3, Int16 = 4, UInt16 = 5, Int32 = 6, UInt32 = 7,
                               Int64 = 8, UInt64 = 9, Float = 10, Double = 11, String = 12, DateTime = 13,
                               Guid = 14, ByteString = 15, XmlElement = 16, NodeId = 17, ExpandedNodeId = 18,
                               StatusCode = 19, QualifiedName = 20, LocalizedText = 21, Structure = 22,
                               DataValue = 23, BaseDataType = 24, DiagnosticInfo = 25, Number = 26,
                               Integer = 27, UInteger = 28, Enumeration = 29, Duration = 290, UtcTime = 294,
                               LocaleId = 295, BuildInfoType = 338, ServerState = 852,
                               ServerStatusDataType = 862;

// Reference types.
inline constexpr std::uint32_t References = 31, NonHierarchicalReferences = 32, HierarchicalReferences = 33,
                               HasChild = 34, Organizes = 35, HasEventSource = 36, HasModellingRule = 37,
                               HasEncoding = 38, HasTypeDefinition = 40, Aggregates = 44, HasSubtype = 45,
                               HasProperty = 46, HasComponent = 47;

// Object, variable and modelling types.
inline constexpr std::uint32_t BaseObjectType = 58, FolderType = 61, BaseVariableType = 62,
                               BaseDataVariableType = 63, PropertyType = 68, ModellingRuleMandatory = 78,
                               ServerType = 2004, ServerCapabilitiesType = 2013, ServerStatusType = 2138,
                               BuildInfoVariableType = 3051, OperationLimitsType = 11564;

// Folders and the Server object.
inline constexpr std::uint32_t RootFolder = 84, ObjectsFolder = 85, TypesFolder = 86, ViewsFolder = 87,
                               ObjectTypesFolder = 88, VariableTypesFolder = 89, DataTypesFolder = 90,
                               ReferenceTypesFolder = 91, Server = 2253, ServerArray = 2254,
                               NamespaceArray = 2255, ServerStatus = 2256, ServerStatusStartTime = 2257,
                               ServerStatusCurrentTime = 2258, ServerStatusState = 2259,
                               ServerStatusBuildInfo = 2260, BuildInfoProductName = 2261,
                               BuildInfoProductUri = 2262, BuildInfoManufacturerName = 2263,
                               BuildInfoSoftwareVersion = 2264, BuildInfoBuildNumber = 2265,
                               BuildInfoBuildDate = 2266, ServiceLevel = 2267, ServerCapabilities = 2268,
                               ServerProfileArray = 2269, LocaleIdArray = 2271, MinSupportedSampleRate = 2272,
                               SecondsTillShutdown = 2992, ShutdownReason = 2993, Auditing = 2994,
                               MaxBrowseContinuationPoints = 2735, OperationLimits = 11704,
                               MaxNodesPerRead = 11705, MaxNodesPerWrite = 11707, MaxNodesPerBrowse = 11710,
                               MaxNodesPerRegisterNodes = 11711, MaxNodesPerTranslateBrowsePaths = 11712,
                               MaxMonitoredItemsPerCall = 11714;

// Binary encodings of structures.
inline constexpr std::uint32_t AnonymousIdentityToken = 321, UserNameIdentityToken = 324,
                               X509IdentityToken = 327, BuildInfoEncoding = 340, ServiceFault = 397,
                               FindServersRequest = 422, FindServersResponse = 425, GetEndpointsRequest = 428,
                               GetEndpointsResponse = 431, OpenSecureChannelRequest = 446,
                               OpenSecureChannelResponse = 449, CloseSecureChannelRequest = 452,
                               CloseSecureChannelResponse = 455, CreateSessionRequest = 461,
                               CreateSessionResponse = 464, ActivateSessionRequest = 467,
                               ActivateSessionResponse = 470, CloseSessionRequest = 473,
                               CloseSessionResponse = 476, CancelRequest = 479, CancelResponse = 482,
                               BrowseRequest = 527, BrowseResponse = 530, BrowseNextRequest = 533,
                               BrowseNextResponse = 536, TranslateBrowsePathsRequest = 554,
                               TranslateBrowsePathsResponse = 557, RegisterNodesRequest = 560,
                               RegisterNodesResponse = 563, UnregisterNodesRequest = 566,
                               UnregisterNodesResponse = 569, ReadRequest = 631, ReadResponse = 634,
                               WriteRequest = 673, WriteResponse = 676, DataChangeFilter = 724,
                               EventFilter = 727, AggregateFilter = 730, CreateMonitoredItemsRequest = 751,
                               CreateMonitoredItemsResponse = 754, ModifyMonitoredItemsRequest = 763,
                               ModifyMonitoredItemsResponse = 766, SetMonitoringModeRequest = 769,
                               SetMonitoringModeResponse = 772, DeleteMonitoredItemsRequest = 781,
                               DeleteMonitoredItemsResponse = 784, CreateSubscriptionRequest = 787,
                               CreateSubscriptionResponse = 790, ModifySubscriptionRequest = 793,
                               ModifySubscriptionResponse = 796, SetPublishingModeRequest = 799,
                               SetPublishingModeResponse = 802, DataChangeNotification = 811,
                               StatusChangeNotification = 820, PublishRequest = 826, PublishResponse = 829,
                               RepublishRequest = 832, RepublishResponse = 835,
                               DeleteSubscriptionsRequest = 847, DeleteSubscriptionsResponse = 850,
                               ServerStatusDataTypeEncoding = 864;

}  // namespace ferrow::ua::id
