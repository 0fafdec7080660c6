// Ferrow's OPC UA endpoint over an in-memory data source of Double tags that each change once a period on
// a timer of their own, for bench/ferrow_ua/driver.js. Prints "listening <port>" once it serves; ends on
// "quit" or when standard input closes.
//   ua_bench_server [--port N] [--tags 10000] [--period-ms 100] [--spread 10]
// Tags are "Bench.T00000" ... in the device namespace; every change sets a tag to its change's number,
// stamped with the time it was made, so a client can tell a lost change from a late one. The tags change
// in `spread` slices evenly apart within the period (tag i in slice i % spread), as a device's datapoints
// change at times of their own; with 1 they all change at the same instant.
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <string>

#include "ferrow/ua/endpoint_security.h"
#include "ferrow/ua/memory_data_source.h"
#include "ferrow/ua/ua_endpoint.h"
#include "platform/process/allocator_arenas.h"

using namespace ferrow::ua;

namespace {

struct Options {
    quint16 port = 0;
    int tags = 10000;
    int periodMs = 100;
    int spread = 10;
    QString pki;  // with one: both secure policies beside None, the trust store there
};

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) return std::nullopt;
        const std::string value = argv[++i];
        try {
            if (name == "--port") {
                options.port = static_cast<quint16>(std::stoul(value));
            } else if (name == "--tags") {
                options.tags = std::stoi(value);
            } else if (name == "--period-ms") {
                options.periodMs = std::stoi(value);
            } else if (name == "--spread") {
                options.spread = std::stoi(value);
            } else if (name == "--pki") {
                options.pki = QString::fromStdString(value);
            } else {
                return std::nullopt;
            }
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    if (options.tags < 1 || options.tags > 1000000 || options.periodMs < 1) return std::nullopt;
    if (options.spread < 1 || options.periodMs % options.spread != 0) return std::nullopt;
    return options;
}

std::string tagName(int index) {
    char name[16];
    std::snprintf(name, sizeof name, "T%05d", index);
    return name;
}

FolderInfo benchDevice(int tags) {
    FolderInfo device{"Bench", "Bench", {}, {}};
    device.tags.reserve(static_cast<std::size_t>(tags));
    for (int i = 0; i < tags; ++i)
        device.tags.push_back(TagInfo{tagName(i), "Bench." + tagName(i), TagType::Double, false});
    return device;
}

}  // namespace

int main(int argc, char** argv) {
    platform::process::limitAllocatorArenas();  // as Ferrow itself does
    QCoreApplication app(argc, argv);
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        std::fprintf(
            stderr,
            "usage: ua_bench_server [--port N] [--tags 1..1000000] [--period-ms N] [--spread N dividing the "
            "period] [--pki DIR]\n");
        return 2;
    }

    MemoryDataSource source;
    const FolderInfo device = benchDevice(options->tags);
    source.setDevices({device});
    const std::size_t slices = static_cast<std::size_t>(options->spread);
    std::size_t tick = 0;  // slice tick % slices makes its change number tick / slices
    auto changeSlice = [&] {
        const DateTime now = DateTime::now();
        const auto change = static_cast<double>(tick / slices);
        for (std::size_t i = tick % slices; i < device.tags.size(); i += slices)
            source.setSample(device.tags[i].itemId, TagSample{change, 0xC0, now});
        ++tick;
    };
    while (tick < slices) changeSlice();

    UaEndpoint::Settings settings;
    settings.addresses = {QHostAddress(QHostAddress::LocalHost)};
    settings.port = options->port;
    settings.info.softwareVersion = "bench";
    if (!options->pki.isEmpty()) {
        QString error;
        settings.security = makeChannelSecurity(
            {{QStringLiteral("Basic256Sha256"), QStringLiteral("Aes128_Sha256_RsaOaep")}, true, options->pki},
            &error, nullptr);
        if (!settings.security) {
            std::fprintf(stderr, "ua_bench_server: %s\n", qPrintable(error));
            return 1;
        }
    }
    UaEndpoint endpoint(source, settings);
    if (const QString error = endpoint.start(); !error.isEmpty()) {
        std::fprintf(stderr, "ua_bench_server: %s\n", qPrintable(error));
        return 1;
    }

    // The changes run on this thread, the endpoint on its own: as the data-access core and the endpoint
    // do in the application.
    QTimer changes;
    changes.setTimerType(Qt::PreciseTimer);
    QObject::connect(&changes, &QTimer::timeout, changeSlice);
    changes.start(options->periodMs / options->spread);

    std::printf("listening %u\n", endpoint.port());
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    std::string pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {  // the driver went away
            input.setEnabled(false);
            app.quit();
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        if (pending.find("quit") != std::string::npos) app.quit();
        if (pending.size() > 1024) pending.clear();
    });
    const int code = app.exec();
    endpoint.stop();
    return code;
}
