#include "ferrow/devlink/device_link.h"

#include <gtest/gtest.h>

#include "ferrow/devlink/tag_lists.h"
#include "linked_device.h"

using namespace ferrow;
using namespace ferrowtest;
using namespace platform::com;

TEST(DeviceLink, TagEnumerationReadsNameTypeAndAccess) {
    LinkedDevice link;
    ASSERT_TRUE(link.connect());
    auto load = std::async(std::launch::async, [&] { return LinkOf(*link.device).LoadTags(); });
    const std::pair<const char*, const char*> replies[] = {
        {"dpid/0\r\n", "Level/4/0\r\n"},    {"dpid/1\r\n", "Valve/11\r\n"},
        {"dpid/2\r\n", "counter/x/1\r\n"},  {"dpid/3\r\n", "Huge/99999999999/1\r\n"},
        {"dpid/4\r\n", "Wide/65547/1\r\n"}, {"dpid/5\r\n", "\r\n"}};
    for (const auto& [request, reply] : replies) {
        ASSERT_TRUE(link.peer.waitForContains(request, link.commandIndex)) << request;
        link.peer.send(reply, link.commandIndex);
    }
    EXPECT_EQ(load.get(), 5);
    ASSERT_EQ(link.device->m_tags.size(), 5u);
    auto* counter = static_cast<OqnTag*>(link.device->m_tags[0].get());
    auto* level = static_cast<OqnTag*>(link.device->m_tags[2].get());
    auto* valve = static_cast<OqnTag*>(link.device->m_tags[3].get());
    EXPECT_EQ(level->m_strName, "Level");
    EXPECT_EQ(level->m_vtDevice, VT_R4);
    EXPECT_EQ(level->m_vtCanonical, VT_R4);
    EXPECT_EQ(level->m_bOutput, 0);
    EXPECT_EQ(level->m_wQuality, kQualityUncertain);
    EXPECT_EQ(level->m_value.vt, VT_EMPTY);
    EXPECT_EQ(valve->m_vtDevice, VT_BOOL);
    EXPECT_EQ(valve->m_bOutput, 1);     // a missing access field means output
    EXPECT_EQ(counter->m_vtDevice, 0);  // a bad type number reads as 0
    // So does one beyond a type code's 16 bits, however long: never a wrapped type (65547 is not VT_BOOL).
    EXPECT_EQ(static_cast<OqnTag*>(link.device->FindTag("Huge"))->m_vtDevice, 0);
    EXPECT_EQ(static_cast<OqnTag*>(link.device->FindTag("Wide"))->m_vtDevice, 0);
}

TEST(DeviceLink, NotificationsStoreValuesAndSkipUnknownNames) {
    LinkedDevice link;
    ASSERT_TRUE(link.connect());
    OqnTag* level = link.addTag("Level", VT_R4);
    OqnTag* valve = link.addTag("Valve", VT_BOOL);
    link.peer.send("x/y/Level/0000803F\r\nx/y/Valve\r\n", link.notifyIndex);
    ASSERT_TRUE(eventuallyUnderValueLock([&] { return valve->m_wQuality == kQualityGood; }));
    EXPECT_EQ(level->m_value.vt, VT_R4);
    EXPECT_EQ(level->m_value.fltVal, 1.0f);
    EXPECT_EQ(level->m_wQuality, kQualityGood);
    EXPECT_EQ(valve->m_value.vt, VT_BOOL);  // three fields: no hex digits, the value 0
    EXPECT_EQ(valve->m_value.boolVal, 0);
    // A line about an unknown datapoint, or one naming none, does not stop the values that follow.
    link.peer.send("x/y/Nobody/01\r\nshort/line\r\nx/y/level/00000040\r\n", link.notifyIndex);
    ASSERT_TRUE(eventuallyUnderValueLock([&] { return level->m_value.fltVal == 2.0f; }));
    EXPECT_NE(link.trace.text().find("unknown datapoint Nobody"), std::string::npos);
}

TEST(DeviceLink, ReadTagsWithoutPollSendsNothing) {
    LinkedDevice link;
    ASSERT_TRUE(link.connect());
    OqnTag* level = link.addTag("Level", VT_R4);
    EXPECT_TRUE(ReadTags(false, {level}));
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(link.peer.received(link.commandIndex).isEmpty());
    EXPECT_EQ(level->m_wQuality, kQualityUncertain);
}

TEST(DeviceLink, ReadTagsStoresValuesAndAnEmptyReplyMarksTheDevice) {
    LinkedDevice link;
    ASSERT_TRUE(link.connect());
    OqnTag* level = link.addTag("Level", VT_R4);
    OqnTag* mode = link.addTag("Mode", VT_UI1);
    EXPECT_TRUE(link.answer([&] { return ReadTags(true, {level}); }, "getdp/Level\r\n", "0000803F\r\n"));
    EXPECT_EQ(level->m_value.fltVal, 1.0f);
    EXPECT_NE(link.device->m_params.m_ftLastRead.ticks(), 0u);
    EXPECT_FALSE(link.answer([&] { return ReadTags(true, {mode, level}); }, "getdp/Mode\r\n", "\r\n"));
    EXPECT_EQ(mode->m_wQuality, kQualityCommFailure);
    EXPECT_EQ(level->m_wQuality, kQualityCommFailure);
    EXPECT_EQ(level->m_value.fltVal, 1.0f);  // the value is kept
}

TEST(DeviceLink, WritingARealToAnI2TagSendsTheRoundedValue) {
    LinkedDevice link;
    ASSERT_TRUE(link.connect());
    OqnTag* speed = link.addTag("Speed", VT_I2);
    speed->m_value.vt = VT_R8;
    speed->m_value.dblVal = 3.5;
    EXPECT_TRUE(
        link.answer([&] { return LinkOf(*link.device).WriteTag(*speed); }, "setdp/Speed/0400\r\n", "ok\r\n"));
    EXPECT_EQ(speed->m_wQuality, kQualityGood);
    EXPECT_EQ(speed->m_value.vt, VT_I2);

    OqnTag* level = link.addTag("Level", VT_R4);
    level->m_value.vt = VT_I4;
    level->m_value.lVal = 1;
    EXPECT_FALSE(link.answer([&] { return LinkOf(*link.device).WriteTag(*level); },
                             "setdp/Level/0000803F\r\n", "\r\n"));
    EXPECT_EQ(level->m_wQuality, kQualityBad);

    // A value the type cannot hold is not sent at all.
    speed->m_value.vt = VT_R8;
    speed->m_value.dblVal = 40000.0;
    EXPECT_FALSE(LinkOf(*link.device).WriteTag(*speed));
    EXPECT_EQ(speed->m_wQuality, kQualityBad);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(link.peer.received(link.commandIndex).isEmpty());
}

TEST(DeviceLink, SubscribeStopsAtAnEmptyReplyAndUnsubscribeSendsOneRemPerDevice) {
    LinkedDevice link;
    ASSERT_TRUE(link.connect());
    OqnTag* a = link.addTag("A", VT_I4);
    OqnTag* b = link.addTag("B", VT_I4);
    auto subscribe = std::async(std::launch::async, [&] { return SubscribeTags(7, {a, b}); });
    ASSERT_TRUE(link.peer.waitForContains("chgdp/7/A\r\n", link.commandIndex));
    link.peer.send("\r\n", link.commandIndex);
    EXPECT_FALSE(subscribe.get());
    EXPECT_FALSE(link.peer.received(link.commandIndex).contains("chgdp/7/B"));
    EXPECT_TRUE(SubscribeTags(7, {}));
    link.peer.clearReceived(link.commandIndex);
    auto unsubscribe = std::async(std::launch::async, [&] { return UnsubscribeTags(7, {a, b}); });
    ASSERT_TRUE(link.peer.waitForReceived("rem/7\r\n", link.commandIndex));
    link.peer.send("\r\n", link.commandIndex);
    EXPECT_TRUE(unsubscribe.get());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(link.peer.received(link.commandIndex), "rem/7\r\n");
}

TEST(DeviceLink, ClosedCommandConnectionMarksTagsAndTheNextConnectOpensBothPorts) {
    LinkedDevice link;
    ASSERT_TRUE(link.connect());
    OqnTag* level = link.addTag("Level", VT_R4);
    link.peer.close(link.commandIndex);
    EXPECT_EQ(LinkOf(*link.device).ReadValue(*level), "");
    EXPECT_TRUE(eventuallyUnderValueLock([&] { return level->m_wQuality == kQualityCommFailure; }));
    EXPECT_FALSE(link.device->IsConnected());
    EXPECT_TRUE(link.peer.waitForPeerClose(link.notifyIndex));  // the notification connection is given up too
    EXPECT_NE(link.trace.text().find("OPort::Receive: connection closed\r\n"), std::string::npos);

    link.commandIndex = -1;
    ASSERT_TRUE(link.connect(2));
    EXPECT_EQ(link.peer.connectionCount(), 4);
    link.peer.send("a/b/Level/00004040\r\n", link.notifyIndex);
    EXPECT_TRUE(eventuallyUnderValueLock(
        [&] { return level->m_wQuality == kQualityGood && level->m_value.fltVal == 3.0f; }));
}

TEST(DeviceLink, ClosedNotificationConnectionMarksTheTagsAndConnectOpensItAgain) {
    LinkedDevice link;
    ASSERT_TRUE(link.connect());
    OqnTag* level = link.addTag("Level", VT_R4);
    link.peer.send("a/b/Level/0000803F\r\n", link.notifyIndex);
    ASSERT_TRUE(eventuallyUnderValueLock([&] { return level->m_wQuality == kQualityGood; }));

    link.peer.close(link.notifyIndex);
    EXPECT_TRUE(eventually([&] { return !link.device->IsConnected(); }));
    EXPECT_TRUE(eventuallyUnderValueLock([&] { return level->m_wQuality == kQualityCommFailure; }));
    EXPECT_TRUE(LinkOf(*link.device).m_pCommandPort->IsConnected());  // the command connection stands

    // Connect opens only the port that is not open: one new connection, and the device is whole again.
    EXPECT_TRUE(link.answer([&] { return link.device->Connect(); }, "simulate/off\r\n", "ok\r\n"));
    ASSERT_TRUE(link.peer.waitForConnections(3));
    EXPECT_TRUE(eventually([&] { return link.device->IsConnected(); }));
    EXPECT_EQ(link.peer.connectionCount(), 3);
    link.peer.send("a/b/Level/00004040\r\n", 2);
    EXPECT_TRUE(eventuallyUnderValueLock(
        [&] { return level->m_wQuality == kQualityGood && level->m_value.fltVal == 3.0f; }));
}

// MarkCommFailure keeps the server's lock order (value lock before the tag-list lock): a thread that
// holds the value lock can still look a tag up while another thread waits to mark the tags.
TEST(DeviceLink, MarkingTheTagsWaitsForTheValueLockWithoutHoldingTheTagList) {
    LinkedDevice link;
    link.addTag("Level", VT_R4);
    std::unique_lock values(valueLock());
    auto marking = std::async(std::launch::async, [&] { link.device->MarkCommFailure(); });
    // Give the marking thread the chance to block; each lookup must still come through.
    for (int i = 0; i < 20; ++i) {
        auto lookup = std::async(std::launch::async, [&] { return link.device->FindPushedTag("Level"); });
        ASSERT_EQ(lookup.wait_for(30s), std::future_status::ready) << "the tag list is held while waiting";
        EXPECT_NE(lookup.get(), nullptr);
        std::this_thread::sleep_for(5ms);
    }
    values.unlock();
    marking.get();
}
