#include <QJsonArray>
#include <QJsonObject>

#include "tests/ferrow/cli/cli_fixture.h"

namespace clitest {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

// "<time> <item> <value> <quality>" as read and watch print it.
constexpr const char* kTime = "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}";

std::string linePattern(const std::string& item, const std::string& value, const std::string& quality) {
    return std::string(kTime) + " " + item + " " + value + " " + quality;
}

TEST_F(CliTest, ReadFromTheDeviceGivesItsCurrentValues) {
    setDeviceValue("Pressure", "2211");  // 0x1122
    const Outcome result = run({"read", "--device", "Dev.Pressure", "Dev.Valve", "Dev.Setpoint"});
    EXPECT_EQ(result.status, 0) << result.err;
    const auto shown = lines(result.out);
    ASSERT_EQ(shown.size(), 3u) << result.out;
    EXPECT_THAT(shown[0], MatchesRegex(linePattern("Dev.Pressure", "4386", "good \\(0xC0\\)")));
    EXPECT_THAT(shown[1], MatchesRegex(linePattern("Dev.Valve", "True", "good \\(0xC0\\)")));
    EXPECT_THAT(shown[2], MatchesRegex(linePattern("Dev.Setpoint", "2.5", "good \\(0xC0\\)")));
}

TEST_F(CliTest, ReadFromTheCacheGivesWhatTheServerHolds) {
    // The cache holds what the last device read brought, not the device's newer value.
    ASSERT_EQ(run({"read", "--device", "Dev.Counter"}).status, 0);
    sim->run([&] { sim->datapoints().table().find("Counter")->setHexValue("0F000000"); });  // no push
    const Outcome cached = run({"read", "Dev.Counter", "--json"});
    EXPECT_EQ(cached.status, 0) << cached.err;
    const QJsonArray items = parseJson(cached.out).array();
    ASSERT_EQ(items.size(), 1);
    const QJsonObject counter = items[0].toObject();
    EXPECT_EQ(counter["item"].toString(), "Dev.Counter");
    EXPECT_EQ(counter["value"].toInt(), 1000);
    EXPECT_EQ(counter["type"].toString(), "VT_I4");
    EXPECT_EQ(counter["quality"].toString(), "good");
    EXPECT_EQ(counter["qualityCode"].toInt(), 0xC0);
    EXPECT_THAT(counter["time"].toString().toStdString(),
                MatchesRegex(std::string(kTime) + "[+-][0-9]{2}:[0-9]{2}"));

    EXPECT_THAT(run({"read", "--device", "Dev.Counter"}).out, HasSubstr(" Dev.Counter 15 good"));
}

TEST_F(CliTest, ReadReportsUnknownItemsAndStillReadsTheOthers) {
    const Outcome result = run({"read", "--device", "Dev.Level", "Dev.Lvl", "--json"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "ferrow-opc: Dev.Lvl: This ItemID is not known. (0xC0040007)\n");
    const QJsonArray items = parseJson(result.out).array();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0].toObject()["value"].toDouble(), 1.0);
}

TEST_F(CliTest, ADeviceThatStopsAnsweringReadsAsCommFailure) {
    ASSERT_EQ(run({"read", "--device", "Dev.Level"}).status, 0);
    sim->run([&] { sim->datapoints().closeCommandConnections(); });
    const Outcome result = run({"read", "--device", "Dev.Level"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr(" Dev.Level 1 comm failure (0x18)"));
}

TEST_F(CliTest, WriteTypesTheValueByTheItemAndReachesTheDevice) {
    const Outcome result =
        run({"write", "Dev.Setpoint=7.25", "Dev.Mode=3", "Dev.Valve=false", "dev.speed=-2"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Dev.Setpoint = 7.25\nDev.Mode = 3\nDev.Valve = False\ndev.speed = -2\n");
    EXPECT_EQ(deviceValue("Setpoint"), "0000E840");  // 7.25f, little-endian
    EXPECT_EQ(deviceValue("Mode"), "03");
    EXPECT_EQ(deviceValue("Valve"), "0000");
    EXPECT_EQ(deviceValue("Speed"), "FEFF");
}

TEST_F(CliTest, WriteToAnInputGivesTheServersTextAndLeavesTheDeviceAlone) {
    const Outcome result = run({"write", "Dev.Level=3", "Dev.Total=12", "--json"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "ferrow-opc: Dev.Level: Access Rights do not allow this operation. (0xC0040006)\n");
    const QJsonArray items = parseJson(result.out).array();
    ASSERT_EQ(items.size(), 2);
    EXPECT_FALSE(items[0].toObject()["written"].toBool());
    EXPECT_EQ(items[0].toObject()["error"].toObject()["code"].toString(), "0xC0040006");
    EXPECT_TRUE(items[1].toObject()["written"].toBool());
    EXPECT_EQ(items[1].toObject()["value"].toInt(), 12);
    EXPECT_EQ(deviceValue("Level"), "0000803F");  // 1.0f as before
    EXPECT_EQ(deviceValue("Total"), "0C000000");
}

TEST_F(CliTest, WriteOfAValueOutsideTheItemsTypeWritesNothing) {
    Outcome result = run({"write", "Dev.Setpoint=1", "Dev.Mode=300"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(
        result.err,
        "ferrow-opc: write: '300' is out of the range of Dev.Mode's type VT_UI1; nothing was written\n");
    // Beyond what any number holds: refused, never written as 0 or an infinity.
    for (const char* huge : {"Dev.Setpoint=1e999", "Dev.Setpoint=-1e400", "Dev.Counter=1e999"}) {
        result = run({"write", huge});
        EXPECT_EQ(result.status, 1) << huge;
        EXPECT_EQ(result.out, "") << huge;
        EXPECT_THAT(result.err, HasSubstr("is out of the range of Dev.")) << huge;
    }
    result = run({"write", "Dev.Setpoint=high"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "ferrow-opc: write: 'high' is not a value of Dev.Setpoint's type VT_R4; nothing was written\n");
    result = run({"write", "Dev.Setpoint=1", "Dev.Nothing=1"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(
        result.err,
        "ferrow-opc: Dev.Nothing: This ItemID is not known. (0xC0040007)\nferrow-opc: nothing was written\n");
    EXPECT_EQ(deviceValue("Setpoint"), "00002040");  // 2.5f as before
    EXPECT_EQ(deviceValue("Mode"), "01");
}

TEST_F(CliTest, AWriteTheDeviceDidNotTakeIsNoSuccess) {
    sim->run([&] { sim->datapoints().closeCommandConnections(); });
    const Outcome result = run({"write", "Dev.Setpoint=9"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "ferrow-opc: Dev.Setpoint: The device did not answer. (0xC0040402)\n");
}

}  // namespace
}  // namespace clitest
