// The path a user relies on, against a simulated device: a group's active items register their tags
// with the device, a value changed on the device reaches the client's callback, a client's write
// reaches the device, and the group's end ends its registration.

#include "devsim/datapoint_service.h"
#include "ferrow/devlink/device_link.h"
#include "ferrow/model/locks.h"
#include "ferrow/opc/error_text.h"
#include "ferrow/opc/opc_group.h"
#include "platform/ui/scripted_dialogs.h"
#include "tests/ferrow/opc/opc_client.h"
#include "tests/ferrow/opc/recording_sinks.h"
#include "tests/support/device_fixture.h"

namespace opctest {
namespace {

class GroupDevsimTest : public OpcClientTest {
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
        for (int i = 0; i < 3000 && !device->IsConnected(); ++i) std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(device->IsConnected());
        ASSERT_EQ(ferrow::LinkOf(*device).LoadTags(), 11);
        server = createServer();
    }
    void TearDown() override {
        group.reset();
        server.reset();
        OpcClientTest::TearDown();
    }

    ComPtr<IOPCGroupStateMgt> makeGroup(BOOL active) {
        ComPtr<IOPCGroupStateMgt> g;
        DWORD revised = 0;
        EXPECT_EQ(server->AddGroup(u"Plant", active, 10, 44, nullptr, nullptr, 0, &groupHandle, &revised,
                                   IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown**>(g.put())),
                  S_OK);
        ComPtr<IConnectionPoint> point;
        EXPECT_EQ(
            query<IConnectionPointContainer>(g.get())->FindConnectionPoint(IID_IOPCDataCallback, point.put()),
            S_OK);
        DWORD cookie = 0;
        EXPECT_EQ(point->Advise(&sink, &cookie), S_OK);
        return g;
    }
    OPCHANDLE addItem(const char16_t* id, OPCHANDLE client) {
        OPCITEMDEF def{};
        def.szItemID = const_cast<char16_t*>(id);
        def.bActive = 1;
        def.hClient = client;
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        EXPECT_EQ(query<IOPCItemMgt>(group.get())->AddItems(1, &def, &results, &errors), S_OK);
        const OPCHANDLE handle = results[0].hServer;
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
        return handle;
    }
    // Waits for a data change with an item of this client handle satisfying `pred`.
    template <class Pred>
    std::optional<CallbackItem> itemWhere(OPCHANDLE client, Pred pred) {
        for (auto deadline = std::chrono::steady_clock::now() + 30s;
             std::chrono::steady_clock::now() < deadline;) {
            for (const Callback& c : sink.dataChanges())
                for (const CallbackItem& item : c.items)
                    if (item.client == client && pred(item)) return item;
            sink.calls.waitFor(sink.calls.size() + 1, 100ms);
        }
        return std::nullopt;
    }

    platform::ui::ScriptedDialogs dialogs;
    DataCallbackSink sink;
    std::unique_ptr<devsim::SimulatedDevice> sim;
    ferrow::ODevice* device = nullptr;
    ComPtr<IOPCServer> server;
    ComPtr<IOPCGroupStateMgt> group;
    OPCHANDLE groupHandle = 0;
};

TEST_F(GroupDevsimTest, DeviceValueReachesTheCallbackAfterTheGroupRegistersItsTags) {
    group = makeGroup(0);
    addItem(u"Device1.Setpoint", 7);
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(sim->log().contains("chgdp"));  // inactive: nothing registered yet
    EXPECT_EQ(static_cast<OpcGroup*>(group.get())->subscriptionHandle(), 0u);

    BOOL active = 1;
    DWORD rate = 0;
    ASSERT_EQ(group->SetState(nullptr, &rate, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
    ASSERT_TRUE(sim->log().waitFor("< chgdp/", 30s));
    const DWORD handle = static_cast<OpcGroup*>(group.get())->subscriptionHandle();
    ASSERT_NE(handle, 0u);
    EXPECT_TRUE(sim->log().contains("< chgdp/" + std::to_string(handle) + "/Setpoint"));

    const FILETIME before = currentFileTime();
    sim->run([&] { sim->datapoints().setValue("Setpoint", "00004842"); });  // 50.0f
    const auto pushed = itemWhere(7, [](const CallbackItem& i) { return i.number == 50.0; });
    ASSERT_TRUE(pushed);
    EXPECT_EQ(pushed->quality, OPC_QUALITY_GOOD);
    EXPECT_EQ(pushed->vt, VT_R4);
    EXPECT_GE((std::uint64_t{pushed->timestamp.dwHighDateTime} << 32) | pushed->timestamp.dwLowDateTime,
              (std::uint64_t{before.dwHighDateTime} << 32) | before.dwLowDateTime);

    // The group's end ends its registration with the device. The last reference may be the update
    // thread's, in a pass, so the end may come just after RemoveGroup returns.
    group.reset();
    ASSERT_EQ(server->RemoveGroup(groupHandle, 0), S_OK);
    EXPECT_TRUE(sim->log().waitFor("< rem/" + std::to_string(handle), 30s));
    for (int i = 0; i < 3000 && (device->m_nUseCount.load() != 0 || ferrow::objectCount.load() != 1); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(device->m_nUseCount.load(), 0);
    EXPECT_EQ(ferrow::objectCount.load(), 1);  // the server
}

TEST_F(GroupDevsimTest, AGroupsPassesAreItsUpdateRateInMillisecondsApart) {
    // A group of an hour's rate reports its items on activation and in its first pass (which the
    // scheduler runs at once and may come just after the activation), and not again within the test,
    // however often their tags change meanwhile. What spaces the changes is the device: each read of it
    // is answered a second after it was asked, so the test outlasts ten seconds, and a rate taken in any
    // smaller unit (an hour in microseconds is 3.6 s) would have made further passes reporting them.
    constexpr DWORD kHour = 3600000;
    ComPtr<IOPCGroupStateMgt> hourly;
    DWORD revised = 0;
    ASSERT_EQ(server->AddGroup(u"Hourly", 0, kHour, 45, nullptr, nullptr, 0, nullptr, &revised,
                               IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown**>(hourly.put())),
              S_OK);
    ASSERT_EQ(revised, kHour);
    group = hourly;
    addItem(u"Device1.Setpoint", 8);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(query<IConnectionPointContainer>(hourly.get())
                  ->FindConnectionPoint(IID_IOPCDataCallback, point.put()),
              S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    BOOL active = 1;
    ASSERT_EQ(hourly->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
    ASSERT_GE(sink.dataChanges().size(), 1u);  // the activation's report, on this thread

    // The reads go through a group of their own, which has no sink.
    ComPtr<IOPCItemMgt> reader;
    ASSERT_EQ(server->AddGroup(u"Reader", 1, kHour, 46, nullptr, nullptr, 0, nullptr, &revised,
                               IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(reader.put())),
              S_OK);
    OPCITEMDEF def{};
    def.szItemID = const_cast<char16_t*>(u"Device1.Valve");
    def.bActive = 1;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(reader->AddItems(1, &def, &results, &errors), S_OK);
    OPCHANDLE valve = results[0].hServer;
    CoTaskMemFree(results);
    CoTaskMemFree(errors);

    ferrow::OTag* setpoint = device->FindTag("Setpoint");
    ASSERT_NE(setpoint, nullptr);
    sim->datapoints().faults().replyDelayMs = 1000;
    for (int round = 1; round <= 10; ++round) {
        {
            std::lock_guard lock(ferrow::valueLock());
            setpoint->m_value.vt = VT_R4;
            setpoint->m_value.fltVal = 100.0f + static_cast<float>(round);
            setpoint->m_wQuality = OPC_QUALITY_GOOD;
        }
        OPCITEMSTATE* states = nullptr;
        ASSERT_EQ(query<IOPCSyncIO>(reader.get())->Read(OPC_DS_DEVICE, 1, &valve, &states, &errors), S_OK);
        EXPECT_EQ(states[0].wQuality, OPC_QUALITY_GOOD);
        VariantClear(&states[0].vDataValue);
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
    }
    sim->datapoints().faults().replyDelayMs = 0;
    EXPECT_LE(sink.dataChanges().size(), 2u);
}

TEST_F(GroupDevsimTest, ARegistrationOutlivesTheDevicesLastItemUntilTheGroupEnds) {
    group = makeGroup(1);
    const OPCHANDLE item = addItem(u"Device1.Level", 1);
    ASSERT_TRUE(sim->log().waitFor("< chgdp/", 30s));
    const DWORD handle = static_cast<OpcGroup*>(group.get())->subscriptionHandle();
    HRESULT* errors = nullptr;
    OPCHANDLE handles[] = {item};
    ASSERT_EQ(query<IOPCItemMgt>(group.get())->RemoveItems(1, handles, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(device->m_nUseCount.load(), 0);  // no item holds the device: the window may delete it
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(sim->log().contains("< rem/"));
    group.reset();
    ASSERT_EQ(server->RemoveGroup(groupHandle, 0), S_OK);
    EXPECT_TRUE(sim->log().waitFor("< rem/" + std::to_string(handle), 30s));
}

TEST_F(GroupDevsimTest, TagsOfADeviceNotYetConnectedAreRegisteredOnceItConnects) {
    // As when a client's first call starts Ferrow: the group's first passes find its device still
    // connecting.
    sim->run([&] {
        sim->datapoints().closeCommandConnections();
        sim->datapoints().closeNotificationConnections();
        sim->datapoints().stopListening();
    });
    for (int i = 0; i < 3000 && device->IsConnected(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_FALSE(device->IsConnected());
    group = makeGroup(1);
    addItem(u"Device1.Setpoint", 8);
    std::this_thread::sleep_for(50ms);  // several passes while the device is away
    EXPECT_FALSE(sim->log().contains("chgdp"));

    bool listening = false;
    sim->run([&] { listening = sim->datapoints().listen(QHostAddress(sim->options().address), nullptr); });
    ASSERT_TRUE(listening);
    for (int i = 0; i < 150 && !device->IsConnected(); ++i) {
        device->Connect();
        for (int k = 0; k < 20 && !device->IsConnected(); ++k) std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(device->IsConnected());
    ASSERT_TRUE(sim->log().waitFor("< chgdp/", 30s));
    sim->run([&] { sim->datapoints().setValue("Setpoint", "0000C841"); });  // 25.0f
    EXPECT_TRUE(itemWhere(8, [](const CallbackItem& i) { return i.number == 25.0; }));
}

TEST_F(GroupDevsimTest, ItemsHearFromTheirDeviceAgainOnceItsCommandConnectionIsBack) {
    group = makeGroup(1);
    addItem(u"Device1.Setpoint", 9);
    ASSERT_TRUE(sim->log().waitFor("< chgdp/", 5s));
    sim->run([&] { sim->datapoints().setValue("Setpoint", "00002041"); });  // 10.0f
    ASSERT_TRUE(itemWhere(9, [](const CallbackItem& i) { return i.number == 10.0; }));

    // The device forgets the registrations with its command connection; the link learns of the loss at
    // its next exchange and connects again.
    sim->run([&] { sim->datapoints().closeCommandConnections(); });
    ferrow::OTag* setpoint = device->FindPushedTag("Setpoint");
    for (int i = 0; i < 500 && device->IsConnected(); ++i) ferrow::LinkOf(*device).ReadValue(*setpoint);
    ASSERT_FALSE(device->IsConnected());
    for (int i = 0; i < 50 && !device->IsConnected(); ++i) {
        device->Connect();
        for (int k = 0; k < 20 && !device->IsConnected(); ++k) std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(device->IsConnected());
    auto registrations = [&] {
        int n = 0;
        for (const std::string& entry : sim->log().entries())
            n += entry.find("/Setpoint") != std::string::npos && entry.find("< chgdp/") != std::string::npos;
        return n;
    };
    for (int i = 0; i < 3000 && registrations() < 2; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(registrations(), 2);
    sim->run([&] { sim->datapoints().setValue("Setpoint", "0000A041"); });  // 20.0f
    EXPECT_TRUE(itemWhere(9, [](const CallbackItem& i) { return i.number == 20.0; }));
}

TEST_F(GroupDevsimTest, ClientWriteReachesTheDeviceAndComesBackAsAChange) {
    group = makeGroup(1);
    const OPCHANDLE speed = addItem(u"Device1.Speed", 3);
    ComPtr<IOPCSyncIO> io = query<IOPCSyncIO>(group.get());
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R8;
    value.dblVal = 250;
    OPCHANDLE handles[] = {speed};
    HRESULT* errors = nullptr;
    ASSERT_EQ(io->Write(1, handles, &value, &errors), S_OK);
    EXPECT_EQ(errors[0], S_OK);
    CoTaskMemFree(errors);
    EXPECT_TRUE(sim->log().contains("< setdp/Speed/FA00"));
    EXPECT_TRUE(itemWhere(
        3, [](const CallbackItem& i) { return i.number == 250.0 && i.quality == OPC_QUALITY_GOOD; }));

    // A device read brings the device's own value.
    OPCITEMSTATE* states = nullptr;
    ASSERT_EQ(io->Read(OPC_DS_DEVICE, 1, handles, &states, &errors), S_OK);
    EXPECT_EQ(states[0].wQuality, OPC_QUALITY_GOOD);
    EXPECT_EQ(states[0].vDataValue.iVal, 250);
    VariantClear(&states[0].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
}

// An asynchronous write completes with each item's own outcome, as a synchronous one answers: only the
// value that fits reaches the device, and the tags of the others keep what they held.
TEST_F(GroupDevsimTest, AnAsyncWriteCompletesWithEachItemsReasonForNotWriting) {
    group = makeGroup(1);
    const OPCHANDLE setpoint = addItem(u"Device1.Setpoint", 1);
    const OPCHANDLE speedText = addItem(u"Device1.Speed", 2);
    const OPCHANDLE speedHuge = addItem(u"Device1.Speed", 3);
    const OPCHANDLE counter = addItem(u"Device1.Counter", 4);
    const OPCHANDLE level = addItem(u"Device1.Level", 5);
    // The PC takes Level for an output; the device holds it as an input and refuses.
    ferrow::OTag* levelTag = device->FindTag("Level");
    static_cast<ferrow::OqnTag*>(levelTag)->m_bOutput = 1;
    ferrow::OTag* speedTag = device->FindTag("Speed");
    // A tag's value as its type and a number.
    auto held = [](ferrow::OTag* tag) {
        std::lock_guard lock(ferrow::valueLock());
        VARIANT number;
        VariantInit(&number);
        VariantChangeType(&number, &tag->m_value, 0, VT_R8);
        return std::pair{tag->m_value.vt, number.dblVal};
    };
    const auto speedBefore = held(speedTag);
    const auto levelBefore = held(levelTag);

    VARIANT values[5];
    for (VARIANT& v : values) {
        VariantInit(&v);
        v.vt = VT_R8;
    }
    values[0].dblVal = 20;
    values[1].vt = VT_BSTR;
    values[1].bstrVal = SysAllocString(u"high");
    values[2].dblVal = 1e9;
    values[3].dblVal = 5;
    values[4].dblVal = 3;
    OPCHANDLE handles[] = {setpoint, speedText, speedHuge, counter, level};
    DWORD id = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(query<IOPCAsyncIO2>(group.get())->Write(5, handles, values, 90, &id, &errors), S_OK);
    CoTaskMemFree(errors);
    VariantClear(&values[1]);

    std::optional<Callback> completion;
    for (auto deadline = std::chrono::steady_clock::now() + 30s;
         !completion && std::chrono::steady_clock::now() < deadline;) {
        for (const Callback& c : sink.calls.all())
            if (c.kind == Callback::WriteComplete && c.transaction == 90) completion = c;
        if (!completion) sink.calls.waitFor(sink.calls.size() + 1, 100ms);
    }
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->masterError, S_FALSE);
    ASSERT_EQ(completion->items.size(), 5u);
    EXPECT_EQ(completion->items[0].client, 1u);
    EXPECT_EQ(completion->items[0].error, S_OK);
    EXPECT_EQ(completion->items[1].error, OPC_E_BADTYPE);
    EXPECT_EQ(completion->items[2].error, OPC_E_RANGE);
    EXPECT_EQ(completion->items[3].error, OPC_E_BADRIGHTS);
    EXPECT_EQ(completion->items[4].client, 5u);
    EXPECT_EQ(completion->items[4].error, ferrow::opc::kDeviceRefused);

    EXPECT_TRUE(sim->log().contains("< setdp/Setpoint/0000A041"));
    EXPECT_FALSE(sim->log().contains("< setdp/Speed/"));
    EXPECT_FALSE(sim->log().contains("< setdp/Counter/"));
    EXPECT_EQ(held(speedTag), speedBefore);
    EXPECT_EQ(held(levelTag), levelBefore);
}

TEST_F(GroupDevsimTest, ADroppedDeviceConnectionReachesTheClientAsCommunicationFailure) {
    group = makeGroup(1);
    addItem(u"Device1.Level", 5);
    ASSERT_TRUE(sim->log().waitFor("< chgdp/", 30s));
    sim->run([&] { sim->datapoints().setValue("Level", "00000040"); });
    ASSERT_TRUE(itemWhere(5, [](const CallbackItem& i) { return i.quality == OPC_QUALITY_GOOD; }));
    sim->run([&] { sim->datapoints().closeNotificationConnections(); });
    EXPECT_TRUE(itemWhere(5, [](const CallbackItem& i) { return i.quality == OPC_QUALITY_COMM_FAILURE; }));
}

}  // namespace
}  // namespace opctest
