#include <gtest/gtest.h>

#include <QScopeGuard>

#include "devsim/datapoint_service.h"
#include "ferrow/devlink/device_link.h"
#include "ferrow/devlink/monitor.h"
#include "ferrow/devlink/tag_lists.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/locks.h"
#include "linked_device.h"
#include "platform/ui/scripted_dialogs.h"
#include "platform/ui/time_scale.h"
#include "tests/support/device_fixture.h"

using namespace ferrow;
using namespace ferrowtest;
using namespace platform::com;

namespace {
// A device of `doc` at the simulated device's address, waited for until it is connected.
ODevice* addConnected(CDoc& doc, const devsim::SimulatedDevice& sim) {
    ODevice* device = doc.AddDevice([&](ODevice& d) {
        pointAt(d, sim.options().address);
        return true;
    });
    EXPECT_TRUE(device && eventually([&] { return device->IsConnected(); }));
    return device;
}

std::unique_ptr<ODevice> linkedTo(devsim::SimulatedDevice& sim) {
    auto device = MakeLinkedDevice();
    pointAt(*device, sim.options().address);
    device->Connect();
    EXPECT_TRUE(eventually([&] { return device->IsConnected(); }));
    return device;
}

// A document with one device, connected to a simulated device, for the monitor; monitoring ends with the
// test.
class DevsimMonitor : public ::testing::Test {
  protected:
    void SetUp() override {
        sim = testsupport::startDevice();
        ASSERT_TRUE(sim);
        device = addConnected(doc, *sim);
        ASSERT_TRUE(device);
    }
    void TearDown() override { StopMonitor(doc); }

    platform::ui::ScriptedDialogs dialogs;
    decltype(testsupport::startDevice()) sim;
    CDoc doc{MakeLinkedDevice};
    ODevice* device = nullptr;
};
}  // namespace

TEST(DevsimLink, LoadsReadsAndWritesTheDemoTable) {
    auto sim = testsupport::startDevice();
    ASSERT_TRUE(sim);
    auto device = linkedTo(*sim);
    EXPECT_EQ(LinkOf(*device).LoadTags(), 11);
    EXPECT_EQ(device->m_tags.front()->m_strName, "Alarm");
    std::vector<OTag*> all;
    for (const auto& t : device->m_tags) all.push_back(t.get());
    EXPECT_TRUE(ReadTags(true, all));
    for (OTag* t : all) EXPECT_EQ(t->m_wQuality, kQualityGood) << t->m_strName;
    OTag* pressure = device->FindTag("Pressure");
    EXPECT_EQ(pressure->m_value.iVal, 0x1234);

    OTag* speed = device->FindTag("speed");
    speed->m_value.vt = VT_R4;
    speed->m_value.fltVal = 41.6f;
    EXPECT_TRUE(LinkOf(*device).WriteTag(*speed));
    EXPECT_EQ(LinkOf(*device).ReadValue(*speed), "2A00");
    OTag* level = device->FindTag("Level");
    level->m_value.vt = VT_I4;
    level->m_value.lVal = 3;
    EXPECT_FALSE(LinkOf(*device).WriteTag(*level));  // an input: the device refuses
    EXPECT_EQ(level->m_wQuality, kQualityBad);
}

TEST_F(DevsimMonitor, MonitorSubscribesTheSelectedDeviceAndFollowsItsValues) {
    LinkOf(*device).LoadTags();
    ASSERT_TRUE(StartMonitor(doc));
    ASSERT_TRUE(sim->log().waitFor("< chgdp/0/Valve", std::chrono::seconds(30)));
    EXPECT_EQ(device->m_nUseCount, 1);
    sim->run([&] { sim->datapoints().setValue("Valve", "0000"); });
    OTag* valve = device->FindTag("Valve");
    EXPECT_TRUE(eventually([&] {
        std::lock_guard lock(valueLock());
        return valve->m_wQuality == kQualityGood && valve->m_value.boolVal == 0;
    }));
    // A dotted name is not found as an item, but its pushed values still arrive.
    sim->run([&] { sim->datapoints().setValue("Tank.Temp", "00000042"); });
    OTag* temp = device->FindPushedTag("Tank.Temp");
    EXPECT_TRUE(eventually([&] {
        std::lock_guard lock(valueLock());
        return temp->m_value.fltVal == 32.0f;
    }));
    StopMonitor(doc);
    EXPECT_TRUE(sim->log().waitFor("< rem/0", std::chrono::seconds(30)));
    EXPECT_EQ(device->m_nUseCount, 0);
    EXPECT_FALSE(doc.m_bMonitor);
}

TEST(DevsimLink, TheMonitorFollowsANewSelectionFromOneDeviceToTheOther) {
    platform::ui::ScriptedDialogs dialogs;
    auto first = testsupport::startDevice();
    auto second = testsupport::startDevice();
    ASSERT_TRUE(first && second);
    CDoc doc{MakeLinkedDevice};
    auto add = [&](devsim::SimulatedDevice& sim) {
        ODevice* device = addConnected(doc, sim);
        if (device) LinkOf(*device).LoadTags();
        return device;
    };
    ODevice* watchedFirst = add(*first);
    ODevice* watchedNext = add(*second);
    ASSERT_TRUE(watchedFirst && watchedNext);
    doc.m_pSelection = watchedFirst;
    ASSERT_TRUE(StartMonitor(doc));
    auto stop = qScopeGuard([&] { StopMonitor(doc); });
    ASSERT_TRUE(first->log().waitFor("< chgdp/0/Valve", std::chrono::seconds(30)));
    EXPECT_FALSE(second->log().contains("chgdp/0/"));

    // The selection moves on: the first device's subscription ends, the second's tags are subscribed.
    doc.m_pSelection = watchedNext;
    EXPECT_TRUE(first->log().waitFor("< rem/0", std::chrono::seconds(30)));
    EXPECT_TRUE(second->log().waitFor("< chgdp/0/Valve", std::chrono::seconds(30)));
    EXPECT_TRUE(eventually([&] { return watchedFirst->m_nUseCount == 0 && watchedNext->m_nUseCount == 1; }));
    // Its pushed values now reach its tags.
    second->run([&] { second->datapoints().setValue("Valve", "0000"); });
    OTag* valve = watchedNext->FindTag("Valve");
    EXPECT_TRUE(eventually([&] {
        std::lock_guard lock(valueLock());
        return valve->m_wQuality == kQualityGood && valve->m_value.boolVal == 0;
    }));
    stop.dismiss();
    StopMonitor(doc);
    EXPECT_TRUE(second->log().waitFor("< rem/0", std::chrono::seconds(30)));
    EXPECT_EQ(watchedNext->m_nUseCount, 0);
}

TEST_F(DevsimMonitor, TheMonitorSubscribesTagsThatLoadAfterItStarted) {
    ASSERT_TRUE(StartMonitor(doc));
    // The monitor holds the selected device before it has any tags.
    ASSERT_TRUE(eventually([&] { return device->m_nUseCount == 1; }));
    ASSERT_EQ(LinkOf(*device).LoadTags(), 11);
    EXPECT_TRUE(sim->log().waitFor("< chgdp/0/Valve", std::chrono::seconds(30)));
    StopMonitor(doc);
    EXPECT_EQ(device->m_nUseCount, 0);
}

// The device forgets its subscriptions with its command connection: once connected again, the monitor
// subscribes the watched tags again, and pushed values flow as before.
TEST_F(DevsimMonitor, TheMonitorSubscribesAgainAfterTheDeviceReconnects) {
    ASSERT_EQ(LinkOf(*device).LoadTags(), 11);
    ASSERT_TRUE(StartMonitor(doc));
    ASSERT_TRUE(sim->log().waitFor("< chgdp/0/Valve", std::chrono::seconds(30)));

    sim->run([&] { sim->datapoints().closeCommandConnections(); });
    // The next exchange finds the connection gone.
    EXPECT_EQ(LinkOf(*device).ReadValue(*device->m_tags[0]), "");
    ASSERT_FALSE(device->IsConnected());
    sim->log().clear();
    ASSERT_TRUE(device->Connect());
    ASSERT_TRUE(eventually([&] { return device->IsConnected(); }));
    EXPECT_TRUE(sim->log().waitFor("< chgdp/0/Valve", std::chrono::seconds(30)));
    sim->run([&] { sim->datapoints().setValue("Valve", "0000"); });
    OTag* valve = device->FindTag("Valve");
    EXPECT_TRUE(eventually([&] {
        std::lock_guard lock(valueLock());
        return valve->m_wQuality == kQualityGood && valve->m_value.boolVal == 0;
    }));
}

// The device slows down to replies just inside the limit while the monitor subscribes its tags: the list
// would take a limit per tag. Switching monitoring off waits one limit and its margin, then cuts the
// exchange short; the device counts as not answering, and no part of the thread outlives the stop.
TEST(DevsimLink, StoppingTheMonitorWaitsAtMostOneExchangeLimitAndItsMargin) {
    platform::ui::ScriptedDialogs dialogs;
    TraceLog trace;  // the cut exchange's diagnostics
    auto sim = testsupport::startDevice();
    ASSERT_TRUE(sim);
    auto doc = std::make_unique<CDoc>(MakeLinkedDevice);
    ODevice* device = addConnected(*doc, *sim);
    ASSERT_TRUE(device);
    ASSERT_EQ(LinkOf(*device).LoadTags(), 11);
    ASSERT_EQ(doc->m_pSelection.load(), device);

    // Short limits for the monitor's exchanges only, once the device is connected: 10 s -> 500 ms.
    platform::setTimeScale(0.05);
    const auto restoreScale = qScopeGuard([] { platform::setTimeScale(1.0); });
    const auto limit = platform::scaled(OPort::kReplyLimit);
    sim->datapoints().faults().replyDelayMs = static_cast<int>(limit.count() * 9 / 10);
    ASSERT_TRUE(StartMonitor(*doc));
    ASSERT_TRUE(sim->log().waitFor("< chgdp/0/", 30s));
    StopMonitor(*doc);
    EXPECT_FALSE(doc->m_hMonitorThread.joinable());
    EXPECT_FALSE(doc->m_bMonitor);
    EXPECT_EQ(device->m_nUseCount, 0);
    EXPECT_FALSE(device->IsConnected());
    EXPECT_TRUE(
        eventuallyUnderValueLock([&] { return device->m_tags[0]->m_wQuality == kQualityCommFailure; }));
    int subscriptions = 0;
    for (const std::string& entry : sim->log().entries())
        subscriptions += entry.find("< chgdp/0/") != std::string::npos;
    EXPECT_LT(subscriptions, 11);  // a stop that waited for the whole list would have seen all eleven
    // Nothing of the monitor runs on to find the devices gone.
    doc.reset();
}

TEST(DevsimLink, SimulationSwitchAndAClosedCommandConnection) {
    auto sim = testsupport::startDevice();
    ASSERT_TRUE(sim);
    auto device = linkedTo(*sim);
    EXPECT_TRUE(LinkOf(*device).SetSimulation(true));
    bool simulating = false;
    sim->run([&] { simulating = sim->datapoints().simulating(); });
    EXPECT_TRUE(simulating);
    LinkOf(*device).LoadTags();
    sim->run([&] { sim->datapoints().closeCommandConnections(); });
    EXPECT_EQ(LinkOf(*device).ReadValue(*device->m_tags[0]), "");
    EXPECT_EQ(device->m_tags[0]->m_wQuality, kQualityCommFailure);
    EXPECT_FALSE(device->IsConnected());
    EXPECT_TRUE(device->Connect());
    EXPECT_TRUE(eventually([&] { return device->IsConnected(); }));
    EXPECT_TRUE(LinkOf(*device).SetSimulation(false));
    sim->run([&] { simulating = sim->datapoints().simulating(); });
    EXPECT_FALSE(simulating);
}

// After the device closed its notification connection the command connection still stands: the
// device counts as having an open port, and a Connect to a changed address moves both connections there.
TEST(DevsimLink, AnAddressChangeTakesBothConnectionsToTheNewAddress) {
    auto first = testsupport::startDevice();
    auto second = testsupport::startDevice();
    ASSERT_TRUE(first && second);
    auto device = linkedTo(*first);
    EXPECT_TRUE(device->HasOpenPort());
    // The device tells its command connection by the requests on it.
    LinkOf(*device).LoadTags();
    first->run([&] { first->datapoints().closeNotificationConnections(); });
    ASSERT_TRUE(eventually([&] { return !device->IsConnected(); }));
    EXPECT_TRUE(device->HasOpenPort());

    pointAt(*device, second->options().address);
    EXPECT_TRUE(device->Connect());
    ASSERT_TRUE(eventually([&] { return device->IsConnected(); }));
    const std::string moved = second->options().address.toStdString();
    EXPECT_EQ(LinkOf(*device).m_pCommandPort->Host(), moved);
    EXPECT_EQ(LinkOf(*device).m_pNotifyPort->Host(), moved);
    EXPECT_TRUE(LinkOf(*device).SetSimulation(true));
    bool firstSimulating = true, secondSimulating = false;
    first->run([&] { firstSimulating = first->datapoints().simulating(); });
    second->run([&] { secondSimulating = second->datapoints().simulating(); });
    EXPECT_FALSE(firstSimulating);
    EXPECT_TRUE(secondSimulating);
}

// Each octet is its decimal value whatever its leading zeros ("012" is 12, never octal 10), and an
// address that is not four such numbers is refused before anything is looked up or connected. The
// octets keep the text as typed.
TEST(DevsimLink, OctetsAreDecimalNumbersAndNeverANameToLookUp) {
    // An address of our own whose second octet, written with a leading zero, means another number in
    // octal: 10 to 77 with digits 0 to 7.
    QString address;
    for (int attempt = 0; attempt < 300 && address.isEmpty(); ++attempt) {
        const QString candidate = testsupport::uniqueLoopbackAddress();
        const QString second = candidate.section(QLatin1Char('.'), 1, 1);
        if (second.size() == 2 && second[0] >= QLatin1Char('1') && second[0] <= QLatin1Char('7') &&
            second[1] <= QLatin1Char('7'))
            address = candidate;
    }
    ASSERT_FALSE(address.isEmpty());
    devsim::DeviceOptions options;
    options.address = address;
    options.root = testsupport::freshFolder(QStringLiteral("device"));
    devsim::SimulatedDevice sim(options);
    QString error;
    ASSERT_TRUE(sim.start(&error)) << error.toStdString();

    const auto device = MakeLinkedDevice();
    pointAt(*device, address);
    device->m_params.m_strOctet[1] = "0" + device->m_params.m_strOctet[1];
    const std::string typed = device->m_params.Address();
    EXPECT_TRUE(device->Connect());
    EXPECT_TRUE(eventually([&] { return device->IsConnected(); }));
    EXPECT_EQ(device->m_params.Address(), typed);

    TraceLog trace;
    for (const char* octets : {"10.ab.cd.2", "256.0.0.1", "1.2.3", "1.2.3.-4", "1.2.3. 4", "0x7f.0.0.1"}) {
        const auto named = MakeLinkedDevice();
        const QStringList parts = QString::fromLatin1(octets).split(QLatin1Char('.'));
        for (int i = 0; i < 4; ++i)
            named->m_params.m_strOctet[static_cast<std::size_t>(i)] =
                i < parts.size() ? parts[i].toStdString() : "";
        EXPECT_FALSE(named->Connect()) << octets;
        EXPECT_FALSE(named->IsConnecting()) << octets;
    }
    EXPECT_NE(trace.text().find("Device address is not four numbers from 0 to 255"), std::string::npos);
}
