// The receive path of Vantor's main window: a peer streams 20 MB of 100-byte NUL-terminated messages;
// reports MB/s through frmMain (routing, console, log) and the longest event-loop stall, beside a bare
// QTcpSocket reader of the same stream in the same run. The stall is the longest gap between ticks of a
// 5 ms timer; the longest single event (wall and this thread's CPU time) tells the program's own work
// apart from time the machine spent elsewhere.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "bench/vantor_wait/bench_peer.h"
#include "platform/files/program_dir.h"
#include "platform/ui/wait.h"
#include "vantor/shell/frm_main.h"

using namespace std::chrono_literals;

namespace {
constexpr qsizetype kTotal = 20 * 1000 * 1000;
constexpr qsizetype kMessage = 100;

QByteArray stream() {
    QByteArray bytes;
    bytes.reserve(kTotal);
    for (qsizetype i = 0; bytes.size() < kTotal; ++i) {
        QByteArray message = "message " + QByteArray::number(i).rightJustified(8, '0') + " ";
        message = message.leftJustified(kMessage - 3, '.') + "\r\n";
        bytes += message + '\0';
    }
    return bytes;
}

// Times every event the program handles: wall time, and this thread's CPU time (which excludes the
// time the machine gave to other processes).
class TimingApplication : public QApplication {
  public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_++ > 0) {
            const bool r = QApplication::notify(receiver, event);
            --depth_;
            return r;
        }
        timespec cpu0{}, cpu1{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
        QElapsedTimer wall;
        wall.start();
        const bool r = QApplication::notify(receiver, event);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
        longestWallNs = std::max(longestWallNs, wall.nsecsElapsed());
        longestCpuNs = std::max(longestCpuNs,
                                (cpu1.tv_sec - cpu0.tv_sec) * 1000000000LL + (cpu1.tv_nsec - cpu0.tv_nsec));
        --depth_;
        return r;
    }
    void reset() { longestWallNs = longestCpuNs = 0; }
    qint64 longestWallNs = 0;
    qint64 longestCpuNs = 0;

  private:
    int depth_ = 0;
};

TimingApplication* timing = nullptr;

// Measures the longest gap between ticks of a 5 ms timer, i.e. how long the event loop was blocked.
class StallMeter {
  public:
    StallMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            if (last_ >= 0) longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
        clock_.start();
        timer_.start(5);
    }
    double longestMs() const { return static_cast<double>(longest_) / 1e6; }

  private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = -1;
    qint64 longest_ = 0;
};

struct Result {
    double seconds = 0;
    double stallMs = 0;
    qint64 bytes = 0;
    double eventWallMs = 0;
    double eventCpuMs = 0;
};

void takeEventTimes(Result& r) {
    r.eventWallMs = static_cast<double>(timing->longestWallNs) / 1e6;
    r.eventCpuMs = static_cast<double>(timing->longestCpuNs) / 1e6;
}

Result bareReader(const QString& address) {
    QTcpSocket socket;
    Result r;
    bool closed = false;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { r.bytes += socket.readAll().size(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, [&] { closed = true; });
    StallMeter stalls;
    QElapsedTimer clock;
    clock.start();
    timing->reset();
    socket.connectToHost(address, 4212);
    platform::ui::waitUntil([&] { return closed; }, 120s);
    r.seconds = clock.nsecsElapsed() / 1e9;
    r.stallMs = stalls.longestMs();
    takeEventTimes(r);
    return r;
}

Result mainWindow(const QString& address) {
    vantor::frmMain window;
    window.show();
    window.lbIPs->addItem(address);
    window.lbIPs->setCurrentRow(window.lbIPs->count() - 1);
    platform::ui::waitFor(500ms);  // the first paint of the window is not part of the receive path
    Result r;
    StallMeter stalls;
    QElapsedTimer clock;
    clock.start();
    timing->reset();
    window.lbIPs_DblClick();
    platform::ui::waitUntil([&] { return window.statusText() == QLatin1String("Connection was closed"); },
                            300s);
    r.seconds = clock.nsecsElapsed() / 1e9;
    r.stallMs = stalls.longestMs();
    takeEventTimes(r);
    window.close();
    QFile log(platform::programFile("qnLog.txt"));
    log.open(QIODevice::ReadOnly);
    const QByteArray logged = log.readAll();
    // A message is logged as its 99 bytes and CR LF (a message split over two chunks as two records).
    const qsizetype records = logged.size() - (logged.indexOf("\r\n") + 2);
    r.bytes = std::min<qsizetype>(kTotal, records / 101 * kMessage);
    return r;
}

void print(const char* what, const Result& r) {
    std::printf(
        "%-34s %6.1f MB/s  %5.2f s  longest stall %6.1f ms; longest event %6.1f ms (cpu %5.1f ms)  (%lld "
        "bytes)\n",
        what, static_cast<double>(r.bytes) / 1e6 / r.seconds, r.seconds, r.stallMs, r.eventWallMs,
        r.eventCpuMs, static_cast<long long>(r.bytes));
}
}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    vantorbench::usePrivateFolders();
    TimingApplication app(argc, argv);
    timing = &app;
    QApplication::setApplicationName(QStringLiteral("Vantor"));
    const QByteArray payload = stream();
    const QString address = vantorbench::benchAddress(0);
    vantorbench::BenchPeer peer(address, payload);
    if (!peer.listening()) {
        std::fprintf(stderr, "cannot listen on %s:4212\n", qPrintable(address));
        return 1;
    }
    std::printf("Receive path: %lld bytes of %lld-byte NUL-terminated messages over loopback\n",
                static_cast<long long>(payload.size()), static_cast<long long>(kMessage));
    const Result bare = bareReader(address);
    print("baseline: bare QTcpSocket reader", bare);
    const Result window = mainWindow(address);
    print("frmMain (route, console, log)", window);
    std::printf("frmMain / baseline: %.2f of the bare reader's rate; target >= 20 MB/s, stall <= 100 ms\n",
                (static_cast<double>(window.bytes) / window.seconds) /
                    (static_cast<double>(bare.bytes) / bare.seconds));
    return window.bytes == payload.size() ? 0 : 2;
}
