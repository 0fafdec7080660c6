// What Vantor's waits cost while nothing arrives: WaitSeconds(2) and a get exchange waiting on a silent
// device (its 10 s limit scaled to 2 s), beside a plain thread sleep of the same length in the same run.
#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "bench/vantor_wait/bench_peer.h"
#include "platform/ui/scripted_dialogs.h"
#include "platform/ui/time_scale.h"
#include "platform/ui/wait.h"
#include "vantor/common/m_globals.h"
#include "vantor/shell/frm_main.h"

using namespace std::chrono_literals;

namespace {
void measure(const char* what, const std::function<void()>& wait) {
    const double cpuBefore = vantorbench::cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    wait();
    const double wall = clock.nsecsElapsed() / 1e9;
    const double cpu = vantorbench::cpuSeconds() - cpuBefore;
    std::printf("%-44s wall %5.2f s  cpu %6.3f s  = %5.2f %% of one core\n", what, wall, cpu,
                100.0 * cpu / wall);
}
}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    vantorbench::usePrivateFolders();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantor"));

    measure("baseline: std::this_thread::sleep_for(2 s)", [] { std::this_thread::sleep_for(2s); });
    measure("WaitSeconds(2), nothing arriving", [] { vantor::MGlobals::WaitSeconds(2); });

    const QString address = vantorbench::benchAddress(1);
    vantorbench::BenchPeer silent(address, {});
    if (!silent.listening()) {
        std::fprintf(stderr, "cannot listen on %s:4212\n", qPrintable(address));
        return 1;
    }
    platform::ui::ScriptedDialogs dialogs;  // answers the "did not answer" box
    vantor::frmMain window;
    window.show();
    window.lbIPs->addItem(address);
    window.lbIPs->setCurrentRow(window.lbIPs->count() - 1);
    window.lbIPs_DblClick();
    platform::ui::waitUntil([&] { return window.statusText().startsWith(QLatin1String("Connected")); }, 5s);
    platform::setTimeScale(0.2);
    measure("\"ip get\" exchange, silent device (10 s x 0.2)", [&] { window.mnuIPAddr_Click(); });
    platform::setTimeScale(1.0);
    std::printf("target: under 5 %% of one core while waiting\n");
    window.close();
    return 0;
}
