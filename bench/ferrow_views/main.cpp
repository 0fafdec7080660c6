// The configuration window under load: the value refresh of 2 000 monitored tags (against formatting
// the same values into plain strings), and the longest stall of the window's event loop while
// monitoring and while the tags load from a device that answers each request after 5 ms (against the
// same window idle).
#include <QApplication>
#include <QHBoxLayout>
#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "bench/ferrow_common/bench_support.h"
#include "devsim/datapoint_service.h"
#include "ferrow/app/views/device_commands.h"
#include "ferrow/app/views/device_view.h"
#include "ferrow/app/views/tag_view.h"
#include "ferrow/app/views/value_text.h"
#include "ferrow/devlink/device_link.h"
#include "ferrow/devlink/monitor.h"
#include "ferrow/devlink/trace.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/locks.h"
#include "platform/ui/wait.h"

using namespace ferrowbench;
using namespace std::chrono_literals;

namespace {

struct Quiet : ferrow::TraceOutput {
    void Write(std::string_view) override {}
};

// The gaps between two turns of the event loop while `running` holds (a 1 ms timer measures them):
// the longest and the 99th percentile, which tells the window's own stalls from a busy machine's.
struct Stalls {
    double longest = 0;
    double p99 = 0;
};

Stalls measureStalls(const std::function<bool()>& running, std::chrono::milliseconds limit) {
    QTimer tick;
    tick.setInterval(1);
    tick.setTimerType(Qt::PreciseTimer);
    std::vector<double> gaps;
    auto last = Clock::now();
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        gaps.push_back(micros(now - last) / 1000);
        last = now;
    });
    tick.start();
    last = Clock::now();
    platform::ui::waitUntil([&] { return !running(); }, limit);
    if (gaps.empty()) return {};
    std::sort(gaps.begin(), gaps.end());
    return {gaps.back(), gaps[gaps.size() * 99 / 100]};
}

struct Window {
    explicit Window(ferrow::CDoc& doc) {
        auto* layout = new QHBoxLayout(&host);
        tree = new ferrow::CDeviceView(doc, &host);
        tags = new ferrow::CTagView(doc, &host);
        layout->addWidget(tree, 1);
        layout->addWidget(tags, 2);
        commands = new ferrow::DeviceCommands(doc, *tree, &host);
        host.resize(900, 700);
        host.show();
    }
    QWidget host;
    ferrow::CDeviceView* tree;
    ferrow::CTagView* tags;
    ferrow::DeviceCommands* commands;
};

ferrow::ODevice* addDevice(ferrow::CDoc& doc, const QString& address) {
    return doc.AddDevice([&](ferrow::ODevice& d) {
        const QStringList octets = address.split('.');
        for (int i = 0; i < 4; ++i)
            d.m_params.m_strOctet[static_cast<std::size_t>(i)] = octets[i].toStdString();
        return true;
    });
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    Quiet quiet;
    ferrow::setTraceOutput(&quiet);
    QTemporaryDir root;
    const QString address = QStringLiteral("127.0.77.3");
    auto sim = startDevice(address, root);
    if (!sim) return 1;
    sim->run([&] { sim->datapoints().setTable(devsim::DatapointTable::generated(count)); });

    ferrow::CDoc doc{ferrow::MakeLinkedDevice};
    Window window(doc);
    doc.OnNewDocument();

    // Idle window: the baseline for the stalls.
    const auto idleEnd = Clock::now() + 2s;
    const Stalls idle = measureStalls([&] { return Clock::now() < idleEnd; }, 3s);

    // Tags loading from a device that answers each request after 5 ms.
    sim->datapoints().faults().replyDelayMs = 5;
    ferrow::ODevice* device = addDevice(doc, address);
    bool loaded = false;
    QObject::connect(window.tree, &ferrow::CDeviceView::tagLoadEnded, [&] { loaded = true; });
    const auto loadStart = Clock::now();
    const Stalls load = measureStalls([&] { return !loaded; }, 120s);
    const double loadSeconds = micros(Clock::now() - loadStart) / 1e6;
    if (!loaded || static_cast<int>(device->m_tags.size()) != count ||
        window.tags->rows().rowCount() != count) {
        std::fprintf(stderr, "tags not loaded: %zu of %d, %d rows\n", device->m_tags.size(), count,
                     window.tags->rows().rowCount());
        return 1;
    }
    sim->datapoints().faults().replyDelayMs = 0;
    // The part of the load that runs on the window's thread: adding the tags, rebuilding, refilling.
    double applyMs;
    {
        auto fetched = ferrow::LinkOf(*device).FetchTags();
        ferrow::ODevice scratch;
        const auto t0 = Clock::now();
        for (auto& tag : fetched) scratch.AddTag(std::move(tag));
        doc.UpdateAllViews(ferrow::kHintProperties);
        applyMs = micros(Clock::now() - t0) / 1000;
    }

    // Monitoring with every value changing every 200 ms (the device's simulation).
    ferrow::StartMonitor(doc);
    int subscriptions = 0;
    platform::ui::waitUntil(
        [&] {
            sim->run([&] { subscriptions = sim->datapoints().subscriptionCount(); });
            return subscriptions >= count;
        },
        60s);
    ferrow::LinkOf(*device).SetSimulation(true);
    const auto monitorEnd = Clock::now() + 5s;
    const Stalls monitor = measureStalls([&] { return Clock::now() < monitorEnd; }, 6s);

    // One value refresh (hint 4) with painting, against formatting the same values into strings.
    std::vector<double> refresh, paint, baseline;
    for (int i = 0; i < 30; ++i) {
        platform::ui::waitFor(20ms);
        auto t0 = Clock::now();
        window.tags->OnUpdate(ferrow::kHintValues, nullptr);
        auto t1 = Clock::now();
        window.tags->viewport()->repaint();
        auto t2 = Clock::now();
        std::vector<std::string> texts;
        texts.reserve(device->m_tags.size());
        {
            std::lock_guard lock(ferrow::valueLock());
            for (const auto& tag : device->m_tags)
                texts.push_back(ferrow::ValueText(tag->m_value, tag->m_wQuality));
        }
        auto t3 = Clock::now();
        refresh.push_back(micros(t1 - t0) / 1000);
        paint.push_back(micros(t2 - t1) / 1000);
        baseline.push_back(micros(t3 - t2) / 1000);
    }
    ferrow::StopMonitor(doc);

    std::printf(
        "value refresh of %d tags: median %.2f ms, worst %.2f ms (repaint after it: median %.2f ms); "
        "baseline (format the values only) median %.2f ms; ratio %.2f\n",
        count, median(refresh), *std::max_element(refresh.begin(), refresh.end()), median(paint),
        median(baseline), median(refresh) / median(baseline));
    std::printf(
        "longest UI stall (99th percentile of the event-loop gaps): idle %.1f ms (%.1f); loading %d tags at "
        "5 ms a reply (%.1f s) %.1f ms (%.1f), ratio %.1f; monitoring %d changing tags %.1f ms (%.1f), ratio "
        "%.1f\n",
        idle.longest, idle.p99, count, loadSeconds, load.longest, load.p99, load.longest / idle.longest,
        count, monitor.longest, monitor.p99, monitor.longest / idle.longest);
    std::printf("adding %d fetched tags, rebuilding the tree and refilling the list: %.1f ms\n", count,
                applyMs);
    return 0;
}
