#include "ferrow/cli/arguments.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>

#include "platform/com/variant_text.h"

namespace ferrow::cli {

namespace {

struct CommandInfo {
    Command command;
    const char* name;
};
constexpr CommandInfo kCommands[] = {
    {Command::Status, "status"}, {Command::Browse, "browse"},         {Command::Read, "read"},
    {Command::Write, "write"},   {Command::Properties, "properties"}, {Command::Watch, "watch"}};

enum class Option { Help, Json, Flat, Filter, Device, Rate, Deadband, Count, Duration };

struct OptionInfo {
    Option option;
    const char* name;
    bool takesValue;
    Command only;  // Command::None: every command
};
constexpr OptionInfo kOptions[] = {
    {Option::Help, "help", false, Command::None},         {Option::Json, "json", false, Command::None},
    {Option::Flat, "flat", false, Command::Browse},       {Option::Filter, "filter", true, Command::Browse},
    {Option::Device, "device", false, Command::Read},     {Option::Rate, "rate", true, Command::Watch},
    {Option::Deadband, "deadband", true, Command::Watch}, {Option::Count, "count", true, Command::Watch},
    {Option::Duration, "duration", true, Command::Watch}};

// The longest watch a script can ask for: a year.
constexpr double kMaxDurationSeconds = 365.0 * 24 * 3600;

std::optional<std::uint64_t> parseUnsigned(std::string_view text, std::uint64_t max) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > max)
        return std::nullopt;
    return value;
}

std::optional<double> parseNumber(std::string_view text) {
    const auto value = platform::com::parseReal(text);
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return value;
}

std::string quoted(std::string_view text) {
    std::string out(1, '\'');
    out.append(text);
    out += '\'';
    return out;
}

struct PendingOption {
    const OptionInfo* info;
    std::string value;
    std::string spelling;  // as typed, for messages
};

std::string applyOption(const PendingOption& option, Arguments& args) {
    const std::string& value = option.value;
    switch (option.info->option) {
        case Option::Help:
            args.help = true;
            break;
        case Option::Json:
            args.json = true;
            break;
        case Option::Flat:
            args.flat = true;
            break;
        case Option::Filter:
            args.filter = value;
            break;
        case Option::Device:
            args.device = true;
            break;
        case Option::Rate: {
            const auto rate = parseUnsigned(value, 0xFFFFFFFFu);
            if (!rate) return "--rate needs a whole number of milliseconds, not " + quoted(value);
            args.rateMs = static_cast<std::uint32_t>(*rate);
            break;
        }
        case Option::Deadband: {
            const auto percent = parseNumber(value);
            if (!percent || *percent < 0.0 || *percent > 100.0)
                return "--deadband needs a percentage from 0 to 100, not " + quoted(value);
            args.deadbandPercent = static_cast<float>(*percent);
            break;
        }
        case Option::Count: {
            const auto count = parseUnsigned(value, UINT64_MAX);
            if (!count || *count == 0)
                return "--count needs a whole number of values above 0, not " + quoted(value);
            args.count = *count;
            break;
        }
        case Option::Duration: {
            const auto seconds = parseNumber(value);
            if (!seconds || *seconds <= 0.0 || *seconds > kMaxDurationSeconds)
                return "--duration needs a number of seconds above 0 (at most a year), not " + quoted(value);
            args.durationMs = static_cast<std::uint64_t>(std::ceil(*seconds * 1000.0));
            break;
        }
    }
    return {};
}

std::string checkOperands(const Arguments& args) {
    const std::size_t n = args.operands.size();
    switch (args.command) {
        case Command::Status:
            if (n != 0) return "status takes no operands, not " + quoted(args.operands[0]);
            break;
        case Command::Browse:
            if (n > 1) return "browse takes at most one path, not also " + quoted(args.operands[1]);
            break;
        case Command::Read:
        case Command::Watch:
            if (n == 0) return std::string(commandName(args.command)) + " needs at least one item ID";
            break;
        case Command::Properties:
            if (n != 1) return "properties needs exactly one item ID";
            break;
        case Command::Write:
            if (n == 0) return "write needs at least one ITEM=VALUE";
            for (const std::string& pair : args.operands)
                if (pair.find('=') == std::string::npos || pair.front() == '=')
                    return "write needs ITEM=VALUE, not " + quoted(pair);
            break;
        case Command::None:
            break;
    }
    return {};
}

}  // namespace

const char* commandName(Command command) {
    for (const CommandInfo& info : kCommands)
        if (info.command == command) return info.name;
    return "";
}

ParsedArguments parseArguments(const std::vector<std::string>& args) {
    ParsedArguments parsed;
    Arguments& out = parsed.arguments;
    std::vector<PendingOption> options;
    bool optionsEnded = false;
    bool helpCommand = false;  // "help read" reads as "read --help"
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool looksLikeOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
        if (looksLikeOption && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (looksLikeOption) {
            if (arg == "-h") {
                out.help = true;
                continue;
            }
            const std::string_view body =
                arg.starts_with("--") ? std::string_view(arg).substr(2) : std::string_view();
            const std::size_t equals = body.find('=');
            const std::string_view name = body.substr(0, equals);
            const OptionInfo* info = nullptr;
            for (const OptionInfo& candidate : kOptions)
                if (!name.empty() && name == candidate.name) info = &candidate;
            if (!info) {
                parsed.error = "unknown option " + quoted(arg);
                return parsed;
            }
            PendingOption option{info, {}, "--" + std::string(name)};
            if (info->takesValue) {
                if (equals != std::string_view::npos) {
                    option.value = std::string(body.substr(equals + 1));
                } else if (i + 1 < args.size()) {
                    option.value = args[++i];
                } else {
                    parsed.error = option.spelling + " needs a value";
                    return parsed;
                }
            } else if (equals != std::string_view::npos) {
                parsed.error = option.spelling + " takes no value";
                return parsed;
            }
            options.push_back(std::move(option));
            continue;
        }
        if (out.command == Command::None) {
            if (arg == "help" && !helpCommand) {
                helpCommand = true;
                out.help = true;
                continue;
            }
            for (const CommandInfo& info : kCommands)
                if (arg == info.name) out.command = info.command;
            if (out.command == Command::None) {
                parsed.error = "unknown command " + quoted(arg);
                return parsed;
            }
            continue;
        }
        out.operands.push_back(arg);
    }
    for (const PendingOption& option : options) {
        const Command only = option.info->only;
        if (only != Command::None && only != out.command) {
            parsed.error = out.command == Command::None
                               ? option.spelling + " belongs to the " + commandName(only) + " command"
                               : option.spelling + " is not an option of " + commandName(out.command);
            return parsed;
        }
        if (std::string error = applyOption(option, out); !error.empty()) {
            parsed.error = std::move(error);
            return parsed;
        }
    }
    if (out.help) return parsed;
    if (out.command == Command::None) {
        parsed.error = "no command given";
        return parsed;
    }
    parsed.error = checkOperands(out);
    return parsed;
}

std::string helpText(Command command) {
    switch (command) {
        case Command::None:
            return "Usage: ferrow-opc COMMAND [OPTIONS] [ARGUMENTS]\n"
                   "An OPC Data Access client for Ferrow: the server is started on the session bus when it\n"
                   "is not running yet.\n"
                   "\n"
                   "Commands:\n"
                   "  status                     the server's state, times, version and vendor\n"
                   "  browse [PATH]              the devices and tags below PATH (all by default)\n"
                   "  read ITEM...               the items' values, qualities and times\n"
                   "  write ITEM=VALUE...        writes values, typed by each item's own data type\n"
                   "  properties ITEM            the six properties of an item\n"
                   "  watch ITEM...              prints every change of the items until Ctrl+C\n"
                   "\n"
                   "Options of every command:\n"
                   "  --json                     output for scripts (JSON; one object per line for watch)\n"
                   "  --help                     help of the command (also: ferrow-opc help COMMAND)\n"
                   "\n"
                   "An item ID is the device's name, a full stop and the tag's name: Device1.Level.\n"
                   "Exit status: 0 done; 1 the server reported an error (its text is printed);\n"
                   "2 the command line is wrong; 3 Ferrow is not running and could not be started.\n";
        case Command::Status:
            return "Usage: ferrow-opc status [--json]\n"
                   "Prints the server's state, its start time, the current time and the time of the last\n"
                   "data update (local time), the number of groups of this connection, the server's\n"
                   "version and its vendor.\n";
        case Command::Browse:
            return "Usage: ferrow-opc browse [PATH] [--flat] [--filter PATTERN] [--json]\n"
                   "Lists the address space below PATH (a device, or a device and its groups joined by\n"
                   "full stops; names are case-sensitive) as a tree: branches end with a full stop, tags\n"
                   "are indented below them.\n"
                   "  --flat             one full item ID per line instead of the tree\n"
                   "  --filter PATTERN   only tags whose name matches, ignoring case: * any run, ? any\n"
                   "                     character, # a digit, [a-z] a range, [!x] anything but x\n"
                   "                     (with --flat the pattern applies to the full item ID)\n";
        case Command::Read:
            return "Usage: ferrow-opc read ITEM... [--device] [--json]\n"
                   "Prints one line per item: time (local), item ID, value, quality.\n"
                   "  --device   read from the device now instead of the server's cache (the cache holds\n"
                   "             what the device last reported)\n";
        case Command::Write:
            return "Usage: ferrow-opc write ITEM=VALUE... [--json]\n"
                   "Writes each value to its item's device. A value is read as the item's own data type:\n"
                   "a number (7.25, -3), true or false, or text. Nothing is written when an item is\n"
                   "unknown or a value does not fit its item's type.\n";
        case Command::Properties:
            return "Usage: ferrow-opc properties ITEM [--json]\n"
                   "Prints the item's properties: data type, value, quality, timestamp (UTC), access\n"
                   "rights and description.\n";
        case Command::Watch:
            return "Usage: ferrow-opc watch ITEM... [--rate MS] [--deadband PCT] [--count N]\n"
                   "                        [--duration S] [--json]\n"
                   "Subscribes to the items and prints one line per changed item: time (local, with\n"
                   "milliseconds), item ID, value, quality; the first lines give the current values.\n"
                   "Runs until Ctrl+C, then releases everything it made on the server.\n"
                   "  --rate MS        update rate in milliseconds (default 1000; the server's least is 10)\n"
                   "  --deadband PCT   change of an analog value, in percent of its range, that is reported\n"
                   "  --count N        stop after N lines\n"
                   "  --duration S     stop after S seconds\n"
                   "With --json every change is one JSON object on a line of its own.\n";
    }
    return {};
}

}  // namespace ferrow::cli
