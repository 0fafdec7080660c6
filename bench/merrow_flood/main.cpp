// Merrow under a debug flood from the simulated device: how fast the window shows and stores the
// stream, beside a bare socket reader in the same run, and the longest stall of its event loop.
// Usage: merrow_flood_bench [megabytes]   (default 128)
#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "devsim/debug_flood.h"
#include "devsim/debug_service.h"
#include "devsim/simulated_device.h"
#include "merrow/frm_main.h"
#include "platform/ui/scripted_dialogs.h"
#include "platform/ui/wait.h"

namespace {

using namespace std::chrono_literals;

// The longest gap between two ticks of a 5 ms timer: how long the event loop was busy at a stretch.
class StallProbe {
  public:
    StallProbe() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
    }
    void start() {
        clock_.start();
        last_ = 0;
        longest_ = 0;
        timer_.start(5);
    }
    double stop() {
        timer_.stop();
        return static_cast<double>(longest_) / 1e6;
    }

  private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};

QByteArray patternDigest(qint64 bytes) {
    devsim::FloodPattern pattern;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    while (pattern.position() < bytes)
        hash.addData(pattern.take(std::min<qint64>(1 << 20, bytes - pattern.position())));
    return hash.result();
}

QByteArray fileDigest(const QString& path, qint64 bytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 left = bytes;
    while (left > 0) {
        const QByteArray part = file.read(std::min<qint64>(1 << 20, left));
        if (part.isEmpty()) break;
        hash.addData(part);
        left -= part.size();
    }
    return hash.result();
}

struct Run {
    double seconds = 0;
    double stallMs = 0;
    bool complete = false;
};

// Baseline: a bare QTcpSocket that reads and counts, on the same event loop.
Run bareReader(devsim::SimulatedDevice& device, qint64 bytes) {
    QTcpSocket socket;
    socket.connectToHost(device.options().address, devsim::DebugService::kPort);
    if (!socket.waitForConnected(5000)) return {};
    qint64 received = 0;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll().size(); });
    platform::ui::waitUntil([&] { return received > 0; }, 5s);  // the "connected" line
    received = 0;
    StallProbe probe;
    probe.start();
    QElapsedTimer clock;
    clock.start();
    device.run([&] { device.debug().startFlood(bytes); });
    Run run;
    run.complete = platform::ui::waitUntil([&] { return received >= bytes; }, 120s);
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.stallMs = probe.stop();
    socket.abort();
    return run;
}

Run merrowWindow(devsim::SimulatedDevice& device, qint64 bytes, const QString& storePath,
                 merrow::frmMain& window) {
    platform::ui::ScriptedDialogs dialogs;
    window.cbIPs->setEditText(device.options().address);
    window.cbConnect_Click();
    if (!platform::ui::waitUntil([&] { return window.paneText().contains(" connected\r\n"); }, 5s)) return {};
    platform::ui::waitFor(200ms);
    dialogs.answerNextFile(storePath);
    window.cbSave_Click();
    QFile stored(storePath);
    StallProbe probe;
    probe.start();
    QElapsedTimer clock;
    clock.start();
    device.run([&] { device.debug().startFlood(bytes); });
    Run run;
    run.complete = platform::ui::waitUntil([&] { return stored.size() >= bytes; }, 120s);
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.stallMs = probe.stop();
    return run;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir temp;
    qputenv("QUILLON_PROGRAM_DIR", temp.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (temp.path() + "/config").toLocal8Bit());
    QApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 128;
    const qint64 bytes = std::max<qint64>(1, megabytes) * 1024 * 1024;

    devsim::DeviceOptions options;
    options.address = QStringLiteral("127.0.86.1");
    options.root = temp.path() + "/device";
    devsim::SimulatedDevice device(options);
    QString error;
    if (!device.start(&error)) {
        std::fprintf(stderr, "device: %s\n", qPrintable(error));
        return 1;
    }
    device.run([&] { device.debug().setHeartbeatInterval(0ms); });

    // The bare reader runs before and after the window; the faster run is the baseline, so a busy
    // machine does not flatter the window.
    const Run bareBefore = bareReader(device, bytes);
    platform::ui::waitFor(300ms);

    merrow::frmMain window;
    window.show();
    const QString storePath = temp.path() + "/flood.log";
    const Run shown = merrowWindow(device, bytes, storePath, window);
    window.syncPane();
    window.close();
    platform::ui::waitFor(300ms);
    const Run bareAfter = bareReader(device, bytes);
    const Run& bare = bareBefore.complete && (!bareAfter.complete || bareBefore.seconds < bareAfter.seconds)
                          ? bareBefore
                          : bareAfter;

    const bool identical =
        QFile(storePath).size() == bytes && fileDigest(storePath, bytes) == patternDigest(bytes);
    QByteArray paneShown = window.paneText();
    paneShown.replace('\r', QByteArray());
    const bool paneRight = window.tbMsgs->toPlainText() == QString::fromLatin1(paneShown) &&
                           window.paneText().size() <= merrow::PaneText::kLimit;
    const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::printf("debug flood of %.0f MB from devsim over loopback\n", mb);
    std::printf("  bare QTcpSocket reader : %8.1f MB/s  longest stall %6.1f ms%s\n", mb / bare.seconds,
                bare.stallMs, bare.complete ? "" : "  (INCOMPLETE)");
    std::printf("  Merrow shown + stored  : %8.1f MB/s  longest stall %6.1f ms%s\n", mb / shown.seconds,
                shown.stallMs, shown.complete ? "" : "  (INCOMPLETE)");
    std::printf("  ratio Merrow/bare      : %8.2f\n", bare.seconds / shown.seconds);
    std::printf("  stored file byte-identical to what was sent: %s\n", identical ? "yes" : "NO");
    std::printf("  pane within 30000 characters and widget equal to it: %s\n", paneRight ? "yes" : "NO");
    device.stop();
    return bare.complete && shown.complete && identical && paneRight ? 0 : 2;
}
