// Throughput of Vantor's copy windows against a raw-socket client of the same stop-and-wait protocol,
// both talking to the simulated device in this process, and the peak memory after 8 MB and 32 MB.
//
// Usage: bench_vantor_files [MB per round, 32] [rounds, 5] [--only=raw-up|vantor-up|raw-down|vantor-down]
// --only runs one client alone (for a profiler or strace), and prints its rate per round.
#include <sys/resource.h>

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench/common/run_figures.h"
#include "devsim/simulated_device.h"
#include "platform/ui/scripted_dialogs.h"
#include "platform/ui/wait.h"
#include "raw_client.h"
#include "tests/vantor/files/test_shell_host.h"
#include "vantor/files/f_download.h"
#include "vantor/files/f_upload.h"
#include "vantor/files/fce_browse.h"

namespace {

using benchfigures::cpuNs;
using benchfigures::loadAverage;
using benchfigures::Spread;
using benchfigures::spread;

// Wall and processor time of one timed section: the client's own thread (this one) and the rest of
// the process (the device's thread).
struct Cost {
    qint64 wall = 0, clientCpu = 0, otherCpu = 0;
    Cost& operator+=(const Cost& o) {
        wall += o.wall;
        clientCpu += o.clientCpu;
        otherCpu += o.otherCpu;
        return *this;
    }
};

class Stopwatch {
  public:
    Stopwatch() : thread_(cpuNs(RUSAGE_THREAD)), process_(cpuNs(RUSAGE_SELF)) { wall_.start(); }
    Cost stop() const {
        const qint64 wall = wall_.nsecsElapsed();
        const qint64 thread = cpuNs(RUSAGE_THREAD) - thread_;
        return {wall, thread, cpuNs(RUSAGE_SELF) - process_ - thread};
    }

  private:
    QElapsedTimer wall_;
    qint64 thread_, process_;
};

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Writes `size` pseudo-random bytes in pieces, so making the file costs no memory either.
void makeFile(const QString& path, qint64 size, quint32 seed) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    QByteArray piece(1 << 16, Qt::Uninitialized);
    quint32 x = seed | 1u;
    for (qint64 done = 0; done < size; done += piece.size()) {
        for (char& c : piece) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = static_cast<char>(x);
        }
        f.write(piece.constData(), std::min<qint64>(piece.size(), size - done));
    }
}

QByteArray digest(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result();
}

double mbPerSecond(qint64 bytes, qint64 ns) { return ns > 0 ? bytes / 1048576.0 / (ns / 1e9) : 0; }

// Waits until the device's log has `fragment`. The device's thread wakes this one when it writes the
// line: a wait that only looked at its timer would add its whole limit to a figure.
bool waitForDeviceLog(devsim::SimulatedDevice& device, const std::string& fragment) {
    std::atomic<bool> seen{false};
    QObject waker;
    const int id = device.log().addListener([&](const std::string& line) {
        if (line.find(fragment) == std::string::npos) return;
        seen = true;
        QMetaObject::invokeMethod(
            &waker, [] {}, Qt::QueuedConnection);
    });
    const bool ok = platform::ui::waitUntil([&] { return seen.load() || device.log().contains(fragment); },
                                            std::chrono::seconds(30));
    device.log().removeListener(id);
    if (!ok) std::fprintf(stderr, "device never logged \"%s\"\n", fragment.c_str());
    return ok;
}

enum Client { RawUp, VantorUp, RawDown, VantorDown, kClients };
const std::array<const char*, kClients> kNames{"raw-up", "vantor-up", "raw-down", "vantor-down"};

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir work;
    devsim::DeviceOptions options;
    options.address = QStringLiteral("127.0.0.91");
    options.root = work.filePath(QStringLiteral("device"));
    devsim::SimulatedDevice device(options);
    QString error;
    if (!device.start(&error)) {
        std::fprintf(stderr, "device: %s\n", qPrintable(error));
        return 1;
    }
    platform::ui::ScriptedDialogs dialogs;
    testsupport::TestShellHost host;
    if (!host.connectTo(options.address)) return 1;
    // An idle shell connection could be taken for a data connection by the device: say something first.
    host.sckShell().SendData("ver\r\n");
    host.waitForMessage("shell");
    vantor::files::FCEBrowse browser(host);
    vantor::files::FUpload upload(host, browser);
    vantor::files::FDownload download(host, browser);
    upload.begin();
    download.begin();
    const std::string address = options.address.toStdString();
    const QString devTemp = options.root + QStringLiteral("/Temp");
    const QString source = work.filePath(QStringLiteral("source.bin"));
    QByteArray want;
    bool allGood = true;
    auto check = [&](const QString& path, const char* what) {
        if (digest(path) == want) return;
        std::fprintf(stderr, "%s: copy differs!\n", what);
        allGood = false;
    };

    // Each client copies `source` once and returns the nanoseconds it took. An upload is timed until the
    // client has the device's line for the last block; the device then commits the file on its own time,
    // the same for both clients, outside the figure. A download is timed until the file is in place:
    // both clients write a temporary file beside the destination, flush it to the disk and rename it
    // over the destination, so the comparison is about the protocol path, not about the file's safety.
    const std::array<std::function<Cost()>, kClients> clients{
        [&] {
            std::string why;
            const Stopwatch t;
            if (!rawclient::upload(address, source, "\\Temp\\raw.bin", &why))
                std::fprintf(stderr, "raw upload: %s\n", why.c_str());
            const Cost ns = t.stop();
            waitForDeviceLog(device, "copy: \\Temp\\raw.bin complete");
            check(devTemp + QStringLiteral("/raw.bin"), "raw upload");
            QFile::remove(devTemp + QStringLiteral("/raw.bin"));
            return ns;
        },
        [&] {
            upload.txtSource->setText(source);
            upload.txtDest->setText(QStringLiteral("\\Temp\\vantor.bin"));
            const Stopwatch t;
            upload.cmdCopy->click();
            const Cost ns = t.stop();
            waitForDeviceLog(device, "copy: \\Temp\\vantor.bin complete");
            check(devTemp + QStringLiteral("/vantor.bin"), "Vantor upload");
            QFile::remove(devTemp + QStringLiteral("/vantor.bin"));
            return ns;
        },
        [&] {
            const QString dest = work.filePath(QStringLiteral("raw-down.bin"));
            std::string why;
            const Stopwatch t;
            if (!rawclient::download(address, "\\Temp\\src.bin", dest, &why))
                std::fprintf(stderr, "raw download: %s\n", why.c_str());
            const Cost ns = t.stop();
            check(dest, "raw download");
            QFile::remove(dest);
            return ns;
        },
        [&] {
            const QString dest = work.filePath(QStringLiteral("vantor-down.bin"));
            download.txtSource->setText(QStringLiteral("\\Temp\\src.bin"));
            download.txtDest->setText(dest);
            const Stopwatch t;
            download.cmdCopy->click();
            const Cost ns = t.stop();
            check(dest, "Vantor download");
            QFile::remove(dest);
            return ns;
        },
    };

    // A new source for each turn, also placed on the device for the downloads (outside the figures).
    quint32 seed = 2463534242u;
    auto prepare = [&](qint64 size) {
        makeFile(source, size, seed += 0x9E3779B9u);
        want = digest(source);
        QFile::remove(devTemp + QStringLiteral("/src.bin"));
        QFile::copy(source, devTemp + QStringLiteral("/src.bin"));
        device.log().clear();
    };

    int only = -1;
    std::vector<const char*> numbers;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--only=", 0) == 0) {
            const auto it = std::find(kNames.begin(), kNames.end(), arg.substr(7));
            if (it == kNames.end()) {
                std::fprintf(stderr, "--only takes one of raw-up, vantor-up, raw-down, vantor-down\n");
                return 2;
            }
            only = static_cast<int>(it - kNames.begin());
        } else {
            numbers.push_back(argv[i]);
        }
    }
    const qint64 megabytes = numbers.size() > 0 ? std::max(1, std::atoi(numbers[0])) : 32;
    const int rounds = numbers.size() > 1 ? std::max(1, std::atoi(numbers[1])) : 5;

    // Warm-up: one turn of every client.
    prepare(std::min<qint64>(8, megabytes) << 20);
    for (int c = 0; c < kClients; ++c)
        if (only < 0 || only == c) clients[c]();
    const long rss8 = peakRssKb();

    // Turns of 1 MB: short enough that the load of a shared machine changes little within a pair of turns.
    const qint64 turn = std::min<qint64>(1, megabytes) << 20;
    const qint64 total = (megabytes << 20) / turn * turn;
    const double blocks = double(total) / 1024;
    const auto perKiB = [&](qint64 ns) { return ns / 1e3 / blocks; };
    const std::string loadBefore = loadAverage();
    std::printf(
        "%lld MB each way over loopback, 1 KiB blocks one in flight, %d rounds; in 1 MB turns the raw "
        "client\n"
        "and Vantor take turns, and which goes first alternates, so a change of load falls on both alike\n",
        static_cast<long long>(total >> 20), rounds);
    std::array<std::vector<double>, kClients> rates, clientCpu, deviceCpu;
    std::array<std::vector<double>, 2> ratios, pairRatios;
    for (int round = 1; round <= rounds; ++round) {
        std::array<Cost, kClients> cost{};
        int index = 0;
        for (qint64 done = 0; done < total; done += turn, ++index) {
            prepare(turn);
            for (const int first : {RawUp, RawDown}) {
                // raw, Vantor on even turns; Vantor, raw on odd ones
                std::array<qint64, 2> wall{};
                for (const int c : index % 2 ? std::array{first + 1, first} : std::array{first, first + 1}) {
                    if (only >= 0 && only != c) continue;
                    const Cost one = clients[c]();
                    cost[c] += one;
                    wall[c - first] = one.wall;
                }
                // The two turns of a pair saw nearly the same load: their ratio is the fairest figure.
                if (only < 0) pairRatios[first / 2].push_back(100.0 * double(wall[0]) / double(wall[1]));
            }
        }
        for (int c = 0; c < kClients; ++c) {
            if (only >= 0 && only != c) continue;
            rates[c].push_back(mbPerSecond(total, cost[c].wall));
            clientCpu[c].push_back(perKiB(cost[c].clientCpu));
            deviceCpu[c].push_back(perKiB(cost[c].otherCpu));
        }
        if (only >= 0) {
            std::printf(
                "  round %d  %-11s %7.2f MB/s  per KiB: %5.1f us, processor %4.1f us here, %4.1f us device\n",
                round, kNames[only], rates[only].back(), perKiB(cost[only].wall), clientCpu[only].back(),
                deviceCpu[only].back());
            continue;
        }
        for (const int first : {RawUp, RawDown}) {
            const double ratio = 100.0 * rates[first + 1].back() / rates[first].back();
            ratios[first / 2].push_back(ratio);
            std::printf(
                "  round %d  %-8s  raw %7.2f MB/s (%5.1f us/KiB)   Vantor %7.2f MB/s (%5.1f us/KiB)   %5.1f "
                "%%\n",
                round, first == RawUp ? "upload" : "download", rates[first].back(), perKiB(cost[first].wall),
                rates[first + 1].back(), perKiB(cost[first + 1].wall), ratio);
        }
    }
    const std::string loadAfter = loadAverage();
    std::printf(
        "median (min-max) over %d rounds; processor time per KiB on the client's thread and the device's\n",
        rounds);
    for (int c = 0; c < kClients; ++c) {
        if (rates[c].empty()) continue;
        const Spread s = spread(rates[c]);
        std::printf("  %-11s %7.2f MB/s (%.2f-%.2f)   processor per KiB: client %4.1f us, device %4.1f us\n",
                    kNames[c], s.median, s.low, s.high, spread(clientCpu[c]).median,
                    spread(deviceCpu[c]).median);
    }
    if (only < 0) {
        for (const int first : {RawUp, RawDown}) {
            const Spread s = spread(ratios[first / 2]);
            const Spread p = spread(pairRatios[first / 2]);
            std::printf(
                "  %-8s Vantor / raw  %5.1f %% (%.1f-%.1f %%) by round, %5.1f %% (%.1f-%.1f %%) by pair of "
                "turns"
                "   target 90 %%\n",
                first == RawUp ? "upload" : "download", s.median, s.low, s.high, p.median, p.low, p.high);
        }
    }
    std::printf("load average before %s, after %s (%d cores)\n", loadBefore.c_str(), loadAfter.c_str(),
                QThread::idealThreadCount());
    const long rssEnd = peakRssKb();
    std::printf(
        "peak RSS of the process (device included): after 8 MB %ld KiB, after the rounds %ld KiB (growth %ld "
        "KiB)\n",
        rss8, rssEnd, rssEnd - rss8);
    if (!dialogs.boxes().empty())
        std::printf("messages shown: %s\n", qPrintable(dialogs.boxTexts().join(QLatin1Char('|'))));
    return allGood ? 0 : 1;
}
