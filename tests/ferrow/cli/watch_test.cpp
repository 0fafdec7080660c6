#include <QJsonObject>
#include <future>

#include "ferrow/opc/com_server.h"
#include "tests/ferrow/cli/cli_fixture.h"

namespace clitest {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

constexpr const char* kTime = "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}";

// A watch on a thread of its own, printing into a stream the test reads while it runs.
class WatchTest : public CliTest {
  protected:
    void start(std::vector<std::string> args) {
        watching = std::async(std::launch::async,
                              [this, args] { return ferrow::cli::run(args, connector(), out, err, stop); });
    }
    // Waits until the watch has printed `count` lines.
    bool printed(std::size_t count) {
        return ferrowtest::eventually([&] { return lines(out.text()).size() >= count; }, 30s);
    }
    // Waits until the device has the tag's subscription, so that its next change is pushed.
    bool subscribed(const std::string& tag) {
        return ferrowtest::eventually(
            [&] {
                for (const std::string& entry : sim->log().entries())
                    if (entry.find("chgdp/") != std::string::npos && entry.ends_with("/" + tag)) return true;
                return false;
            },
            30s);
    }
    int finish() {
        if (watching.wait_for(20s) != std::future_status::ready) {
            ADD_FAILURE() << "the watch did not end";
            stop.raise();
        }
        return watching.get();
    }
    void TearDown() override {
        if (watching.valid()) {
            stop.raise();
            watching.get();
        }
        CliTest::TearDown();
    }

    SharedStream out, err;
    std::future<int> watching;
};

TEST_F(WatchTest, PrintsTheCurrentValueThenEachChangeUntilTheCount) {
    start({"watch", "Dev.Level", "Dev.Pressure", "--rate", "20", "--count", "3"});
    ASSERT_TRUE(printed(2)) << out.text() << err.text();
    ASSERT_TRUE(subscribed("Level"));
    setDeviceValue("Level", "00001041");  // 9.0f
    EXPECT_EQ(finish(), 0);
    const auto shown = lines(out.text());
    ASSERT_EQ(shown.size(), 3u) << out.text();
    EXPECT_THAT(shown[0], MatchesRegex(std::string(kTime) + " Dev.Level 1 good \\(0xC0\\)"));
    EXPECT_THAT(shown[1], MatchesRegex(std::string(kTime) + " Dev.Pressure 4660 good \\(0xC0\\)"));
    EXPECT_THAT(shown[2], MatchesRegex(std::string(kTime) + " Dev.Level 9 good \\(0xC0\\)"));
    EXPECT_EQ(err.text(), "");
}

TEST_F(WatchTest, CtrlCEndsTheWatchAndReleasesEverything) {
    start({"watch", "Dev.Setpoint", "--rate", "20"});
    ASSERT_TRUE(printed(1)) << err.text();
    EXPECT_EQ(dev->m_nUseCount.load(), 1);  // the watch's subscription
    // The first value is printed as the item takes over its tag, which may be before the registration
    // has gone to the device; only a registration made is removed.
    ASSERT_TRUE(subscribed("Setpoint"));
    stop.raise();
    EXPECT_EQ(finish(), 0);
    // The fixture's end checks that no OPC object and no task memory is left.
    EXPECT_TRUE(ferrowtest::eventually([&] { return dev->m_nUseCount.load() == 0; }));
    EXPECT_TRUE(sim->log().waitFor("< rem/", std::chrono::seconds(30)));
}

TEST_F(WatchTest, JsonGivesOneObjectPerLine) {
    start({"watch", "Dev.Mode", "Dev.Alarm", "--json", "--count", "2"});
    EXPECT_EQ(finish(), 0);
    const auto shown = lines(out.text());
    ASSERT_EQ(shown.size(), 2u);
    const QJsonObject mode = parseJson(shown[0]).object();
    EXPECT_EQ(mode["item"].toString(), "Dev.Mode");
    EXPECT_EQ(mode["value"].toInt(), 1);
    EXPECT_EQ(mode["type"].toString(), "VT_UI1");
    EXPECT_EQ(mode["quality"].toString(), "good");
    EXPECT_EQ(parseJson(shown[1]).object()["value"].toBool(true), false);
}

TEST_F(WatchTest, DurationEndsAQuietWatch) {
    start({"watch", "Dev.Status", "--rate", "50", "--duration", "0.3"});
    EXPECT_EQ(finish(), 0);
    // The value never changes: at most its first report (a busy machine may not get to it in time).
    EXPECT_LE(lines(out.text()).size(), 1u);
    EXPECT_EQ(err.text(), "");
}

TEST_F(WatchTest, UnknownItemsAreReportedAndTheOthersWatched) {
    start({"watch", "Dev.Nothing", "Dev.Counter", "--count", "1"});
    EXPECT_EQ(finish(), 1);
    EXPECT_EQ(err.text(), "ferrow-opc: Dev.Nothing: This ItemID is not known. (0xC0040007)\n");
    EXPECT_THAT(out.text(), HasSubstr(" Dev.Counter 1000 good (0xC0)\n"));

    const Outcome none = run({"watch", "Dev.Nothing"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
}

// Takes `room` characters, then fails like a pipe whose reader has gone.
class ClosingStream : public std::ostream {
  public:
    explicit ClosingStream(std::size_t room) : std::ostream(&buffer_), buffer_(room) {}

  private:
    struct Buffer : std::streambuf {
        explicit Buffer(std::size_t room) : room(room) {}
        int_type overflow(int_type c) override {
            if (room == 0) return traits_type::eof();
            --room;
            return traits_type::not_eof(c);
        }
        std::size_t room;
    };
    Buffer buffer_;
};

TEST_F(WatchTest, AClosedOutputEndsTheWatchAndReleasesEverything) {
    ClosingStream closed(10);
    std::ostringstream errors;
    auto watch = std::async(std::launch::async, [&] {
        return ferrow::cli::run({"watch", "Dev.Level", "--rate", "20"}, connector(), closed, errors, stop);
    });
    if (watch.wait_for(20s) != std::future_status::ready) {
        ADD_FAILURE() << "the watch went on writing to a closed output";
        stop.raise();
    }
    EXPECT_EQ(watch.get(), 0);
    EXPECT_TRUE(ferrowtest::eventually([&] { return dev->m_nUseCount.load() == 0; }));
}

TEST_F(WatchTest, ServerShutdownEndsTheWatchWithStatusThree) {
    start({"watch", "Dev.Speed"});
    ASSERT_TRUE(printed(1)) << err.text();
    ferrow::opc::NotifyServersShutdown(u"Exiting Server");
    EXPECT_EQ(finish(), 3);
    EXPECT_EQ(err.text(), "ferrow-opc: Ferrow is shutting down: Exiting Server\n");
}

}  // namespace
}  // namespace clitest
