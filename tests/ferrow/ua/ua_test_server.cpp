// The OPC UA endpoint over an in-memory data source, for tests with real UA clients. Prints
// "listening <port>" once it serves, then takes commands on standard input, one a line:
//   set <item ID> <value> [<DA quality, hex>]   a tag's new sample (number, or text for strings)
//   reachable 0|1                               whether device reads and writes reach the devices
//   refuse <item ID>                            writes to the tag are refused by its device
//   remove <device>                             the device leaves the configuration
//   quit
// Each command is answered with "ok" or "error <why>" once it has been applied.
// Options: --port N; --pki DIR (both secure policies and None, the trust store and the server's
// certificate in DIR); --user NAME=PASSWORD (repeatable; kept in a user file in a temporary folder);
// --anonymous-write 0|1 (default 1).
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "ferrow/ua/endpoint_security.h"
#include "ferrow/ua/memory_data_source.h"
#include "ferrow/ua/ua_endpoint.h"
#include "ferrow/ua/user_store.h"

using namespace ferrow::ua;

namespace {

// Device1: input Counter (Int32), outputs Setpoint (Double) and Flag (Boolean), a group Line with an
// output Speed (Float) and an input Level (Int16); Device2: input Text (String), output Mode (UInt32).
std::vector<FolderInfo> testDevices() {
    FolderInfo line{"Line",
                    "Device1.Line",
                    {},
                    {TagInfo{"Speed", "Device1.Line.Speed", TagType::Float, true},
                     TagInfo{"Level", "Device1.Line.Level", TagType::Int16, false}}};
    FolderInfo device1{"Device1",
                       "Device1",
                       {line},
                       {TagInfo{"Counter", "Device1.Counter", TagType::Int32, false},
                        TagInfo{"Setpoint", "Device1.Setpoint", TagType::Double, true},
                        TagInfo{"Flag", "Device1.Flag", TagType::Boolean, true}}};
    FolderInfo device2{"Device2",
                       "Device2",
                       {},
                       {TagInfo{"Text", "Device2.Text", TagType::String, false},
                        TagInfo{"Mode", "Device2.Mode", TagType::UInt32, true}}};
    return {device1, device2};
}

const TagInfo* findTag(const std::vector<FolderInfo>& folders, const std::string& itemId) {
    for (const FolderInfo& folder : folders) {
        for (const TagInfo& tag : folder.tags)
            if (tag.itemId == itemId) return &tag;
        if (const TagInfo* tag = findTag(folder.folders, itemId)) return tag;
    }
    return nullptr;
}

std::optional<TagValue> parseValue(TagType type, const std::string& text) {
    try {
        switch (type) {
            case TagType::Boolean:
                return TagValue(text == "1" || text == "true");
            case TagType::SByte:
                return TagValue(static_cast<std::int8_t>(std::stoi(text)));
            case TagType::Byte:
                return TagValue(static_cast<std::uint8_t>(std::stoul(text)));
            case TagType::Int16:
                return TagValue(static_cast<std::int16_t>(std::stoi(text)));
            case TagType::UInt16:
                return TagValue(static_cast<std::uint16_t>(std::stoul(text)));
            case TagType::Int32:
                return TagValue(static_cast<std::int32_t>(std::stol(text)));
            case TagType::UInt32:
                return TagValue(static_cast<std::uint32_t>(std::stoul(text)));
            case TagType::Int64:
                return TagValue(static_cast<std::int64_t>(std::stoll(text)));
            case TagType::UInt64:
                return TagValue(static_cast<std::uint64_t>(std::stoull(text)));
            case TagType::Float:
                return TagValue(std::stof(text));
            case TagType::Double:
                return TagValue(std::stod(text));
            case TagType::String:
                return TagValue(text);
            case TagType::DateTime:
                return TagValue(DateTime{std::stoll(text)});
        }
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

std::string apply(MemoryDataSource& source, const std::string& line, QCoreApplication& app) {
    std::istringstream in(line);
    std::string command, argument, value, quality;
    in >> command >> argument >> value >> quality;
    if (command == "quit") {
        app.quit();
        return "ok";
    }
    if (command == "reachable") {
        source.setDevicesReachable(argument == "1");
        return "ok";
    }
    if (command == "refuse") {
        source.setWriteOutcome(argument, WriteOutcome::DeviceRefused);
        return "ok";
    }
    if (command == "remove") {
        auto devices = source.devices();
        std::erase_if(devices, [&argument](const FolderInfo& d) { return d.name == argument; });
        source.setDevices(devices);
        return "ok";
    }
    if (command == "set") {
        const auto devices = source.devices();
        const TagInfo* tag = findTag(devices, argument);
        if (!tag) return "error no tag " + argument;
        const auto parsed = parseValue(tag->type, value);
        if (!parsed) return "error not a value of the tag's type: " + value;
        const auto q = static_cast<std::uint16_t>(quality.empty() ? 0xC0 : std::stoul(quality, nullptr, 16));
        source.setSample(argument, TagSample{*parsed, q, DateTime::now()});
        return "ok";
    }
    return "error unknown command " + command;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    quint16 port = 0;
    QString pki;
    std::vector<std::pair<std::string, std::string>> users;
    bool anonymousWrite = true;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--port") port = static_cast<quint16>(std::stoi(value));
        if (option == "--pki") pki = QString::fromStdString(value);
        if (option == "--anonymous-write") anonymousWrite = value != "0";
        if (const auto equals = value.find('='); option == "--user" && equals != std::string::npos)
            users.emplace_back(value.substr(0, equals), value.substr(equals + 1));
    }

    MemoryDataSource source;
    source.setDevices(testDevices());
    source.setSample("Device1.Counter", TagSample{std::int32_t{41}, 0xC0, DateTime::now()});
    source.setSample("Device1.Setpoint", TagSample{20.5, 0xC0, DateTime::now()});
    source.setSample("Device1.Flag", TagSample{false, 0xC0, DateTime::now()});
    source.setSample("Device1.Line.Speed", TagSample{1.5f, 0xC0, DateTime::now()});
    source.setSample("Device1.Line.Level", TagSample{std::int16_t{7}, 0xC0, DateTime::now()});
    source.setSample("Device2.Text", TagSample{std::string("hello"), 0xC0, DateTime::now()});
    source.setSample("Device2.Mode", TagSample{std::uint32_t{1}, 0xC0, DateTime::now()});

    UaEndpoint::Settings settings;
    settings.addresses = {QHostAddress(QHostAddress::LocalHost)};
    settings.port = port;
    settings.info.softwareVersion = "test";
    if (!pki.isEmpty()) {
        QString error;
        settings.security = makeChannelSecurity(
            {{QStringLiteral("Basic256Sha256"), QStringLiteral("Aes128_Sha256_RsaOaep")}, true, pki}, &error,
            nullptr);
        if (!settings.security) {
            std::fprintf(stderr, "ua_test_server: %s\n", qPrintable(error));
            return 1;
        }
    }
    QTemporaryDir userFolder;
    auto userStore = std::make_shared<UserStore>(userFolder.filePath(QStringLiteral("users")));
    for (const auto& [name, password] : users) userStore->add(name, password);
    if (!users.empty())
        settings.users.checkPassword = [userStore](const std::string& name, const std::string& password) {
            return userStore->verify(name, password);
        };
    settings.users.anonymousWrite = anonymousWrite;
    UaEndpoint endpoint(source, settings);
    const QString error = endpoint.start();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "ua_test_server: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("listening %u\n", endpoint.port());
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    std::string pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {  // the test went away
            input.setEnabled(false);
            app.quit();
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            std::printf("%s\n", apply(source, line, app).c_str());
            std::fflush(stdout);
        }
    });
    const int code = app.exec();
    endpoint.stop();
    return code;
}
