#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QScopeGuard>
#include <future>

#include "ferrow/devlink/device_link.h"
#include "ferrow/devlink/tag_lists.h"
#include "linked_device.h"
#include "platform/ui/time_scale.h"

using namespace ferrow;
using namespace ferrowtest;

namespace {
// Bounds a hang only: what these tests wait for takes milliseconds.
constexpr auto kHangLimit = 30s;

std::string readValue(LinkedDevice& link, OTag* tag) { return LinkOf(*link.device).ReadValue(*tag); }
}  // namespace

TEST(PortWire, ReplySplitOverSegmentsIsReassembled) {
    LinkedDevice link;
    ASSERT_TRUE(link.connect());
    OqnTag* level = link.addTag("Level", 4);
    auto value = std::async(std::launch::async, [&] { return readValue(link, level); });
    ASSERT_TRUE(link.peer.waitForReceived("getdp/Level\r\n", link.commandIndex));
    link.peer.send("0000", link.commandIndex);
    ASSERT_TRUE(link.peer.waitForSent(link.commandIndex));
    std::this_thread::sleep_for(30ms);
    link.peer.send("803F\r", link.commandIndex);
    ASSERT_TRUE(link.peer.waitForSent(link.commandIndex));
    std::this_thread::sleep_for(30ms);
    link.peer.send("\n", link.commandIndex);
    EXPECT_EQ(value.get(), "0000803F");
}

TEST(PortWire, TwoLinesInOneSegmentAreReadOnePerRequest) {
    LinkedDevice link;
    ASSERT_TRUE(link.connect());
    OqnTag* level = link.addTag("Level", 4);
    EXPECT_EQ(link.answer([&] { return readValue(link, level); }, "getdp/Level\r\n", "AA\r\nBB\r\n"), "AA");
    // The second line was buffered: it answers the next request without waiting for the device.
    EXPECT_EQ(readValue(link, level), "BB");
}

TEST(PortWire, OverlongLineIsDiscardedAndItsTailReadAsALine) {
    LinkedDevice link;
    ASSERT_TRUE(link.connect());
    OqnTag* level = link.addTag("Level", 4);
    auto value = std::async(std::launch::async, [&] { return readValue(link, level); });
    ASSERT_TRUE(link.peer.waitForReceived("getdp/Level\r\n", link.commandIndex));
    link.peer.send(QByteArray(200, 'x'), link.commandIndex);
    ASSERT_TRUE(link.peer.waitForSent(link.commandIndex));
    std::this_thread::sleep_for(50ms);
    link.peer.send("tail\r\n", link.commandIndex);
    EXPECT_EQ(value.get(), "tail");
}

TEST(PortWire, LoneCrStallsUntilTheBufferFillsThenGivesAnEmptyLine) {
    LinkedDevice link;
    ASSERT_TRUE(link.connect());
    auto exchange = std::async(std::launch::async, [&] {
        OPortRequest request;
        request.SetCommand("getdp/Level\r\n");
        const bool ok = LinkOf(*link.device).m_pCommandPort->Execute(request);
        return std::make_pair(ok, request.m_wReplyLength);
    });
    ASSERT_TRUE(link.peer.waitForReceived("getdp/Level\r\n", link.commandIndex));
    link.peer.send("ok\r" + QByteArray(1100, 'z') + "\r\n", link.commandIndex);
    const auto [ok, length] = exchange.get();
    EXPECT_TRUE(ok);
    EXPECT_EQ(length, 0);
    EXPECT_TRUE(link.device->IsConnected());
}

TEST(PortWire, CommandLongerThan127CharactersIsNotSent) {
    LinkedDevice link;
    ASSERT_TRUE(link.connect());
    OqnTag* tag = link.addTag(std::string(120, 'n'), 4);  // "getdp/" + 120 + CR LF = 128
    EXPECT_EQ(readValue(link, tag), "");
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(link.peer.received(link.commandIndex).isEmpty());
    EXPECT_TRUE(link.device->IsConnected());
}

TEST(PortWire, SilentDeviceFailsTheExchangeAfterTheReplyLimit) {
    LinkedDevice link;
    ASSERT_TRUE(link.connect());
    OqnTag* level = link.addTag("Level", 4);
    platform::setTimeScale(0.02);  // only the exchange under test: 10 s -> 200 ms
    const auto restoreScale = qScopeGuard([] { platform::setTimeScale(1.0); });
    auto read = std::async(std::launch::async, [&] { return ReadTags(true, {level}); });
    ASSERT_EQ(read.wait_for(kHangLimit), std::future_status::ready);
    EXPECT_FALSE(read.get());
    EXPECT_EQ(level->m_wQuality, kQualityCommFailure);
    EXPECT_FALSE(link.device->IsConnected());
    EXPECT_NE(link.trace.text().find("OPort::Receive: 110\r\n"), std::string::npos) << link.trace.text();
}

TEST(PortWire, ADeviceTricklingBytesWithoutALineFailsTheExchangeAfterTheReplyLimitInAll) {
    LinkedDevice link;
    ASSERT_TRUE(link.connect());
    OqnTag* level = link.addTag("Level", 4);
    platform::setTimeScale(0.02);  // only the exchange under test: 10 s -> 200 ms
    const auto restoreScale = qScopeGuard([] { platform::setTimeScale(1.0); });
    auto read = std::async(std::launch::async, [&] { return ReadTags(true, {level}); });
    ASSERT_TRUE(link.peer.waitForReceived("getdp/Level\r\n", link.commandIndex));
    // A byte every 20 ms, each well within the limit of one read, until the exchange gives up; a limit
    // per read would let the trickle keep it going until the hang limit.
    bool endedWhileTrickling = false;
    for (const QDeadlineTimer hangLimit(kHangLimit); !hangLimit.hasExpired();) {
        if (read.wait_for(20ms) == std::future_status::ready) {
            endedWhileTrickling = true;
            break;
        }
        link.peer.send("7", link.commandIndex);
    }
    EXPECT_TRUE(endedWhileTrickling);
    EXPECT_FALSE(read.get());
    EXPECT_EQ(level->m_wQuality, kQualityCommFailure);
    EXPECT_NE(link.trace.text().find("OPort::Receive: 110\r\n"), std::string::npos) << link.trace.text();
}

TEST(PortWire, DeletingADeviceWhosePeerIsSilentReturnsPromptly) {
    LinkedDevice link;
    ASSERT_TRUE(link.connect());
    // The notification worker sits in a receive the device never answers; with a reply limit of a
    // minute, a delete that waited for it would run into the hang limit.
    platform::setTimeScale(6.0);
    const auto restoreScale = qScopeGuard([] { platform::setTimeScale(1.0); });
    auto deleting = std::async(std::launch::async, [&] { link.device.reset(); });
    EXPECT_EQ(deleting.wait_for(kHangLimit), std::future_status::ready);
    deleting.get();
    EXPECT_TRUE(link.peer.waitForPeerClose(0));
    EXPECT_TRUE(link.peer.waitForPeerClose(1));
}

TEST(PortWire, DeletingADeviceWhileItConnectsToANonAnsweringAddressReturnsPromptly) {
    TraceLog trace;
    platform::setTimeScale(6.0);  // a connect limit far beyond the hang limit
    const auto restoreScale = qScopeGuard([] { platform::setTimeScale(1.0); });
    auto device = MakeLinkedDevice();
    device->m_params.m_strOctet = {"192", "0", "2", "1"};  // a documentation address: nobody answers
    EXPECT_TRUE(device->Connect());
    auto deleting = std::async(std::launch::async, [&] { device.reset(); });
    EXPECT_EQ(deleting.wait_for(kHangLimit), std::future_status::ready);
    deleting.get();
}

TEST(PortWire, ConnectToAClosedPortLeavesTheDeviceUnconnected) {
    TraceLog trace;
    ODevice device;
    AttachDeviceLink(device);
    pointAt(device, testsupport::uniqueLoopbackAddress());
    EXPECT_TRUE(device.Connect());  // the opens were accepted; connecting fails in the workers
    EXPECT_TRUE(eventually([&] {
        return LinkOf(device).m_pCommandPort->Status() == 2 && LinkOf(device).m_pNotifyPort->Status() == 2;
    }));
    EXPECT_FALSE(device.IsConnected());
    EXPECT_FALSE(device.IsConnecting());
    EXPECT_FALSE(LinkOf(device).m_pCommandPort->IsOpen());
    EXPECT_NE(trace.text().find("Connect socket failed 111\r\n"), std::string::npos) << trace.text();
}

TEST(PortWire, StoppedPortRefusesAtOnce) {
    ODevice device;
    AttachDeviceLink(device);
    device.StopLink();
    OPortRequest open(OPortRequest::kOpen);
    EXPECT_FALSE(LinkOf(device).m_pCommandPort->Execute(open));
    EXPECT_FALSE(device.Connect());
}
