// quillon-devsim: one simulated Quillon 2000 board on a loopback address, until interrupted.
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>

#include "devsim/simulated_device.h"

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}
}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillon-devsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated Quillon 2000 device"));
    parser.addHelpOption();
    QCommandLineOption addressOption(QStringList{"a", "address"}, "Loopback address to listen on.", "address",
                                     "127.0.0.1");
    QCommandLineOption rootOption(QStringList{"r", "root"}, "Folder that holds the device's files.",
                                  "folder");
    QCommandLineOption quietOption(QStringList{"q", "quiet"}, "Do not print what the device receives.");
    QCommandLineOption datapointsOption(QStringList{"d", "datapoints"},
                                        "Datapoint table, one \"name/type/access[/hex]\" per line.", "file");
    parser.addOptions({addressOption, rootOption, quietOption, datapointsOption});
    parser.process(app);

    QTemporaryDir freshRoot(QDir::tempPath() + QStringLiteral("/quillon-devsim-XXXXXX"));
    devsim::DeviceOptions options;
    options.address = parser.value(addressOption);
    options.root = parser.isSet(rootOption) ? parser.value(rootOption) : freshRoot.path();
    options.datapointTable = parser.value(datapointsOption);

    devsim::SimulatedDevice device(options);
    if (!parser.isSet(quietOption)) {
        device.log().addListener([](const std::string& line) {
            std::fprintf(stdout, "%s\n", line.c_str());
            std::fflush(stdout);
        });
    }
    QString error;
    if (!device.start(&error)) {
        std::fprintf(stderr, "quillon-devsim: %s\n", qPrintable(error));
        return 1;
    }
    std::fprintf(stdout, "quillon-devsim: device on %s, files in %s (Ctrl+C ends it)\n",
                 qPrintable(options.address), qPrintable(device.files().root()));
    std::fflush(stdout);

    if (::pipe(signalPipe) == 0) {
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    const int result = app.exec();
    device.stop();
    return result;
}
