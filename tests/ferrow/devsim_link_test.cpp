#include <gtest/gtest.h>

#include "devsim/datapoint_service.h"
#include "ferrow/devlink/monitor.h"
#include "ferrow/devlink/tag_lists.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/locks.h"
#include "linked_device.h"
#include "platform/ui/scripted_dialogs.h"
#include "tests/support/device_fixture.h"

using namespace ferrow;
using namespace ferrowtest;
using namespace platform::com;

namespace {
std::unique_ptr<ODevice> linkedTo(devsim::SimulatedDevice& sim) {
    auto device = std::make_unique<ODevice>();
    pointAt(*device, sim.options().address);
    device->Connect();
    EXPECT_TRUE(eventually([&] { return device->IsConnected(); }));
    return device;
}
}  // namespace

TEST(DevsimLink, LoadsReadsAndWritesTheDemoTable) {
    auto sim = testsupport::startDevice();
    ASSERT_TRUE(sim);
    auto device = linkedTo(*sim);
    EXPECT_EQ(device->LoadTags(), 11);
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
    EXPECT_TRUE(device->WriteTag(*speed));
    EXPECT_EQ(device->ReadValue(*speed), "2A00");
    OTag* level = device->FindTag("Level");
    level->m_value.vt = VT_I4;
    level->m_value.lVal = 3;
    EXPECT_FALSE(device->WriteTag(*level));  // an input: the device refuses
    EXPECT_EQ(level->m_wQuality, kQualityBad);
}

TEST(DevsimLink, MonitorSubscribesTheSelectedDeviceAndFollowsItsValues) {
    platform::ui::ScriptedDialogs dialogs;
    auto sim = testsupport::startDevice();
    ASSERT_TRUE(sim);
    CDoc doc;
    ODevice* device = doc.AddDevice([&](ODevice& d) {
        pointAt(d, sim->options().address);
        return true;
    });
    ASSERT_TRUE(eventually([&] { return device->IsConnected(); }));
    device->LoadTags();
    ASSERT_TRUE(StartMonitor(doc));
    ASSERT_TRUE(sim->log().waitFor("< chgdp/0/Valve", std::chrono::seconds(5)));
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
    EXPECT_TRUE(sim->log().waitFor("< rem/0", std::chrono::seconds(5)));
    EXPECT_EQ(device->m_nUseCount, 0);
    EXPECT_FALSE(doc.m_bMonitor);
}

TEST(DevsimLink, SimulationSwitchAndAClosedCommandConnection) {
    auto sim = testsupport::startDevice();
    ASSERT_TRUE(sim);
    auto device = linkedTo(*sim);
    EXPECT_TRUE(device->SetSimulation(true));
    bool simulating = false;
    sim->run([&] { simulating = sim->datapoints().simulating(); });
    EXPECT_TRUE(simulating);
    device->LoadTags();
    sim->run([&] { sim->datapoints().closeCommandConnections(); });
    EXPECT_EQ(device->ReadValue(*device->m_tags[0]), "");
    EXPECT_EQ(device->m_tags[0]->m_wQuality, kQualityCommFailure);
    EXPECT_FALSE(device->IsConnected());
    EXPECT_TRUE(device->Connect());
    EXPECT_TRUE(eventually([&] { return device->IsConnected(); }));
    EXPECT_TRUE(device->SetSimulation(false));
    sim->run([&] { simulating = sim->datapoints().simulating(); });
    EXPECT_FALSE(simulating);
}
