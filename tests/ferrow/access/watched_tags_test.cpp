// A watch's tags against a simulated device: one use of a device however many of its tags are watched,
// and one registration per tag held for as long as the watch lasts, however its items come and go.

#include "ferrow/access/watched_tags.h"

#include <gtest/gtest.h>

#include <utility>

#include "ferrow/access/tag_registry.h"
#include "tests/ferrow/access/access_device.h"

namespace accesstest {
namespace {

using ferrow::access::TagRegistry;
using ferrow::access::WatchedTags;

class WatchedTagsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(link.start());
        device = link.device.get();
        level = link.tag("Level");
        setpoint = link.tag("Setpoint");
    }
    void TearDown() override {
        watched.Clear();
        registry.Release(watched.TakeHolds());
    }

    AccessDevice link;
    TagRegistry registry;
    WatchedTags watched;
    ferrow::ODevice* device = nullptr;
    ferrow::OTag* level = nullptr;
    ferrow::OTag* setpoint = nullptr;
};

TEST_F(WatchedTagsTest, ADeviceIsUsedOnceUntilItsLastWatchedTagGoes) {
    const int before = device->m_nUseCount;
    watched.Add(device, level);
    watched.Add(device, level);  // two items on one tag
    watched.Add(device, setpoint);
    EXPECT_EQ(device->m_nUseCount, before + 1);

    watched.Remove(device, level);
    watched.Remove(device, setpoint);
    EXPECT_EQ(device->m_nUseCount, before + 1);  // the other item on Level still watches it
    watched.Remove(device, level);
    EXPECT_EQ(device->m_nUseCount, before);
    EXPECT_TRUE(watched.empty());

    watched.Add(device, level);
    watched.Clear();
    EXPECT_EQ(device->m_nUseCount, before);
}

TEST_F(WatchedTagsTest, ATagIsHeldOnceForTheWholeWatch) {
    watched.Add(device, level);
    watched.Add(device, level);
    std::vector<ferrow::TagRef> deviceTags = watched.HoldAdded(registry);
    ASSERT_EQ(deviceTags.size(), 1u);  // one tag of each device, to send what the device misses
    EXPECT_EQ(registry.Holders(device, "Level"), 1);
    registry.Sync(deviceTags);
    EXPECT_EQ(link.logCount("< chgdp/1/Level"), 1);

    // Items that go and come back, and tags added since, are held no more than once.
    watched.Remove(device, level);
    watched.Remove(device, level);
    EXPECT_TRUE(watched.HoldAdded(registry).empty());
    EXPECT_EQ(registry.Holders(device, "Level"), 1);  // held until the watch ends
    watched.Add(device, level);
    watched.Add(device, setpoint);
    registry.Sync(watched.HoldAdded(registry));
    EXPECT_EQ(registry.Holders(device, "Level"), 1);
    EXPECT_EQ(registry.Holders(device, "Setpoint"), 1);
    EXPECT_EQ(link.logCount("< chgdp/1/Setpoint"), 1);

    // The watch's end hands over every hold, once.
    watched.Clear();
    const auto holds = watched.TakeHolds();
    EXPECT_EQ(holds.size(), 2u);
    EXPECT_TRUE(watched.TakeHolds().empty());
    registry.Release(holds);
    EXPECT_EQ(registry.Holders(device, "Level"), 0);
    EXPECT_TRUE(link.sim->log().waitFor("< rem/1", 30s));
}

}  // namespace
}  // namespace accesstest
