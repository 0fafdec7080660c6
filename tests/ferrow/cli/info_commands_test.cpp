#include <QJsonArray>
#include <QJsonObject>
#include <cstdlib>
#include <ctime>

#include "ferrow/opc/com_server.h"
#include "tests/ferrow/cli/cli_fixture.h"

namespace clitest {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Times print in the zone of the process; these tests fix it to UTC.
class UtcZone {
  public:
    UtcZone() {
        if (const char* zone = std::getenv("TZ")) previous_ = zone;
        setenv("TZ", "UTC0", 1);
        tzset();
    }
    ~UtcZone() {
        if (previous_.empty())
            unsetenv("TZ");
        else
            setenv("TZ", previous_.c_str(), 1);
        tzset();
    }

  private:
    std::string previous_;
};

// 2026-12-07 15:30:00 UTC.
constexpr std::uint64_t kStartTicks = 134'411'310'000'000'000ULL;

class StatusTest : public CliTest {
  protected:
    void SetUp() override {
        CliTest::SetUp();
        saved = ferrow::opc::ServerStartTime();
        ferrow::opc::SetServerStartTime(FILETIME::fromTicks(kStartTicks));
    }
    void TearDown() override {
        ferrow::opc::SetServerStartTime(saved);
        CliTest::TearDown();
    }
    UtcZone utc;
    FILETIME saved;
};

TEST_F(StatusTest, ShowsStateTimesGroupsVersionAndVendor) {
    const Outcome result = run({"status"});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.err, IsEmpty());
    const auto shown = lines(result.out);
    ASSERT_EQ(shown.size(), 7u) << result.out;
    EXPECT_EQ(shown[0], "State:            running");
    EXPECT_EQ(shown[1], "Vendor:           Ferrow server by Morvane GmbH");
    EXPECT_EQ(shown[2], "Version:          2.0.1");
    EXPECT_EQ(shown[3], "Start time:       2026-12-07T15:30:00+00:00");
    EXPECT_THAT(shown[4],
                ::testing::MatchesRegex("Current time:     [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\\+00:00"));
    EXPECT_EQ(shown[5], "Last update time: never");
    EXPECT_EQ(shown[6], "Groups:           0");
}

TEST_F(StatusTest, JsonHasTheSameFieldsWithNullForNever) {
    const Outcome result = run({"status", "--json"});
    EXPECT_EQ(result.status, 0);
    const QJsonObject status = parseJson(result.out).object();
    EXPECT_EQ(status["state"].toString(), "running");
    EXPECT_EQ(status["stateCode"].toInt(), 1);
    EXPECT_EQ(status["startTime"].toString(), "2026-12-07T15:30:00.000+00:00");
    EXPECT_TRUE(status["lastUpdateTime"].isNull());
    EXPECT_EQ(status["groupCount"].toInt(), 0);
    EXPECT_EQ(status["version"].toString(), "2.0.1");
    EXPECT_EQ(status["vendorInfo"].toString(), "Ferrow server by Morvane GmbH");
}

// The demo datapoints of "Dev" in the order the server lists them.
const std::vector<std::string> kDevTags = {"Alarm", "Counter", "Level",     "Mode",  "Pressure", "Setpoint",
                                           "Speed", "Status",  "Tank.Temp", "Total", "Valve"};

TEST_F(CliTest, BrowseShowsTheTreeAndAPathItsBranch) {
    Outcome result = run({"browse"});
    EXPECT_EQ(result.status, 0);
    std::vector<std::string> expected = {"Dev."};
    for (const std::string& tag : kDevTags) expected.push_back("  " + tag);
    expected.push_back("Aux.");
    expected.push_back("  Flow");
    EXPECT_EQ(lines(result.out), expected);

    result = run({"browse", "Dev"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(lines(result.out), kDevTags);
}

TEST_F(CliTest, BrowseFlatListsItemIdsBelowThePath) {
    Outcome result = run({"browse", "--flat"});
    EXPECT_EQ(result.status, 0);
    std::vector<std::string> expected;
    for (const std::string& tag : kDevTags) expected.push_back("Dev." + tag);
    expected.push_back("Aux.Flow");
    EXPECT_EQ(lines(result.out), expected);

    result = run({"browse", "--flat", "aux"});  // item IDs ignore case
    EXPECT_THAT(lines(result.out), ElementsAre("Aux.Flow"));
}

TEST_F(CliTest, BrowseFilterKeepsMatchingTagsAndTheBranchesThatHoldThem) {
    Outcome result = run({"browse", "--filter", "s*"});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(lines(result.out), ElementsAre("Dev.", "  Setpoint", "  Speed", "  Status"));

    result = run({"browse", "--flat", "--filter=*.?l*"});
    EXPECT_THAT(lines(result.out), ElementsAre("Dev.Alarm", "Aux.Flow"));
}

TEST_F(CliTest, BrowseOfAMissingBranchSaysSoAndLeavesThePositionAtTheRoot) {
    // One server for both runs, as a client that keeps its connection would have.
    ComPtr<IOPCServer> server = createServer();
    const auto shared = [&](IOPCServer** out) {
        server->AddRef();
        *out = server.get();
        return S_OK;
    };
    std::ostringstream out, err;
    EXPECT_EQ(ferrow::cli::run({"browse", "dev"}, shared, out, err, stop), 1);
    EXPECT_EQ(err.str(), "ferrow-opc: browse: the root has no branch 'dev' (names are case-sensitive)\n");
    EXPECT_EQ(out.str(), "");

    std::ostringstream out2, err2;
    EXPECT_EQ(ferrow::cli::run({"browse", "Dev.Nested"}, shared, out2, err2, stop), 1);
    EXPECT_EQ(err2.str(), "ferrow-opc: browse: Dev has no branch 'Nested' (names are case-sensitive)\n");

    std::ostringstream out3, err3;
    EXPECT_EQ(ferrow::cli::run({"browse", "Aux"}, shared, out3, err3, stop), 0);
    EXPECT_EQ(out3.str(), "Flow\n");
}

TEST_F(CliTest, BrowseShowsNamesWithControlCharactersAsEscapes) {
    addTag(aux, "Flow\x1B[2J", VT_R4, false);
    const Outcome result = run({"browse", "Aux"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "Flow\nFlow\\x1B[2J\n");
    // JSON carries the name as it is, escaped the JSON way.
    const QJsonObject json = parseJson(run({"browse", "Aux", "--json"}).out).object();
    EXPECT_EQ(json["leaves"].toArray()[1].toObject()["name"].toString(), "Flow\x1B[2J");
}

TEST_F(CliTest, BrowseJsonNestsBranchesWithTheirItemIds) {
    const Outcome result = run({"browse", "--json", "--filter", "Flow"});
    EXPECT_EQ(result.status, 0);
    const QJsonObject root = parseJson(result.out).object();
    EXPECT_EQ(root["path"].toString(), "");
    EXPECT_TRUE(root["leaves"].toArray().isEmpty());
    const QJsonArray branches = root["branches"].toArray();
    ASSERT_EQ(branches.size(), 1);
    const QJsonObject auxBranch = branches[0].toObject();
    EXPECT_EQ(auxBranch["name"].toString(), "Aux");
    const QJsonObject flow = auxBranch["leaves"].toArray()[0].toObject();
    EXPECT_EQ(flow["name"].toString(), "Flow");
    EXPECT_EQ(flow["itemId"].toString(), "Aux.Flow");

    const QJsonObject flat =
        parseJson(run({"browse", "Dev", "--flat", "--json", "--filter", "*l"}).out).object();
    EXPECT_EQ(flat["items"].toArray(), QJsonArray({"Dev.Level", "Dev.Total"}));
}

TEST_F(CliTest, PropertiesOfAnItemInTheirMeaning) {
    const Outcome result = run({"properties", "Dev.Setpoint"});
    EXPECT_EQ(result.status, 0);
    const auto shown = lines(result.out);
    ASSERT_EQ(shown.size(), 6u) << result.out;
    EXPECT_EQ(shown[0], "   1  Item Canonical DataType  VT_R4");
    EXPECT_THAT(shown[1], ::testing::StartsWith("   2  Item Value               "));
    EXPECT_THAT(shown[2], ::testing::StartsWith("   3  Item Quality             "));
    EXPECT_THAT(shown[3], ::testing::StartsWith("   4  Item Timestamp           "));
    EXPECT_EQ(shown[4], "   5  Item Access Rights       read, write (3)");
    EXPECT_THAT(shown[5], ::testing::StartsWith(" 101  Item Description         "));

    const Outcome input = run({"properties", "aux.flow", "--json"});
    EXPECT_EQ(input.status, 0);
    const QJsonObject item = parseJson(input.out).object();
    EXPECT_EQ(item["item"].toString(), "aux.flow");
    const QJsonArray properties = item["properties"].toArray();
    ASSERT_EQ(properties.size(), 6);
    QList<int> ids;
    for (const auto& p : properties) ids.append(p.toObject()["id"].toInt());
    EXPECT_EQ(ids, QList<int>({1, 2, 3, 4, 5, 101}));
    EXPECT_EQ(properties[0].toObject()["value"].toInt(), VT_R4);
    EXPECT_EQ(properties[0].toObject()["text"].toString(), "VT_R4");
    EXPECT_EQ(properties[4].toObject()["text"].toString(), "read (1)");
    EXPECT_EQ(properties[5].toObject()["value"].toString(), "Flow of Aux");
}

TEST_F(CliTest, AnUnknownItemGivesTheServersTextAndStatusOne) {
    for (const char* command : {"properties", "read"}) {
        const Outcome result = run({command, "Dev.Nothing"});
        EXPECT_EQ(result.status, 1) << command;
        EXPECT_EQ(result.out, "") << command;
        EXPECT_EQ(result.err, "ferrow-opc: Dev.Nothing: This ItemID is not known. (0xC0040007)\n") << command;
    }
    const Outcome noDot = run({"properties", "Dev"});
    EXPECT_EQ(noDot.status, 1);
    EXPECT_THAT(noDot.err, HasSubstr("This ItemID is not known."));
}

TEST_F(CliTest, UsageErrorsNeedNoServerAndPointToTheHelp) {
    const auto refuse = [](IOPCServer**) -> HRESULT {
        ADD_FAILURE() << "a usage error must not connect";
        return E_FAIL;
    };
    std::ostringstream out, err;
    EXPECT_EQ(ferrow::cli::run({"watch", "Dev.Level", "--count", "0"}, refuse, out, err, stop), 2);
    EXPECT_EQ(err.str(),
              "ferrow-opc: --count needs a whole number of values above 0, not '0'\n"
              "Try 'ferrow-opc watch --help'.\n");
    std::ostringstream out2, err2;
    EXPECT_EQ(ferrow::cli::run({"frobnicate"}, refuse, out2, err2, stop), 2);
    EXPECT_EQ(err2.str(), "ferrow-opc: unknown command 'frobnicate'\nTry 'ferrow-opc --help'.\n");
    std::ostringstream out3, err3;
    EXPECT_EQ(ferrow::cli::run({"write", "--help"}, refuse, out3, err3, stop), 0);
    EXPECT_THAT(out3.str(), ::testing::StartsWith("Usage: ferrow-opc write ITEM=VALUE..."));
    EXPECT_EQ(err3.str(), "");
}

TEST_F(CliTest, AServerThatCannotBeReachedEndsWithStatusThree) {
    const auto absent = [](IOPCServer** server) {
        return CoCreateInstance(CLSID_FerrowServer, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer,
                                reinterpret_cast<void**>(server));
    };
    std::ostringstream out, err;
    EXPECT_EQ(ferrow::cli::run({"status"}, absent, out, err, stop), 3);
    EXPECT_EQ(err.str(), "ferrow-opc: Ferrow is not running and could not be started (0x80040154)\n");

    // A server that exits between the connection and the command.
    ComPtr<IOPCServer> server = createServer();
    const auto cutOff = [&](IOPCServer** out) {
        DisconnectAndDeleteServers(std::chrono::milliseconds(0));
        server->AddRef();
        *out = server.get();
        return S_OK;
    };
    std::ostringstream out2, err2;
    EXPECT_EQ(ferrow::cli::run({"browse", "--flat"}, cutOff, out2, err2, stop), 3);
    EXPECT_EQ(err2.str(),
              "ferrow-opc: browse: the connection to Ferrow was lost (it exited or cut this client off) "
              "(0x80010108)\n");
}

}  // namespace
}  // namespace clitest
