// The UA endpoint on the data-access core against a simulated device, over a real socket: what a first
// UA session sees and does reaches the device, and its watches share the device registrations with the
// DA groups: one "chgdp" for a tag both watch, and "rem" only once nothing holds the device's tags.

#include "devsim/datapoint_service.h"
#include "ferrow/access/tag_registry.h"
#include "ferrow/devlink/device_link.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/ua_endpoint.h"
#include "ferrow/ua_bridge/access_data_source.h"
#include "platform/ui/scripted_dialogs.h"
#include "tests/ferrow/opc/opc_client.h"
#include "tests/ferrow/opc/recording_sinks.h"
#include "tests/ferrow/ua_bridge/ua_session.h"
#include "tests/support/device_fixture.h"

namespace opctest {
namespace {

using ferrow::ua::NodeId;
namespace status = ferrow::ua::status;

const NodeId kLevel = NodeId::stringId(2, "Device1.Level");
const NodeId kSetpoint = NodeId::stringId(2, "Device1.Setpoint");
constexpr auto kHangLimit = 10s;

class AccessEndpointTest : public OpcClientTest {
  protected:
    void SetUp() override {
        OpcClientTest::SetUp();
        sim = testsupport::startDevice();
        ASSERT_TRUE(sim);
        device = doc.AddDevice([&](ferrow::ODevice& d) {
            const QStringList octets = sim->options().address.split('.');
            for (int i = 0; i < 4; ++i)
                d.m_params.m_strOctet[static_cast<std::size_t>(i)] = octets[i].toStdString();
            return true;
        });
        ASSERT_TRUE(device);
        for (int i = 0; i < 1000 && !device->IsConnected(); ++i) std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(device->IsConnected());
        ASSERT_EQ(ferrow::LinkOf(*device).LoadTags(), 11);

        source = std::make_unique<ferrow::ua_bridge::AccessDataSource>(doc);
        ferrow::ua::UaEndpoint::Settings settings;
        settings.addresses = {QHostAddress(QHostAddress::LocalHost)};
        settings.port = 0;
        endpoint = std::make_unique<ferrow::ua::UaEndpoint>(*source, settings);
        ASSERT_EQ(endpoint->start(), QString());
        ASSERT_TRUE(client.connectTo(endpoint->port()));
        ASSERT_TRUE(client.openChannel());
        ASSERT_TRUE(client.openSession());
    }
    void TearDown() override {
        // The endpoint before its data source, the data source before the document.
        endpoint.reset();
        source.reset();
        if (daGroup) {
            daGroup.reset();
            EXPECT_EQ(daServer->RemoveGroup(daGroupHandle, 0), S_OK);
        }
        daServer.reset();
        for (int i = 0; i < 1000 && ferrow::objectCount.load() != 0; ++i) std::this_thread::sleep_for(10ms);
        OpcClientTest::TearDown();
    }

    // An active DA group with one active item on `itemId` under client handle 1.
    void addDaGroupWith(const char16_t* itemId) {
        daServer = createServer();
        DWORD revised = 0;
        ASSERT_EQ(daServer->AddGroup(u"Plant", 1, 10, 44, nullptr, nullptr, 0, &daGroupHandle, &revised,
                                     IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown**>(daGroup.put())),
                  S_OK);
        ComPtr<IConnectionPoint> point;
        ASSERT_EQ(query<IConnectionPointContainer>(daGroup.get())
                      ->FindConnectionPoint(IID_IOPCDataCallback, point.put()),
                  S_OK);
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(&daSink, &cookie), S_OK);
        OPCITEMDEF def{};
        def.szItemID = const_cast<char16_t*>(itemId);
        def.bActive = 1;
        def.hClient = 1;
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        ASSERT_EQ(query<IOPCItemMgt>(daGroup.get())->AddItems(1, &def, &results, &errors), S_OK);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
    }
    bool daClientSees(double number) {
        for (auto deadline = std::chrono::steady_clock::now() + kHangLimit;
             std::chrono::steady_clock::now() < deadline;) {
            for (const Callback& c : daSink.dataChanges())
                for (const CallbackItem& item : c.items)
                    if (item.number == number) return true;
            daSink.calls.waitFor(daSink.calls.size() + 1, 100ms);
        }
        return false;
    }
    void setOnDevice(const char* datapoint, const char* hex) {
        sim->run([&] { sim->datapoints().setValue(datapoint, hex); });
    }
    bool holdersReach(const std::string& tag, int holders) {
        for (int i = 0; i < 1000; ++i) {
            if (ferrow::access::TagRegistry::Shared().Holders(device, tag) == holders) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    std::size_t logCount(const std::string& fragment) {
        const auto lines = sim->log().entries();
        return static_cast<std::size_t>(std::count_if(
            lines.begin(), lines.end(), [&](const std::string& l) { return l.find(fragment) != l.npos; }));
    }
    static auto numberIs(double wanted) {
        return [wanted](const ferrow::ua::DataValue& v) {
            return ferrow::ua_bridge::test::numberOf(v) == wanted;
        };
    }

    platform::ui::ScriptedDialogs dialogs;
    std::unique_ptr<devsim::SimulatedDevice> sim;
    ferrow::ODevice* device = nullptr;
    std::unique_ptr<ferrow::ua_bridge::AccessDataSource> source;
    std::unique_ptr<ferrow::ua::UaEndpoint> endpoint;
    ferrow::ua::test::SocketClient client;
    ferrow::ua_bridge::test::UaSession session{client};
    DataCallbackSink daSink;
    ComPtr<IOPCServer> daServer;
    ComPtr<IOPCGroupStateMgt> daGroup;
    OPCHANDLE daGroupHandle = 0;
};

TEST_F(AccessEndpointTest, browseShowsTheDevicesTagsAndReadsAskTheDevice) {
    bool deviceFolder = false;
    for (const auto& ref : session.browse(NodeId::numericId(ferrow::ua::id::ObjectsFolder)))
        deviceFolder = deviceFolder || ref.nodeId.nodeId == NodeId::stringId(2, "Device1");
    EXPECT_TRUE(deviceFolder);
    std::set<std::string> tags;
    for (const auto& ref : session.browse(NodeId::stringId(2, "Device1"))) tags.insert(ref.browseName.name);
    EXPECT_TRUE(tags.contains("Level"));
    EXPECT_TRUE(tags.contains("Setpoint"));
    EXPECT_TRUE(tags.contains("Counter"));
    EXPECT_EQ(tags.size(), 11u);

    const auto initial = session.readValue(kLevel);
    ASSERT_TRUE(initial);
    EXPECT_EQ(ferrow::ua_bridge::test::numberOf(*initial), 1.0);
    EXPECT_EQ(initial->status.value_or(ferrow::ua::StatusCode{}).code, status::Good);
    // Nothing registers Level, so only a device read can know its new value.
    setOnDevice("Level", "00002842");  // 42.0f
    const auto changed = session.readValue(kLevel);
    ASSERT_TRUE(changed);
    EXPECT_EQ(ferrow::ua_bridge::test::numberOf(*changed), 42.0);
}

TEST_F(AccessEndpointTest, aDeviceAddedToTheConfigurationAppearsToTheSession) {
    ASSERT_TRUE(doc.AddDevice([](ferrow::ODevice&) { return true; }));
    bool appeared = false;
    for (int i = 0; i < 1000 && !appeared; ++i) {
        for (const auto& ref : session.browse(NodeId::numericId(ferrow::ua::id::ObjectsFolder)))
            appeared = appeared || ref.nodeId.nodeId == NodeId::stringId(2, "Device2");
        if (!appeared) std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(appeared);
}

TEST_F(AccessEndpointTest, aWriteReachesTheDeviceAsSetdp) {
    EXPECT_EQ(session.writeValue(kSetpoint, ferrow::ua::Variant::of(7.5f)), status::Good);
    EXPECT_TRUE(sim->log().contains("< setdp/Setpoint/"));
    const auto read = session.readValue(kSetpoint);
    ASSERT_TRUE(read);
    EXPECT_EQ(ferrow::ua_bridge::test::numberOf(*read), 7.5);
    // An input is refused before anything is sent.
    EXPECT_NE(session.writeValue(kLevel, ferrow::ua::Variant::of(3.0f)), status::Good);
    EXPECT_FALSE(sim->log().contains("< setdp/Level/"));
}

TEST_F(AccessEndpointTest, aSubscriptionReceivesTheDevicesChangesAndItsEndRemovesTheRegistration) {
    const std::uint32_t subscription = session.subscribe();
    ASSERT_NE(subscription, 0u);
    ASSERT_EQ(session.monitor(subscription, kLevel, 5), status::Good);
    // The device sends nothing on registration: the tag's first value comes from a device read.
    EXPECT_TRUE(session.changeWhere(5, numberIs(1.0)));
    ASSERT_TRUE(sim->log().waitFor("< chgdp/", kHangLimit));
    EXPECT_TRUE(sim->log().contains("/Level"));

    setOnDevice("Level", "00002842");  // 42.0f
    const auto pushed = session.changeWhere(5, numberIs(42.0));
    ASSERT_TRUE(pushed);
    EXPECT_EQ(pushed->status.value_or(ferrow::ua::StatusCode{}).code, status::Good);

    EXPECT_FALSE(sim->log().contains("< rem/"));
    EXPECT_TRUE(source->holdsTags());  // the document is not replaced under the watch
    EXPECT_EQ(session.deleteSubscription(subscription), status::Good);
    EXPECT_TRUE(sim->log().waitFor("< rem/", kHangLimit));
    // The first device read of Level lets go of its tag once it has ended.
    for (int i = 0; i < 1000 && source->holdsTags(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(source->holdsTags());
}

TEST_F(AccessEndpointTest, aDaGroupAndAUaItemOnOneTagShareOneRegistration) {
    addDaGroupWith(u"Device1.Setpoint");
    const std::uint32_t subscription = session.subscribe();
    ASSERT_EQ(session.monitor(subscription, kSetpoint, 5), status::Good);
    ASSERT_TRUE(holdersReach("Setpoint", 2));

    setOnDevice("Setpoint", "00004842");  // 50.0f
    EXPECT_TRUE(session.changeWhere(5, numberIs(50.0)));
    EXPECT_TRUE(daClientSees(50.0));
    EXPECT_EQ(logCount("< chgdp/"), 1u);

    // The UA side lets go; the DA group's registration stays and keeps its values coming.
    EXPECT_EQ(session.deleteSubscription(subscription), status::Good);
    ASSERT_TRUE(holdersReach("Setpoint", 1));
    setOnDevice("Setpoint", "00002842");  // 42.0f
    EXPECT_TRUE(daClientSees(42.0));
    EXPECT_FALSE(sim->log().contains("< rem/"));
}

}  // namespace
}  // namespace opctest
