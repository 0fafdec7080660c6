// Throughput of Vantor's copy windows against a raw-socket client of the same stop-and-wait protocol,
// both talking to the simulated device in this process, and the peak memory after 8 MB and 32 MB.
#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

#include "devsim/simulated_device.h"
#include "platform/ui/scripted_dialogs.h"
#include "platform/ui/wait.h"
#include "raw_client.h"
#include "tests/vantor/files/test_shell_host.h"
#include "vantor/files/f_download.h"
#include "vantor/files/f_upload.h"
#include "vantor/files/fce_browse.h"

namespace {

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Writes `size` pseudo-random bytes in pieces, so making the file costs no memory either.
void makeFile(const QString& path, qint64 size) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    QByteArray piece(1 << 16, Qt::Uninitialized);
    quint32 x = 2463534242u;
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
    f.open(QIODevice::ReadOnly);
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
        QMetaObject::invokeMethod(&waker, [] {}, Qt::QueuedConnection);
    });
    const bool ok = platform::ui::waitUntil([&] { return seen.load() || device.log().contains(fragment); },
                                            std::chrono::seconds(30));
    device.log().removeListener(id);
    if (!ok) std::fprintf(stderr, "device never logged \"%s\"\n", fragment.c_str());
    return ok;
}

// Nanoseconds each client took.
struct Figures {
    qint64 rawUp = 0, vantorUp = 0, rawDown = 0, vantorDown = 0;
    Figures& operator+=(const Figures& o) {
        rawUp += o.rawUp;
        vantorUp += o.vantorUp;
        rawDown += o.rawDown;
        vantorDown += o.vantorDown;
        return *this;
    }
};

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
    const QString devRoot = options.root;

    auto run = [&](qint64 size) {
        const QString source = work.filePath(QStringLiteral("source.bin"));
        makeFile(source, size);
        const QByteArray want = digest(source);
        Figures f{};
        QElapsedTimer t;
        std::string why;
        auto check = [&](const QString& path, const char* what) {
            if (digest(path) != want) std::fprintf(stderr, "%s: copy differs!\n", what);
        };

        // An upload is timed until the client has the device's line for the last block; the device
        // then commits the file on its own time, the same for both clients, outside the figure.
        t.start();
        if (!rawclient::upload(address, source, "\\Temp\\raw.bin", &why)) std::fprintf(stderr, "raw upload: %s\n", why.c_str());
        f.rawUp = t.nsecsElapsed();
        waitForDeviceLog(device, "copy: \\Temp\\raw.bin complete");
        check(devRoot + QStringLiteral("/Temp/raw.bin"), "raw upload");

        upload.txtSource->setText(source);
        upload.txtDest->setText(QStringLiteral("\\Temp\\vantor.bin"));
        t.restart();
        upload.cmdCopy->click();
        f.vantorUp = t.nsecsElapsed();
        waitForDeviceLog(device, "copy: \\Temp\\vantor.bin complete");
        check(devRoot + QStringLiteral("/Temp/vantor.bin"), "Vantor upload");

        const QString rawDest = work.filePath(QStringLiteral("raw-down.bin"));
        t.restart();
        if (!rawclient::download(address, "\\Temp\\raw.bin", rawDest, &why)) std::fprintf(stderr, "raw download: %s\n", why.c_str());
        f.rawDown = t.nsecsElapsed();
        check(rawDest, "raw download");

        const QString dest = work.filePath(QStringLiteral("vantor-down.bin"));
        QFile::remove(dest);
        download.txtSource->setText(QStringLiteral("\\Temp\\vantor.bin"));
        download.txtDest->setText(dest);
        t.restart();
        download.cmdCopy->click();
        f.vantorDown = t.nsecsElapsed();
        check(dest, "Vantor download");
        device.log().clear();
        QFile::remove(devRoot + QStringLiteral("/Temp/raw.bin"));
        QFile::remove(devRoot + QStringLiteral("/Temp/vantor.bin"));
        return f;
    };

    // Optional: the size in MB and the number of rounds (for profiling a single short run).
    const qint64 megabytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 32;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    run(std::min<qint64>(8, megabytes) << 20);  // warm-up
    const long rss8 = peakRssKb();
    std::printf("%lld MB over loopback, stop-and-wait (MB/s), %d rounds; the clients take 4 MB turns\n",
                static_cast<long long>(megabytes), rounds);
    // Each round copies the size in 4 MB turns, raw and Vantor one after the other, so a change in the
    // machine's load (other builds share it) falls on both clients alike.
    const qint64 turn = std::min<qint64>(4, megabytes) << 20;
    const qint64 total = (megabytes << 20) / turn * turn;
    for (int round = 1; round <= rounds; ++round) {
        Figures f;
        for (qint64 done = 0; done < total; done += turn) f += run(turn);
        const double rawUp = mbPerSecond(total, f.rawUp), vantorUp = mbPerSecond(total, f.vantorUp);
        const double rawDown = mbPerSecond(total, f.rawDown), vantorDown = mbPerSecond(total, f.vantorDown);
        std::printf("  round %d  upload    raw client %7.2f   Vantor FUpload   %7.2f   ratio %5.1f %%\n", round, rawUp,
                    vantorUp, 100.0 * vantorUp / rawUp);
        std::printf("  round %d  download  raw client %7.2f   Vantor FDownload %7.2f   ratio %5.1f %%\n", round,
                    rawDown, vantorDown, 100.0 * vantorDown / rawDown);
    }
    const long rssEnd = peakRssKb();
    std::printf("peak RSS of the process (device included): after 8 MB %ld KiB, after the rounds %ld KiB (growth %ld KiB)\n",
                rss8, rssEnd, rssEnd - rss8);
    if (!dialogs.boxes().empty()) std::printf("messages shown: %s\n", qPrintable(dialogs.boxTexts().join(QLatin1Char('|'))));
    return 0;
}
