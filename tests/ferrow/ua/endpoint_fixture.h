#pragma once

#include <gtest/gtest.h>

#include "ferrow/ua/memory_data_source.h"
#include "ferrow/ua/ua_endpoint.h"
#include "tests/ferrow/ua/socket_client.h"

namespace ferrow::ua::test {

// Device1 with an input Counter (Int32), an output Setpoint (Double) and a group Line with an output
// Speed (Float); Device2 with an input Text (String).
inline std::vector<FolderInfo> sampleDevices() {
    FolderInfo line{
        "Line", "Device1.Line", {}, {TagInfo{"Speed", "Device1.Line.Speed", TagType::Float, true}}};
    FolderInfo device1{"Device1",
                       "Device1",
                       {line},
                       {TagInfo{"Counter", "Device1.Counter", TagType::Int32, false},
                        TagInfo{"Setpoint", "Device1.Setpoint", TagType::Double, true}}};
    FolderInfo device2{"Device2", "Device2", {}, {TagInfo{"Text", "Device2.Text", TagType::String, false}}};
    return {device1, device2};
}

// The endpoint serving sampleDevices() on a loopback port of its own, and a client with an open session.
class EndpointTest : public ::testing::Test {
  protected:
    void SetUp() override {
        source.setDevices(sampleDevices());
        source.setSample("Device1.Counter",
                         TagSample{std::int32_t{41}, 0xC0, DateTime{133000000000000000LL}});
        UaEndpoint::Settings settings;
        settings.addresses = {QHostAddress(QHostAddress::LocalHost)};
        settings.port = 0;
        settings.info.hostname = "testhost";
        settings.info.softwareVersion = "1.2.7";
        endpoint = std::make_unique<UaEndpoint>(source, settings);
        ASSERT_EQ(endpoint->start(), QString());
        ASSERT_TRUE(client.connectTo(endpoint->port()));
        ASSERT_TRUE(client.openChannel());
    }
    void TearDown() override { endpoint.reset(); }

    MemoryDataSource source;
    std::unique_ptr<UaEndpoint> endpoint;
    SocketClient client;
};

}  // namespace ferrow::ua::test
