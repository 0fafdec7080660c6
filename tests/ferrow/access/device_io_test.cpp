// Writes and reads of the core against a simulated device: what the client wrote is exactly what the
// device gets, and a write that did not happen says so and leaves the tag as it was.

#include "ferrow/access/device_io.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "ferrow/devlink/hex_value.h"
#include "ferrow/model/locks.h"
#include "platform/ui/time_scale.h"
#include "tests/ferrow/access/access_device.h"

namespace accesstest {
namespace {

using namespace platform::com;
using ferrow::access::WriteResult;

VARIANT number(double value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = value;
    return v;
}

class DeviceIoTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(link.start()); }
    // The tag's value, quality and time, read as one.
    struct Snapshot {
        VARTYPE vt;
        double number;
        std::uint16_t quality;
        std::uint64_t time;
    };
    Snapshot snapshot(ferrow::OTag* tag) {
        std::lock_guard lock(ferrow::valueLock());
        VARIANT copy;
        VariantInit(&copy);
        VariantChangeType(&copy, &tag->m_value, 0, VT_R8);
        return {tag->m_value.vt, copy.dblVal, tag->m_wQuality, tag->m_ftTimestamp.ticks()};
    }
    AccessDevice link;
};

TEST_F(DeviceIoTest, TheDeviceGetsExactlyTheWrittenValueWhilePushesArrive) {
    ferrow::OqnTag* speed = link.tag("Speed");  // an output of type VT_I2
    std::atomic<bool> pushing{true};
    // As the notification worker does: values pushed into the tag while the client writes.
    std::thread pusher([&] {
        while (pushing) ferrow::StoreHexValue(*speed, "3930");  // 12345
    });
    for (int i = 1; i <= 200; ++i) {
        VARIANT value = number(i);
        ASSERT_EQ(ferrow::access::WriteToDevice(*speed, value), WriteResult::Written);
        const std::string hex = *ferrow::HexFromValue([&] {
            VARIANT sent;
            VariantInit(&sent);
            sent.vt = VT_I2;
            sent.iVal = static_cast<short>(i);
            return sent;
        }());
        ASSERT_TRUE(link.sim->log().contains("< setdp/Speed/" + hex)) << i;
    }
    pushing = false;
    pusher.join();
    EXPECT_EQ(link.logCount("< setdp/Speed/3930"), 0);
}

TEST_F(DeviceIoTest, AWrittenValueIsWhatTheTagHolds) {
    ferrow::OqnTag* speed = link.tag("Speed");
    VARIANT value = number(250);
    ASSERT_EQ(ferrow::access::WriteToDevice(*speed, value), WriteResult::Written);
    const Snapshot after = snapshot(speed);
    EXPECT_EQ(after.vt, VT_I2);
    EXPECT_EQ(after.number, 250.0);
    EXPECT_EQ(after.quality, ferrow::kQualityGood);
    EXPECT_TRUE(link.sim->log().contains("< setdp/Speed/FA00"));
}

TEST_F(DeviceIoTest, AWriteThatDidNotHappenSaysWhyAndLeavesTheTagAsItWas) {
    ferrow::OqnTag* speed = link.tag("Speed");
    VARIANT first = number(7);
    ASSERT_EQ(ferrow::access::WriteToDevice(*speed, first), WriteResult::Written);
    const Snapshot before = snapshot(speed);

    // A value with no form in the tag's type, and one outside it.
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u"high");
    EXPECT_EQ(ferrow::access::WriteToDevice(*speed, text), WriteResult::Unconvertible);
    VariantClear(&text);
    VARIANT huge = number(1e9);
    EXPECT_EQ(ferrow::access::WriteToDevice(*speed, huge), WriteResult::OutOfRange);

    // The device refuses a datapoint it holds as an input, whatever the PC believes.
    ferrow::OqnTag* level = link.tag("Level");
    level->m_bOutput = 1;
    const Snapshot levelBefore = snapshot(level);
    VARIANT some = number(3);
    EXPECT_EQ(ferrow::access::WriteToDevice(*level, some), WriteResult::Refused);
    const Snapshot levelAfter = snapshot(level);
    EXPECT_EQ(levelAfter.number, levelBefore.number);
    EXPECT_EQ(levelAfter.quality, levelBefore.quality);
    level->m_bOutput = 0;
    EXPECT_EQ(ferrow::access::WriteToDevice(*level, some), WriteResult::NotWritable);

    const Snapshot untouched = snapshot(speed);
    EXPECT_EQ(untouched.number, before.number);
    EXPECT_EQ(untouched.quality, before.quality);
    EXPECT_EQ(untouched.time, before.time);

    // A device that does not answer (the link marks its tags with a communication failure), and one
    // that is not connected.
    link.sim->datapoints().faults().silent = true;
    const double scale = platform::timeScale();
    platform::setTimeScale(0.02);
    VARIANT unanswered = number(8);
    EXPECT_EQ(ferrow::access::WriteToDevice(*speed, unanswered), WriteResult::NoAnswer);
    platform::setTimeScale(scale);
    ASSERT_FALSE(link.device->IsConnected());
    EXPECT_EQ(ferrow::access::WriteToDevice(*speed, unanswered), WriteResult::NotConnected);

    const Snapshot after = snapshot(speed);
    EXPECT_EQ(after.number, before.number);
    EXPECT_EQ(link.logCount("< setdp/Speed/"), 2);  // the first write and the unanswered one
}

TEST_F(DeviceIoTest, ADeviceReadBringsTheDevicesValue) {
    link.sim->run([&] { link.sim->datapoints().setValue("Level", "0000A040"); });  // 5.0f
    ferrow::OqnTag* level = link.tag("Level");
    ASSERT_TRUE(ferrow::access::ReadFromDevice(*level));
    EXPECT_EQ(snapshot(level).number, 5.0);
    link.sim->datapoints().faults().silent = true;
    const double scale = platform::timeScale();
    platform::setTimeScale(0.02);
    EXPECT_FALSE(ferrow::access::ReadFromDevice(*level));
    platform::setTimeScale(scale);
    EXPECT_EQ(snapshot(level).quality, ferrow::kQualityCommFailure);
}

}  // namespace
}  // namespace accesstest
