// The core's tag registrations against a simulated device: one per tag however many watches hold it,
// the handle dropped with the device's last hold, and everything sent again once the device has
// connected again (it forgets registrations with its command connection).

#include "ferrow/access/tag_registry.h"

#include <gtest/gtest.h>

#include <mutex>

#include "ferrow/model/locks.h"
#include "tests/ferrow/access/access_device.h"

namespace accesstest {
namespace {

using ferrow::TagRef;
using ferrow::access::TagRegistry;

class TagRegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(link.start()); }
    std::vector<TagRef> devices() { return {TagRef(link.tag("Level"))}; }
    double level() {
        std::lock_guard lock(ferrow::valueLock());
        return link.tag("Level")->m_value.fltVal;
    }

    AccessDevice link;
    TagRegistry registry;
};

TEST_F(TagRegistryTest, OneRegistrationPerTagHoweverManyWatchesHoldIt) {
    ferrow::ODevice* device = link.device.get();
    registry.Hold(device, "Level");
    registry.Hold(device, "Level");
    registry.Hold(device, "Setpoint");
    EXPECT_EQ(registry.Holders(device, "Level"), 2);
    registry.Sync(devices());
    registry.Sync(devices());
    EXPECT_EQ(link.logCount("< chgdp/1/Level"), 1);
    EXPECT_EQ(link.logCount("< chgdp/1/Setpoint"), 1);

    // A tag let go while others of the device are held stays registered; the last hold drops the handle.
    registry.Release({{device, "Level"}, {device, "Setpoint"}});
    EXPECT_EQ(link.logCount("< rem/"), 0);
    registry.Release({{device, "Level"}});
    EXPECT_TRUE(link.sim->log().waitFor("< rem/1", 5s));
    EXPECT_EQ(registry.Holders(device, "Level"), 0);
}

TEST_F(TagRegistryTest, RegistrationsAreSentAgainAfterTheCommandConnectionWasLost) {
    ferrow::ODevice* device = link.device.get();
    registry.Hold(device, "Level");
    registry.Sync(devices());
    link.sim->run([&] { link.sim->datapoints().setValue("Level", "0000C03F"); });  // 1.5f
    ASSERT_TRUE(eventually([&] { return level() == 1.5f; }));

    ASSERT_TRUE(link.dropCommandConnectionAndReconnect());
    registry.Sync(devices());
    EXPECT_EQ(link.logCount("< chgdp/1/Level"), 2);
    link.sim->run([&] { link.sim->datapoints().setValue("Level", "00000040"); });  // 2.0f
    EXPECT_TRUE(eventually([&] { return level() == 2.0f; }));
    registry.Release({{device, "Level"}});
}

TEST_F(TagRegistryTest, ARefusedRegistrationWaitsForTheNextConnection) {
    ferrow::ODevice* device = link.device.get();
    registry.Hold(device, "NoSuchTag");
    registry.Sync(devices());
    registry.Hold(device, "Level");  // something new for the device: the refused one is not sent again
    registry.Sync(devices());
    EXPECT_EQ(link.logCount("< chgdp/1/NoSuchTag"), 1);
    EXPECT_EQ(link.logCount("< chgdp/1/Level"), 1);
    ASSERT_TRUE(link.dropCommandConnectionAndReconnect());
    registry.Sync(devices());
    EXPECT_EQ(link.logCount("< chgdp/1/NoSuchTag"), 2);
    registry.Release({{device, "NoSuchTag"}, {device, "Level"}});
}

}  // namespace
}  // namespace accesstest
