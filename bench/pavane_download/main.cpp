// Pavane's download of a 32 MB image to the simulated device, against a minimal stop-and-wait sender of
// the same protocol in the same run, in alternating rounds (median and spread); then the peak memory of
// downloads of 8 MB and 32 MB, each in a process of its own.
//
// Usage: pavane_download_bench [rounds, 7]
#include <sys/resource.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/common/run_figures.h"
#include "bench/pavane_download/stop_and_wait_sender.h"
#include "devsim/simulated_device.h"
#include "pavane/frm_download_ce.h"
#include "platform/ui/scripted_dialogs.h"

namespace {

using benchfigures::cpuNs;
using benchfigures::loadAverage;
using benchfigures::Spread;
using benchfigures::spread;

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
    return window.statusText() == QLatin1String(pavane::frmDownloadCE::kCompleteText) &&
           dialogs.boxes().empty();
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
    if (argc == 3 && qstrcmp(argv[1], "--memory") == 0)
        return measureMemory(QByteArray(argv[2]).toLongLong());

    const int rounds = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 7;
    QTemporaryDir dir;
    const qint64 size = 32 * kMegabyte;
    const QString image = writeImage(dir.path(), size);
    QDir().mkpath(dir.path() + QStringLiteral("/device"));
    const QString deviceAddress = QStringLiteral("127.0.76.1");
    auto device = startDevice(deviceAddress, dir.path() + QStringLiteral("/device"));
    if (!device) return 1;
    const double packets = double((size + 1469) / 1470);

    // Wall and processor time (this thread, and the rest of the process: the device) of one download.
    struct Cost {
        double mbps, clientUs, deviceUs;
    };
    const auto timed = [&](const std::function<bool()>& download) -> std::optional<Cost> {
        const qint64 thread = cpuNs(RUSAGE_THREAD), process = cpuNs(RUSAGE_SELF);
        QElapsedTimer timer;
        timer.start();
        if (!download()) return std::nullopt;
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        const qint64 threadNs = cpuNs(RUSAGE_THREAD) - thread;
        const qint64 otherNs = cpuNs(RUSAGE_SELF) - process - threadNs;
        return Cost{double(size) / kMegabyte / seconds, threadNs / 1e3 / packets, otherNs / 1e3 / packets};
    };
    const auto baselineRun = [&] {
        return sendStopAndWait(image, deviceAddress, QStringLiteral("127.0.76.2"));
    };
    const auto pavaneRun = [&] {
        return downloadWithPavane(image, deviceAddress, QStringLiteral("127.0.76.3"));
    };
    // Warm-up of both, outside the figures.
    if (!baselineRun() || !pavaneRun()) {
        std::fprintf(stderr, "warm-up download failed\n");
        return 1;
    }

    // The two take turns and which goes first alternates, so a change of load falls on both alike.
    const std::string loadBefore = loadAverage();
    std::printf("32 MB image (%.0f packets) to the simulated device on loopback, %d rounds:\n", packets,
                rounds);
    std::vector<Cost> base, pav;
    std::vector<double> ratios;
    for (int round = 1; round <= rounds; ++round) {
        std::optional<Cost> b, p;
        if (round % 2) {
            b = timed(baselineRun);
            p = timed(pavaneRun);
        } else {
            p = timed(pavaneRun);
            b = timed(baselineRun);
        }
        if (!b || !p) {
            std::fprintf(stderr, "%s failed\n", b ? "pavane download" : "baseline sender");
            return 1;
        }
        base.push_back(*b);
        pav.push_back(*p);
        ratios.push_back(100.0 * p->mbps / b->mbps);
        std::printf(
            "  round %d  baseline %6.2f MB/s (%4.1f us/packet)   pavane %6.2f MB/s (%4.1f us/packet)   %5.1f "
            "%%\n",
            round, b->mbps, 1e6 / (b->mbps * kMegabyte / size * packets), p->mbps,
            1e6 / (p->mbps * kMegabyte / size * packets), ratios.back());
    }
    const auto column = [](const std::vector<Cost>& v, double Cost::*field) {
        std::vector<double> out;
        for (const Cost& c : v) out.push_back(c.*field);
        return out;
    };
    std::printf(
        "median (min-max) over %d rounds; processor time per packet on the sender's thread and the "
        "device's\n",
        rounds);
    for (const auto& [name, v] :
         {std::pair{"baseline stop-and-wait sender", &base}, std::pair{"pavane window", &pav}}) {
        const Spread s = spread(column(*v, &Cost::mbps));
        std::printf(
            "  %-30s %6.2f MB/s (%.2f-%.2f)   processor per packet: sender %4.1f us, device %4.1f us\n", name,
            s.median, s.low, s.high, spread(column(*v, &Cost::clientUs)).median,
            spread(column(*v, &Cost::deviceUs)).median);
    }
    const Spread r = spread(ratios);
    std::printf("  ratio: %.1f %% (%.1f-%.1f %%) of the baseline (target 90 %%)\n", r.median, r.low, r.high);
    std::printf("load average before %s, after %s (%d cores)\n", loadBefore.c_str(), loadAverage().c_str(),
                QThread::idealThreadCount());

    for (const qint64 megabytes : {8, 32}) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--memory"), QString::number(megabytes)});
        child.waitForFinished(300000);
        std::printf("  peak resident memory, %2lld MB image: %s kB\n", static_cast<long long>(megabytes),
                    child.readAllStandardOutput().trimmed().constData());
    }
    return 0;
}
