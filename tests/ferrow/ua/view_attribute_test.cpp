// Browsing, path translation, reads and writes against the device nodes and the base model, over a
// real socket: the NodeIds, BrowseNames and type definitions clients rely on, the data-type and status
// mapping, the refusals, and the address space following the configuration.
#include <QThread>
#include <set>

#include "ferrow/ua/attribute_messages.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/tag_mapping.h"
#include "ferrow/ua/view_messages.h"
#include "tests/ferrow/ua/endpoint_fixture.h"

namespace ferrow::ua {
namespace {

using test::faultOf;

class ViewAttributeTest : public test::EndpointTest {
  protected:
    void SetUp() override {
        EndpointTest::SetUp();
        ASSERT_TRUE(client.openSession());
    }
    BrowseResult browse(const NodeId& node, std::uint32_t maxReferences = 0,
                        std::uint32_t referenceType = id::HierarchicalReferences) {
        BrowseRequest request;
        request.requestedMaxReferencesPerNode = maxReferences;
        request.nodesToBrowse.push_back(
            {node, BrowseDirection::Forward, NodeId::numericId(referenceType), true, 0, 0x3F});
        const auto response = client.callFor<BrowseResponse>(id::BrowseRequest, request, id::BrowseResponse);
        return response.results.empty() ? BrowseResult{StatusCode{status::Bad}, {}, {}} : response.results[0];
    }
    std::vector<DataValue> read(std::vector<std::pair<NodeId, AttributeId>> items, double maxAge = 1e9) {
        ReadRequest request;
        request.maxAge = maxAge;
        for (const auto& [node, attribute] : items)
            request.nodesToRead.push_back({node, static_cast<std::uint32_t>(attribute), {}, {}});
        return client.callFor<ReadResponse>(id::ReadRequest, request, id::ReadResponse).results;
    }
    std::uint32_t write(const NodeId& node, DataValue value, AttributeId attribute = AttributeId::Value) {
        WriteRequest request;
        request.nodesToWrite.push_back({node, static_cast<std::uint32_t>(attribute), {}, std::move(value)});
        const auto response =
            client.callFor<StatusListResponse>(id::WriteRequest, request, id::WriteResponse);
        return response.results.empty() ? status::Bad : response.results[0].code;
    }
    static DataValue valueOf(Variant v) {
        DataValue value;
        value.value = std::move(v);
        return value;
    }
    static const ReferenceDescription* findRef(const BrowseResult& result, const std::string& name) {
        for (const auto& r : result.references)
            if (r.browseName.name == name) return &r;
        return nullptr;
    }
};

const NodeId kCounter = NodeId::stringId(2, "Device1.Counter");
const NodeId kSetpoint = NodeId::stringId(2, "Device1.Setpoint");

TEST_F(ViewAttributeTest, objectsOrganizeTheServerAndOneFolderPerDevice) {
    const BrowseResult objects = browse(NodeId::numericId(id::ObjectsFolder));
    ASSERT_EQ(objects.statusCode.code, status::Good);
    ASSERT_NE(findRef(objects, "Server"), nullptr);
    const ReferenceDescription* device = findRef(objects, "Device1");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->nodeId.nodeId, NodeId::stringId(2, "Device1"));
    EXPECT_EQ(device->browseName.ns, 2);
    EXPECT_EQ(device->displayName.text, "Device1");
    EXPECT_EQ(device->referenceTypeId, NodeId::numericId(id::Organizes));
    EXPECT_EQ(device->nodeClass, NodeClass::Object);
    EXPECT_EQ(device->typeDefinition.nodeId, NodeId::numericId(id::FolderType));
    EXPECT_NE(findRef(objects, "Device2"), nullptr);
}

TEST_F(ViewAttributeTest, deviceFolderHoldsItsTagsAsComponentsAndItsGroupsAsFolders) {
    const BrowseResult device = browse(NodeId::stringId(2, "Device1"));
    const ReferenceDescription* counter = findRef(device, "Counter");
    ASSERT_NE(counter, nullptr);
    EXPECT_EQ(counter->nodeId.nodeId, kCounter);
    EXPECT_EQ(counter->referenceTypeId, NodeId::numericId(id::HasComponent));
    EXPECT_EQ(counter->nodeClass, NodeClass::Variable);
    EXPECT_EQ(counter->typeDefinition.nodeId, NodeId::numericId(id::BaseDataVariableType));
    const ReferenceDescription* line = findRef(device, "Line");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->nodeId.nodeId, NodeId::stringId(2, "Device1.Line"));
    const BrowseResult group = browse(line->nodeId.nodeId);
    ASSERT_NE(findRef(group, "Speed"), nullptr);
    EXPECT_EQ(findRef(group, "Speed")->nodeId.nodeId, NodeId::stringId(2, "Device1.Line.Speed"));
}

TEST_F(ViewAttributeTest, browseOfAnUnknownNodeOrWithAnUnknownReferenceTypeFails) {
    EXPECT_EQ(browse(NodeId::stringId(2, "Nope")).statusCode.code, status::BadNodeIdUnknown);
    EXPECT_EQ(browse(NodeId::numericId(id::ObjectsFolder), 0, id::ObjectsFolder).statusCode.code,
              status::BadReferenceTypeIdInvalid);
}

TEST_F(ViewAttributeTest, referencesBeyondTheLimitComeWithBrowseNext) {
    const BrowseResult first = browse(NodeId::numericId(id::ObjectsFolder), 1);
    ASSERT_EQ(first.references.size(), 1u);
    ASSERT_FALSE(first.continuationPoint.isNull);
    std::set<std::string> names{first.references[0].browseName.name};
    ByteString point = first.continuationPoint;
    while (!point.isNull && !point.bytes.empty()) {
        BrowseNextRequest next;
        next.continuationPoints = {point};
        const auto response =
            client.callFor<BrowseResponse>(id::BrowseNextRequest, next, id::BrowseNextResponse);
        ASSERT_EQ(response.results.size(), 1u);
        for (const auto& r : response.results[0].references) names.insert(r.browseName.name);
        point = response.results[0].continuationPoint;
    }
    EXPECT_EQ(names, (std::set<std::string>{"Server", "Device1", "Device2"}));
    BrowseNextRequest again;
    again.continuationPoints = {first.continuationPoint};
    const auto response =
        client.callFor<BrowseResponse>(id::BrowseNextRequest, again, id::BrowseNextResponse);
    EXPECT_EQ(response.results.at(0).statusCode.code, status::BadContinuationPointInvalid);
}

TEST_F(ViewAttributeTest, browsePathFromObjectsReachesATagByItsBrowseNames) {
    TranslateBrowsePathsRequest request;
    BrowsePath path{NodeId::numericId(id::ObjectsFolder),
                    {{NodeId::numericId(id::HierarchicalReferences), false, true, {2, "Device1"}},
                     {NodeId::numericId(id::HierarchicalReferences), false, true, {2, "Line"}},
                     {NodeId::numericId(id::HierarchicalReferences), false, true, {2, "Speed"}}}};
    request.browsePaths.push_back(path);
    path.elements.back().targetName.name = "Missing";
    request.browsePaths.push_back(path);
    const auto response = client.callFor<TranslateBrowsePathsResponse>(
        id::TranslateBrowsePathsRequest, request, id::TranslateBrowsePathsResponse);
    ASSERT_EQ(response.results.size(), 2u);
    ASSERT_EQ(response.results[0].targets.size(), 1u);
    EXPECT_EQ(response.results[0].targets[0].targetId.nodeId, NodeId::stringId(2, "Device1.Line.Speed"));
    EXPECT_EQ(response.results[1].statusCode.code, status::BadNoMatch);
}

TEST_F(ViewAttributeTest, tagAttributesFollowTheConfigurationAndItsQuality) {
    source.setSample("Device1.Counter", TagSample{std::int32_t{7}, 0x56, DateTime{133000000000000000LL}});
    const auto values = read({{kCounter, AttributeId::Value},
                              {kCounter, AttributeId::DataType},
                              {kCounter, AttributeId::AccessLevel},
                              {kSetpoint, AttributeId::UserAccessLevel},
                              {kCounter, AttributeId::NodeClass},
                              {kCounter, AttributeId::BrowseName},
                              {kCounter, AttributeId::ValueRank},
                              {kCounter, AttributeId::Historizing}});
    ASSERT_EQ(values.size(), 8u);
    EXPECT_EQ(values[0].value, Variant::of(std::int32_t{7}));
    // Units exceeded with the high limit bit.
    EXPECT_EQ(values[0].status, StatusCode{status::UncertainEngineeringUnitsExceeded | 0x200});
    EXPECT_EQ(values[0].sourceTimestamp, DateTime{133000000000000000LL});
    EXPECT_TRUE(values[0].serverTimestamp.has_value());
    EXPECT_EQ(values[1].value, Variant::of(NodeId::numericId(id::Int32)));
    EXPECT_EQ(values[2].value, Variant::of(std::uint8_t{1}));
    EXPECT_EQ(values[3].value, Variant::of(std::uint8_t{3}));
    EXPECT_EQ(values[4].value, Variant::of(std::int32_t{2}));
    EXPECT_EQ(values[5].value, Variant::of(QualifiedName{2, "Counter"}));
    EXPECT_EQ(values[6].value, Variant::of(std::int32_t{-1}));
    EXPECT_EQ(values[7].value, Variant::of(false));
}

TEST_F(ViewAttributeTest, readRefusesUnknownNodesAndAttributesANodeHasNot) {
    const auto values = read({{NodeId::stringId(2, "Device1.Gone"), AttributeId::Value},
                              {NodeId::stringId(2, "Device1"), AttributeId::Value},
                              {kCounter, AttributeId::IsAbstract}});
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].status, StatusCode{status::BadNodeIdUnknown});
    EXPECT_EQ(values[1].status, StatusCode{status::BadAttributeIdInvalid});
    EXPECT_EQ(values[2].status, StatusCode{status::BadAttributeIdInvalid});
}

TEST_F(ViewAttributeTest, baseModelAnswersWhatAGenericClientReadsFirst) {
    const auto values = read({{NodeId::numericId(id::NamespaceArray), AttributeId::Value},
                              {NodeId::numericId(id::ServerStatusState), AttributeId::Value},
                              {NodeId::numericId(id::BuildInfoProductName), AttributeId::Value},
                              {NodeId::numericId(id::BuildInfoSoftwareVersion), AttributeId::Value},
                              {NodeId::numericId(id::MaxNodesPerRead), AttributeId::Value},
                              {NodeId::numericId(id::ServerStatus), AttributeId::Value}});
    ASSERT_EQ(values.size(), 6u);
    EXPECT_EQ(values[0].value, Variant::arrayOf(std::vector<std::string>{"http://opcfoundation.org/UA/",
                                                                         "urn:testhost:Quillon:Ferrow",
                                                                         "urn:quillon:ferrow:devices"}));
    EXPECT_EQ(values[1].value, Variant::of(std::int32_t{0}));
    EXPECT_EQ(values[2].value, Variant::of(std::string("Ferrow")));
    EXPECT_EQ(values[3].value, Variant::of(std::string("1.2.7")));
    EXPECT_EQ(values[4].value, Variant::of(std::uint32_t{10000}));
    ASSERT_TRUE(values[5].value && values[5].value->type == BuiltinType::ExtensionObject);
    EXPECT_EQ(std::get<ExtensionObject>(values[5].value->values[0]).typeId,
              NodeId::numericId(id::ServerStatusDataTypeEncoding));
}

TEST_F(ViewAttributeTest, readWithMaxAgeZeroAsksTheDeviceAndReportsNoCommunication) {
    EXPECT_EQ(read({{kCounter, AttributeId::Value}}, 0).at(0).value, Variant::of(std::int32_t{41}));
    source.setDevicesReachable(false);
    EXPECT_EQ(read({{kCounter, AttributeId::Value}}, 0).at(0).status, StatusCode{status::BadNoCommunication});
    ReadRequest negative;
    negative.maxAge = -1;
    negative.nodesToRead.push_back({kCounter, 13, {}, {}});
    EXPECT_EQ(faultOf(client.call(id::ReadRequest, negative)), status::BadMaxAgeInvalid);
}

TEST_F(ViewAttributeTest, writeReachesTheDeviceOnlyWithTheTagsOwnType) {
    EXPECT_EQ(write(kSetpoint, valueOf(Variant::of(12.5))), status::Good);
    EXPECT_EQ(source.lastWrite("Device1.Setpoint"), TagValue(12.5));
    EXPECT_EQ(write(kSetpoint, valueOf(Variant::of(std::int32_t{12}))), status::BadTypeMismatch);
    EXPECT_EQ(write(kSetpoint, valueOf(Variant())), status::BadTypeMismatch);
    EXPECT_EQ(write(kCounter, valueOf(Variant::of(std::int32_t{1}))), status::BadNotWritable);
    EXPECT_EQ(write(kSetpoint, valueOf(Variant::of(1.0)), AttributeId::DisplayName), status::BadNotWritable);
    EXPECT_EQ(write(NodeId::stringId(2, "Nope"), valueOf(Variant::of(1.0))), status::BadNodeIdUnknown);
    DataValue stamped = valueOf(Variant::of(3.0));
    stamped.sourceTimestamp = DateTime::now();
    EXPECT_EQ(write(kSetpoint, stamped), status::BadWriteNotSupported);
    EXPECT_EQ(source.lastWrite("Device1.Setpoint"), TagValue(12.5));
}

TEST_F(ViewAttributeTest, writeTheDeviceRefusesFailsAndLeavesTheCachedValue) {
    ASSERT_EQ(write(kSetpoint, valueOf(Variant::of(1.0))), status::Good);
    source.setWriteOutcome("Device1.Setpoint", WriteOutcome::DeviceRefused);
    EXPECT_EQ(write(kSetpoint, valueOf(Variant::of(2.0))), status::BadDeviceFailure);
    source.setWriteOutcome("Device1.Setpoint", WriteOutcome::NoCommunication);
    EXPECT_EQ(write(kSetpoint, valueOf(Variant::of(3.0))), status::BadNoCommunication);
    EXPECT_EQ(read({{kSetpoint, AttributeId::Value}}).at(0).value, Variant::of(1.0));
}

TEST_F(ViewAttributeTest, emptyAndOversizedOperationListsAreRefused) {
    EXPECT_EQ(faultOf(client.call(id::ReadRequest, ReadRequest())), status::BadNothingToDo);
    ReadRequest many;
    many.nodesToRead.resize(10001);
    EXPECT_EQ(faultOf(client.call(id::ReadRequest, many)), status::BadTooManyOperations);
}

TEST_F(ViewAttributeTest, addressSpaceFollowsTheConfiguration) {
    auto devices = test::sampleDevices();
    devices.erase(devices.begin());  // Device1 deleted
    devices.push_back(
        FolderInfo{"Device3", "Device3", {}, {TagInfo{"Flag", "Device3.Flag", TagType::Boolean, true}}});
    source.setDevices(devices);
    // The change reaches the endpoint's thread; the next request is served after it.
    for (int attempt = 0; attempt < 100 && !findRef(browse(NodeId::numericId(id::ObjectsFolder)), "Device3");
         ++attempt)
        QThread::msleep(10);
    const BrowseResult objects = browse(NodeId::numericId(id::ObjectsFolder));
    EXPECT_NE(findRef(objects, "Device3"), nullptr);
    EXPECT_EQ(findRef(objects, "Device1"), nullptr);
    EXPECT_EQ(read({{kCounter, AttributeId::Value}}).at(0).status, StatusCode{status::BadNodeIdUnknown});
    EXPECT_EQ(read({{NodeId::stringId(2, "Device3.Flag"), AttributeId::DataType}}).at(0).value,
              Variant::of(NodeId::numericId(id::Boolean)));
}

}  // namespace
}  // namespace ferrow::ua
