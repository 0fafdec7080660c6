#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ferrow::cli {

enum class Command { None, Status, Browse, Read, Write, Properties, Watch };

// What the command line asks for. Options belong to one command each, except --json and --help.
struct Arguments {
    Command command = Command::None;
    bool help = false;
    bool json = false;
    // Item IDs (read, watch, properties), the path (browse), ITEM=VALUE pairs (write).
    std::vector<std::string> operands;
    // browse
    bool flat = false;
    std::string filter;
    // read
    bool device = false;
    // watch
    std::uint32_t rateMs = 1000;
    float deadbandPercent = 0.0f;
    std::optional<std::uint64_t> count;
    std::optional<std::uint64_t> durationMs;
};

// The arguments, or what is wrong with them (a usage error, exit status 2).
struct ParsedArguments {
    Arguments arguments;
    std::string error;
};

// argv without the program name. Options may come before or after the operands, as "--rate 250" or
// "--rate=250"; "--" ends the options.
ParsedArguments parseArguments(const std::vector<std::string>& args);

const char* commandName(Command command);
// The help of one command, or of the program for Command::None.
std::string helpText(Command command);

}  // namespace ferrow::cli
