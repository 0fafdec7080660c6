#include "ferrow/cli/arguments.h"

#include <gtest/gtest.h>

namespace {

using ferrow::cli::Command;
using ferrow::cli::parseArguments;

TEST(CliArguments, OptionsGoAnywhereInBothSpellings) {
    const auto parsed = parseArguments({"watch", "Dev.A", "--rate=250", "Dev.B", "--deadband", "2.5",
                                        "--count", "3", "--duration", "0.25", "--json"});
    ASSERT_EQ(parsed.error, "");
    const auto& a = parsed.arguments;
    EXPECT_EQ(a.command, Command::Watch);
    EXPECT_EQ(a.operands, (std::vector<std::string>{"Dev.A", "Dev.B"}));
    EXPECT_EQ(a.rateMs, 250u);
    EXPECT_EQ(a.deadbandPercent, 2.5f);
    EXPECT_EQ(a.count, 3u);
    EXPECT_EQ(a.durationMs, 250u);
    EXPECT_TRUE(a.json);

    const auto global = parseArguments({"--json", "browse", "Dev", "--flat", "--filter", "L*"});
    ASSERT_EQ(global.error, "");
    EXPECT_EQ(global.arguments.command, Command::Browse);
    EXPECT_TRUE(global.arguments.json && global.arguments.flat);
    EXPECT_EQ(global.arguments.filter, "L*");
    EXPECT_EQ(global.arguments.operands, std::vector<std::string>{"Dev"});
}

TEST(CliArguments, DoubleDashEndsTheOptions) {
    const auto parsed = parseArguments({"write", "--", "Dev.Total=-5", "--json=x"});
    // After "--" nothing is an option, so "--json=x" is a pair whose item is "--json".
    ASSERT_EQ(parsed.error, "");
    EXPECT_FALSE(parsed.arguments.json);
    EXPECT_EQ(parsed.arguments.operands, (std::vector<std::string>{"Dev.Total=-5", "--json=x"}));
}

TEST(CliArguments, HelpWinsAndNamesItsCommand) {
    EXPECT_EQ(parseArguments({"help", "read"}).arguments.command, Command::Read);
    EXPECT_TRUE(parseArguments({"help", "read"}).arguments.help);
    // Missing operands do not matter when help is asked for.
    const auto parsed = parseArguments({"properties", "-h"});
    EXPECT_EQ(parsed.error, "");
    EXPECT_TRUE(parsed.arguments.help);
    EXPECT_TRUE(parseArguments({"--help"}).arguments.help);
}

TEST(CliArguments, WrongCommandLinesSayWhatIsWrong) {
    const auto error = [](std::vector<std::string> args) { return parseArguments(args).error; };
    EXPECT_EQ(error({}), "no command given");
    EXPECT_EQ(error({"reed", "X.Y"}), "unknown command 'reed'");
    EXPECT_EQ(error({"read"}), "read needs at least one item ID");
    EXPECT_EQ(error({"status", "extra"}), "status takes no operands, not 'extra'");
    EXPECT_EQ(error({"browse", "A", "B"}), "browse takes at most one path, not also 'B'");
    EXPECT_EQ(error({"properties", "A.B", "A.C"}), "properties needs exactly one item ID");
    EXPECT_EQ(error({"write", "Dev.Total"}), "write needs ITEM=VALUE, not 'Dev.Total'");
    EXPECT_EQ(error({"write", "=5"}), "write needs ITEM=VALUE, not '=5'");
    EXPECT_EQ(error({"read", "X.Y", "--flat"}), "--flat is not an option of read");
    EXPECT_EQ(error({"--device", "X.Y"}), "unknown command 'X.Y'");
    EXPECT_EQ(error({"--device"}), "--device belongs to the read command");
    EXPECT_EQ(error({"read", "X.Y", "--verbose"}), "unknown option '--verbose'");
    EXPECT_EQ(error({"read", "X.Y", "-x"}), "unknown option '-x'");
    EXPECT_EQ(error({"read", "X.Y", "--device=yes"}), "--device takes no value");
    EXPECT_EQ(error({"watch", "X.Y", "--rate"}), "--rate needs a value");
}

TEST(CliArguments, NumbersOutsideTheirRangeAreRefused) {
    const auto error = [](std::vector<std::string> args) { return parseArguments(args).error; };
    EXPECT_EQ(error({"watch", "X.Y", "--rate", "-1"}),
              "--rate needs a whole number of milliseconds, not '-1'");
    EXPECT_EQ(error({"watch", "X.Y", "--rate", "4294967296"}),
              "--rate needs a whole number of milliseconds, not '4294967296'");
    EXPECT_EQ(error({"watch", "X.Y", "--rate", "10ms"}),
              "--rate needs a whole number of milliseconds, not '10ms'");
    EXPECT_EQ(error({"watch", "X.Y", "--deadband", "101"}),
              "--deadband needs a percentage from 0 to 100, not '101'");
    EXPECT_EQ(error({"watch", "X.Y", "--deadband", "nan"}),
              "--deadband needs a percentage from 0 to 100, not 'nan'");
    EXPECT_EQ(error({"watch", "X.Y", "--duration", "0"}),
              "--duration needs a number of seconds above 0 (at most a year), not '0'");
    EXPECT_EQ(error({"watch", "X.Y", "--duration", "1e300"}),
              "--duration needs a number of seconds above 0 (at most a year), not '1e300'");
    EXPECT_EQ(parseArguments({"watch", "X.Y", "--rate", "4294967295"}).arguments.rateMs, 4294967295u);
    // Both ends of the percentage are valid deadbands.
    for (const auto& [text, percent] : {std::pair{"100", 100.0f}, std::pair{"0", 0.0f}}) {
        const auto parsed = parseArguments({"watch", "X.Y", "--deadband", text});
        EXPECT_EQ(parsed.error, "") << text;
        EXPECT_EQ(parsed.arguments.deadbandPercent, percent) << text;
    }
    EXPECT_EQ(parseArguments({"watch", "X.Y", "--duration", "0.0001"}).arguments.durationMs, 1u);
}

}  // namespace
