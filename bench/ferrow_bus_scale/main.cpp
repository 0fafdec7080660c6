// Ferrow's bus side under many clients, each figure beside its baseline from the same run, on a
// dbus-daemon of the benchmark's own; Ferrow's side runs in this process, the clients in processes of
// their own (ferrow_bus_scale_client, each client its own bus connection):
//   (a) callback throughput: 10 000 items of one device changing every 100 ms, subscribed by 4 client
//       processes across the bus (one group of 10 000 items at 100 ms each), items delivered per second,
//       against the same subscriptions made in process;
//   (b) scale: rounds of clients x 10 groups x 100 items against several simulated devices whose items
//       change every second; in each round every client must get the round's last value of every item,
//       then half the clients leave cleanly and half vanish, and every object must go. Threads and
//       resident memory after each round, beside the first round's.
//
//   ferrow_bus_scale_bench [--clients N] [--per-process K] [--devices D] [--seconds S] [--throughput S]
// Defaults (20 clients, 5 per process, 3 devices, 60 s of rounds, 10 s per throughput side) run in about
// two minutes on a small machine; the full run is --clients 1000 --per-process 50 --devices 10
// --seconds 600.
#include <malloc.h>

#include <QDBusConnection>
#include <QFile>
#include <QProcess>
#include <atomic>
#include <cstdio>
#include <mutex>

#include "bench/ferrow_common/bench_bus.h"
#include "bench/ferrow_common/bench_support.h"
#include "devsim/datapoint_service.h"
#include "ferrow/bus/ferrow_bus_server.h"
#include "ferrow/bus/opc_tables.h"
#include "ferrow/devlink/device_link.h"
#include "ferrow/devlink/trace.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/locks.h"
#include "ferrow/opc/com_server.h"
#include "ferrow/opc/object_count.h"
#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/class_table.h"
#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/com/task_memory.h"
#include "platform/process/allocator_arenas.h"

namespace {

using namespace platform::com;
using namespace ferrow::opc;
using ferrowbench::Clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

struct Quiet : ferrow::TraceOutput {
    void Write(std::string_view) override {}
};

struct Options {
    int clients = 20;
    int perProcess = 5;
    int devices = 3;
    int seconds = 60;
    int throughputSeconds = 10;
};

// A device's value as its notification lines carry it: the four bytes, least significant first.
QByteArray hexOf(std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    QByteArray hex;
    for (int b = 0; b < 4; ++b)
        hex += QByteArray::number((bits >> (8 * b)) & 0xFF, 16).rightJustified(2, '0');
    return hex.toUpper();
}
QString pointName(int i) { return QStringLiteral("P%1").arg(i, 5, 10, QLatin1Char('0')); }

long statusField(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(static_cast<qsizetype>(std::strlen(field))).trimmed().split(' ')[0].toLong();
    return 0;
}
long threads() { return statusField("Threads:"); }
long residentKiB() { return statusField("VmRSS:"); }
// The size attribute of the first `<tag type="kind" .../>` in `xml` from `from` on; 0 without one.
long xmlSize(const QByteArray& xml, qsizetype from, const QByteArray& tag, const QByteArray& kind) {
    const qsizetype at = xml.indexOf("<" + tag + " type=\"" + kind + "\"", from);
    if (at < 0) return 0;
    const qsizetype size = xml.indexOf("size=\"", at);
    const qsizetype end = size < 0 ? -1 : xml.indexOf('"', size + 6);
    return end < 0 ? 0 : xml.mid(size + 6, end - size - 6).toLong();
}

// What the allocator counts as handed out now, over all its arenas: beside the resident memory it tells
// memory held by live objects from memory the allocator keeps for reuse. mallinfo2 would count the main
// arena alone, and the worker threads allocate in arenas of their own, so a block that moves between
// them looks like growth; malloc_info's totals cover them all: the arenas' memory less their free
// chunks, plus the blocks mapped on their own. Chunks waiting in a thread's cache of freed blocks count
// as handed out; GLIBC_TUNABLES=glibc.malloc.tcache_count=0 leaves them out.
long heapInUseKiB() {
    char* text = nullptr;
    std::size_t length = 0;
    FILE* out = open_memstream(&text, &length);
    if (!out) return 0;
    malloc_info(0, out);
    std::fclose(out);
    const QByteArray xml(text, static_cast<qsizetype>(length));
    std::free(text);
    const qsizetype totals = xml.lastIndexOf("</heap>");  // the totals follow the last arena
    if (totals < 0) return 0;
    const long inUse = xmlSize(xml, totals, "system", "current") - xmlSize(xml, totals, "total", "fast") -
                       xmlSize(xml, totals, "total", "rest") + xmlSize(xml, totals, "total", "mmap");
    return inUse / 1024;
}
QByteArray loadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').mid(0, 3).join(' ') : QByteArray("?");
}

// Sets `points` items of every device to one new value each `period`, or to a value asked for.
class Changer {
  public:
    Changer(std::vector<std::unique_ptr<devsim::SimulatedDevice>>& devices, int points, milliseconds period)
        : devices_(devices), points_(points), period_(period), thread_([this] { run(); }) {}
    ~Changer() {
        stop_ = true;
        thread_.join();
    }
    // Once pause(true) returns, no change of the changer's own comes any more.
    void pause(bool paused) {
        std::lock_guard guard(lock_);
        paused_ = paused;
    }
    void setAll(std::int32_t value) {
        std::lock_guard guard(lock_);
        setAllLocked(value);
    }
    long changes() const { return changes_; }

  private:
    void setAllLocked(std::int32_t value) {
        // In slices, so that the device writes each slice out before the next: a device closes a
        // connection that lets a quarter megabyte of notifications pile up.
        constexpr int kSlice = 250;
        for (auto& sim : devices_)
            for (int from = 0; from < points_; from += kSlice)
                sim->run([&] {
                    for (int i = from; i < std::min(points_, from + kSlice); ++i)
                        sim->datapoints().setValue(pointName(i).toLatin1(), hexOf(value));
                });
    }
    void run() {
        std::int32_t value = 0;
        auto next = Clock::now();
        while (!stop_) {
            next += period_;
            std::this_thread::sleep_until(next);
            std::lock_guard guard(lock_);
            if (paused_) continue;
            setAllLocked(++value);
            ++changes_;
        }
    }
    std::vector<std::unique_ptr<devsim::SimulatedDevice>>& devices_;
    const int points_;
    const milliseconds period_;
    std::mutex lock_;
    std::atomic<bool> stop_{false};
    bool paused_ = false;
    std::atomic<long> changes_{0};
    std::thread thread_;
};

// One process of clients, read line by line.
class ClientProcess {
  public:
    ClientProcess(int clients, int groups, int items, int devices, int rate) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(SCALE_CLIENT_EXECUTABLE),
                       {QString::number(clients), QString::number(groups), QString::number(items),
                        QString::number(devices), QString::number(rate)});
    }
    ~ClientProcess() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.kill();
        process_.waitForFinished(5000);
    }
    std::optional<QByteArray> lineStarting(const QByteArray& prefix, milliseconds limit) {
        const auto end = Clock::now() + limit;
        for (;;) {
            while (process_.canReadLine()) {
                const QByteArray line = process_.readLine().trimmed();
                if (line.startsWith(prefix)) return line;
                if (line.startsWith("error")) std::printf("    client: %s\n", line.constData());
            }
            const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
            if (left <= 0 || process_.state() == QProcess::NotRunning) return std::nullopt;
            process_.waitForReadyRead(static_cast<int>(std::min<long long>(left, 200)));
        }
    }
    void send(const QByteArray& line) {
        process_.write(line + "\n");
        process_.waitForBytesWritten(5000);
    }
    long count() {
        send("count");
        const auto line = lineStarting("count ", seconds(30));
        return line ? line->mid(6).toLong() : -1;
    }
    // Clean: unadvise, remove, release, then end. Otherwise: end at once, everything still held.
    bool leave(bool cleanly) {
        if (cleanly) send("quit");
        process_.closeWriteChannel();
        return process_.waitForFinished(60000);
    }

  private:
    QProcess process_;
};

// An in-process client's sink: counts the items delivered.
class CountingSink final : public ComObject<IOPCDataCallback> {
  public:
    HRESULT OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE*, VARIANT*, WORD*,
                         FILETIME*, HRESULT*) override {
        delivered += count;
        return S_OK;
    }
    HRESULT OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                           HRESULT*) override {
        return S_OK;
    }
    HRESULT OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override { return S_OK; }
    HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }
    std::atomic<long> delivered{0};
};

// The same subscription as a client process's, in process: a server, a group of `items` items at 100 ms.
struct LocalSubscription {
    ComPtr<IOPCServer> server;
    ComPtr<IOPCItemMgt> group;
    ComPtr<IConnectionPoint> point;
    ComPtr<CountingSink> sink{new CountingSink};
    DWORD cookie = 0;
    bool make(int items) {
        if (FAILED(CoCreateInstance(CLSID_FerrowServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                    server.putVoid())))
            return false;
        OPCHANDLE handle = 0;
        DWORD revised = 0;
        if (FAILED(server->AddGroup(u"G0", 1, 100, 0, nullptr, nullptr, 0, &handle, &revised, IID_IOPCItemMgt,
                                    reinterpret_cast<IUnknown**>(group.put()))))
            return false;
        std::vector<std::u16string> ids;
        std::vector<OPCITEMDEF> defs(static_cast<std::size_t>(items));
        for (int i = 0; i < items; ++i)
            ids.push_back((QStringLiteral("Device1.") + pointName(i)).toStdU16String());
        for (int i = 0; i < items; ++i) {
            defs[static_cast<std::size_t>(i)].szItemID = ids[static_cast<std::size_t>(i)].data();
            defs[static_cast<std::size_t>(i)].bActive = 1;
            defs[static_cast<std::size_t>(i)].hClient = static_cast<OPCHANDLE>(i);
        }
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        const HRESULT added = group->AddItems(static_cast<DWORD>(items), defs.data(), &results, &errors);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
        ComPtr<IConnectionPointContainer> container;
        group->QueryInterface(IID_IConnectionPointContainer, container.putVoid());
        return added == S_OK && container &&
               SUCCEEDED(container->FindConnectionPoint(IID_IOPCDataCallback, point.put())) &&
               SUCCEEDED(point->Advise(sink.get(), &cookie));
    }
    ~LocalSubscription() {
        if (point) point->Unadvise(cookie);
    }
};

// (a) -------------------------------------------------------------------------------------------------
void throughput(std::vector<std::unique_ptr<devsim::SimulatedDevice>>& devices, int duration) {
    constexpr int kItems = 10000, kClients = 4;
    std::printf(
        "(a) callback throughput: %d items changing every 100 ms, %d clients across the bus and %d in"
        " process at the same time, %d s; load %s\n",
        kItems, kClients, kClients, duration, loadAverage().constData());
    std::vector<std::unique_ptr<devsim::SimulatedDevice>> first;
    first.push_back(std::move(devices.front()));
    {
        // Both kinds of subscriber see the same changes: the in-process ones are the baseline of what
        // Ferrow's groups deliver, the others what of it crosses the bus.
        std::vector<std::unique_ptr<LocalSubscription>> local;
        for (int c = 0; c < kClients; ++c) {
            local.push_back(std::make_unique<LocalSubscription>());
            if (!local.back()->make(kItems)) std::printf("    in process: subscription %d failed\n", c);
        }
        std::vector<std::unique_ptr<ClientProcess>> remote;
        for (int c = 0; c < kClients; ++c)
            remote.push_back(std::make_unique<ClientProcess>(1, 1, kItems, 1, 100));
        for (auto& p : remote)
            if (!p->lineStarting("ready", seconds(120)))
                std::printf("    across the bus: a client did not start\n");
        Changer changer(first, kItems, milliseconds(100));
        std::this_thread::sleep_for(std::chrono::seconds(2));
        long localBefore = 0, localAfter = 0, remoteBefore = 0, remoteAfter = 0;
        for (auto& s : local) localBefore += s->sink->delivered;
        for (auto& p : remote) remoteBefore += p->count();
        const auto t0 = Clock::now();
        const long changesBefore = changer.changes();
        std::this_thread::sleep_for(std::chrono::seconds(duration));
        for (auto& s : local) localAfter += s->sink->delivered;
        for (auto& p : remote) remoteAfter += p->count();
        const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
        const double offered = (changer.changes() - changesBefore) * static_cast<double>(kItems) / elapsed;
        const double across = (remoteAfter - remoteBefore) / elapsed / kClients;
        const double inProcess = (localAfter - localBefore) / elapsed / kClients;
        for (auto& p : remote) p->leave(true);
        std::printf("    across the bus, 4 client processes: %.0f items/s per client (%.0f in all)\n", across,
                    across * kClients);
        std::printf(
            "    baseline, the same subscriptions in process: %.0f items/s per client; the device was"
            " given %.0f changes/s; ratio %.2f; load %s\n",
            inProcess, offered, inProcess > 0 ? across / inProcess : 0.0, loadAverage().constData());
    }
    devices.front() = std::move(first.front());
}

// (b) -------------------------------------------------------------------------------------------------
void scale(std::vector<std::unique_ptr<devsim::SimulatedDevice>>& devices, ferrow::bus::FerrowBusServer& bus,
           const Options& options) {
    constexpr int kGroups = 10, kItems = 100;
    const int processes = (options.clients + options.perProcess - 1) / options.perProcess;
    std::printf(
        "(b) scale: %d clients (%d processes) x %d groups x %d items, %d devices changing every 1 s,"
        " %d s of rounds; load %s\n",
        processes * options.perProcess, processes, kGroups, kItems, options.devices, options.seconds,
        loadAverage().constData());
    const long threadsBefore = threads();
    Changer changer(devices, kItems, milliseconds(1000));
    const auto end = Clock::now() + std::chrono::seconds(options.seconds);
    long firstResident = 0, firstHeap = 0, minThreads = 1L << 30, maxThreads = 0;
    int rounds = 0, fullyDelivered = 0;
    bool allGone = true;
    for (int round = 1; round == 1 || Clock::now() < end; ++round) {
        const auto t0 = Clock::now();
        const long objectsBefore = ferrow::objectCount;
        std::vector<std::unique_ptr<ClientProcess>> clients;
        for (int p = 0; p < processes; ++p)
            clients.push_back(
                std::make_unique<ClientProcess>(options.perProcess, kGroups, kItems, options.devices, 100));
        int ready = 0;
        for (auto& c : clients) ready += c->lineStarting("ready", seconds(300)) ? 1 : 0;
        std::this_thread::sleep_for(std::chrono::seconds(2));
        // The round's last value on every item: each live client must get it on every one of its items.
        changer.pause(true);
        const std::int32_t marker = 1'000'000 + round;
        changer.setAll(marker);
        for (auto& c : clients) c->send("expect " + QByteArray::number(marker));
        int delivered = 0;
        for (auto& c : clients) delivered += c->lineStarting("have ", seconds(60)) ? 1 : 0;
        changer.pause(false);
        // The simulated devices run in this process and keep the last lines of their own logs: emptied,
        // they leave Ferrow's memory alone in the figures.
        for (auto& device : devices) device->log().clear();
        const long threadsNow = threads(), resident = residentKiB(), heap = heapInUseKiB();
        for (std::size_t i = 0; i < clients.size(); ++i) clients[i]->leave(i % 2 == 0);
        clients.clear();
        bool gone = false;
        for (int i = 0; i < 6000 && !gone; ++i) {
            gone = bus.node()->exportedCount() == 0 && bus.books()->clientCount() == 0 &&
                   bus.books()->recordCount() == 0 && ferrow::objectCount <= objectsBefore;
            if (!gone) std::this_thread::sleep_for(milliseconds(10));
        }
        if (round == 1) {
            firstResident = resident;
            firstHeap = heap;
        }
        minThreads = std::min(minThreads, threadsNow);
        maxThreads = std::max(maxThreads, threadsNow);
        ++rounds;
        fullyDelivered += delivered == processes ? 1 : 0;
        allGone = allGone && gone;
        std::printf(
            "    round %2d: %d/%d processes ready, %d/%d got every last value; threads %ld, resident %ld KiB"
            " (%+ld vs round 1), heap in use %ld KiB (%+ld); after leaving: objects %zu, clients in books"
            " %zu, COM objects %+ld; %.1f s\n",
            round, ready, processes, delivered, processes, threadsNow, resident, resident - firstResident,
            heap, heap - firstHeap, bus.node()->exportedCount(), bus.books()->clientCount(),
            static_cast<long>(ferrow::objectCount) - objectsBefore,
            std::chrono::duration<double>(Clock::now() - t0).count());
    }
    std::printf(
        "    %d rounds: threads %ld..%ld while serving (%ld before the first round); every last value"
        " delivered to every client in %d of %d rounds; every object gone after every round: %s;"
        " load %s\n",
        rounds, minThreads, maxThreads, threadsBefore, fullyDelivered, rounds, allGone ? "yes" : "NO",
        loadAverage().constData());
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const int value = std::max(0, std::atoi(argv[i + 1]));
        if (flag == "--clients")
            o.clients = value;
        else if (flag == "--per-process")
            o.perProcess = value;
        else if (flag == "--devices")
            o.devices = value;
        else if (flag == "--seconds")
            o.seconds = value;
        else if (flag == "--throughput")
            o.throughputSeconds = value;
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    platform::process::limitAllocatorArenas();  // as Ferrow itself does
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Ferrow's limits shortened (a departed client's objects held 3 s, callbacks 1 s).
    qputenv("QUILLON_TIME_SCALE", "0.1");
    QCoreApplication app(argc, argv);
    const Options options = parse(argc, argv);
    Quiet quiet;
    ferrow::setTraceOutput(&quiet);
    ferrowbench::BenchBus daemon;
    if (daemon.address.isEmpty()) return 1;
    qputenv("DBUS_SESSION_BUS_ADDRESS", daemon.address.toLocal8Bit());
    QTemporaryDir root;
    std::vector<std::unique_ptr<devsim::SimulatedDevice>> devices;
    for (int d = 0; d < options.devices; ++d) {
        const QString address = QStringLiteral("127.0.94.%1").arg(40 + d);
        auto sim = ferrowbench::startDevice(address, root);
        if (!sim) return 1;
        const int points = d == 0 ? 10000 : 100;
        sim->run([&] {
            devsim::DatapointTable table;
            for (int i = 0; i < points; ++i) {
                devsim::Datapoint point;
                point.name = pointName(i).toLatin1();
                point.type = VT_I4;
                point.value = QByteArray(4, '\0');
                table.add(point);
            }
            sim->datapoints().setTable(std::move(table));
        });
        devices.push_back(std::move(sim));
    }
    {
        auto doc = std::make_unique<ferrow::CDoc>(ferrow::MakeLinkedDevice);
        for (int d = 0; d < options.devices; ++d) {
            auto device = ferrow::MakeLinkedDevice();
            device->m_strName = "Device" + std::to_string(d + 1);
            device->m_pParent = &doc->m_root;
            const QStringList octets = QStringLiteral("127.0.94.%1").arg(40 + d).split('.');
            for (int i = 0; i < 4; ++i)
                device->m_params.m_strOctet[static_cast<std::size_t>(i)] = octets[i].toStdString();
            ferrow::ODevice* raw = device.get();
            {
                std::lock_guard lock(ferrow::documentLock());
                doc->m_root.m_groups.push_back(std::move(device));
            }
            raw->Connect();
            for (int i = 0; i < 500 && !raw->IsConnected(); ++i)
                std::this_thread::sleep_for(milliseconds(10));
            ferrow::LinkOf(*raw).SetSimulation(false);
            ferrow::LinkOf(*raw).LoadTags();
        }
        DWORD cookie = 0;
        RegisterServerClassObject(&cookie);
        ferrow::bus::FerrowBusServer bus;
        QString error;
        if (!bus.Start(&error)) {
            std::fprintf(stderr, "bus: %s\n", qPrintable(error));
            return 1;
        }
        if (options.throughputSeconds > 0) throughput(devices, options.throughputSeconds);
        if (options.seconds > 0) scale(devices, bus, options);
        bus.Stop();
        DisconnectAndDeleteServers(milliseconds(0));
        RevokeServerClassObject(cookie);
    }
    ferrow::setTraceOutput(nullptr);
    return 0;
}
