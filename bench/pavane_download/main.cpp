// Pavane's download of a 32 MB image to the simulated device, against a minimal stop-and-wait sender of
// the same protocol in the same run; then the peak memory of downloads of 8 MB and 32 MB, each in a
// process of its own.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

#include "bench/pavane_download/stop_and_wait_sender.h"
#include "devsim/simulated_device.h"
#include "pavane/frm_download_ce.h"
#include "platform/ui/scripted_dialogs.h"

namespace {

constexpr qint64 kMegabyte = 1024 * 1024;

QString writeImage(const QString& folder, qint64 size) {
    const QString path = folder + QStringLiteral("/nk.bin");
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QByteArray chunk(kMegabyte, '\0');
    for (qint64 i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(1 + i % 251);
    for (qint64 written = 0; written < size; written += chunk.size()) file.write(chunk.left(size - written));
    return path;
}

// One download through Pavane's window, as a user runs it; true when it completed.
bool downloadWithPavane(const QString& image, const QString& device, const QString& local) {
    platform::ui::ScriptedDialogs dialogs;
    pavane::frmDownloadCE window;
    window.setLocalAddress(QHostAddress(local));
    window.show();
    window.findChild<QComboBox*>(QStringLiteral("txtIP"))->setEditText(device);
    dialogs.answerNextFile(image);
    window.findChild<QPushButton*>(QStringLiteral("CmdFileSel"))->click();
    window.findChild<QPushButton*>(QStringLiteral("CmdDownload"))->click();
    return window.statusText() == QLatin1String(pavane::frmDownloadCE::kCompleteText) && dialogs.boxes().empty();
}

long peakRssKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

std::unique_ptr<devsim::SimulatedDevice> startDevice(const QString& address, const QString& root) {
    devsim::DeviceOptions options;
    options.address = address;
    options.root = root;
    auto device = std::make_unique<devsim::SimulatedDevice>(options);
    QString error;
    if (!device->start(&error)) {
        std::fprintf(stderr, "device: %s\n", qPrintable(error));
        return nullptr;
    }
    return device;
}

// Child: one Pavane download of `megabytes`, then its peak resident memory.
int measureMemory(qint64 megabytes) {
    QTemporaryDir dir;
    const QString image = writeImage(dir.path(), megabytes * kMegabyte);
    QDir().mkpath(dir.path() + QStringLiteral("/device"));
    auto device = startDevice(QStringLiteral("127.0.77.1"), dir.path() + QStringLiteral("/device"));
    if (!device) return 1;
    const bool ok = downloadWithPavane(image, QStringLiteral("127.0.77.1"), QStringLiteral("127.0.77.2"));
    std::printf("%ld\n", ok ? peakRssKb() : -1L);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir programDir;
    qputenv("QUILLON_PROGRAM_DIR", programDir.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", programDir.path().toLocal8Bit());
    QApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--memory") == 0) return measureMemory(QByteArray(argv[2]).toLongLong());

    QTemporaryDir dir;
    const qint64 size = 32 * kMegabyte;
    const QString image = writeImage(dir.path(), size);
    QDir().mkpath(dir.path() + QStringLiteral("/device"));
    const QString deviceAddress = QStringLiteral("127.0.76.1");
    auto device = startDevice(deviceAddress, dir.path() + QStringLiteral("/device"));
    if (!device) return 1;

    // Alternate the two, best of five each, so that neither gets a warmer machine.
    double baseline = 0, pavane = 0;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer timer;
        timer.start();
        if (!sendStopAndWait(image, deviceAddress, QStringLiteral("127.0.76.2"))) {
            std::fprintf(stderr, "baseline sender failed\n");
            return 1;
        }
        baseline = std::max(baseline, double(size) / kMegabyte / (double(timer.nsecsElapsed()) / 1e9));
        timer.restart();
        if (!downloadWithPavane(image, deviceAddress, QStringLiteral("127.0.76.3"))) {
            std::fprintf(stderr, "pavane download failed\n");
            return 1;
        }
        pavane = std::max(pavane, double(size) / kMegabyte / (double(timer.nsecsElapsed()) / 1e9));
    }
    const double packets = double((size + 1469) / 1470);
    std::printf("32 MB image (%.0f packets) to the simulated device on loopback, best of 5:\n", packets);
    std::printf("  baseline stop-and-wait sender: %7.2f MB/s  (%6.0f packets/s)\n", baseline,
                baseline * kMegabyte / size * packets);
    std::printf("  pavane window:                 %7.2f MB/s  (%6.0f packets/s)\n", pavane,
                pavane * kMegabyte / size * packets);
    std::printf("  ratio: %.0f %% of the baseline (target 90 %%)\n", 100.0 * pavane / baseline);

    for (const qint64 megabytes : {8, 32}) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--memory"), QString::number(megabytes)});
        child.waitForFinished(300000);
        std::printf("  peak resident memory, %2lld MB image: %s kB\n", static_cast<long long>(megabytes),
                    child.readAllStandardOutput().trimmed().constData());
    }
    return 0;
}
