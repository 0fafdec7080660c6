// The OPC group data path, each figure beside a baseline from the same run:
//  (a) delay from a simulated device's value change to IOPCDataCallback::OnDataChange of a group with a
//      10 ms update rate, against the delay until the device link has stored the same push in the tag;
//  (b) 10 000 active items over 10 simulated devices, all changing every 100 ms, in 4 groups: whether
//      every change is delivered, and the update threads' CPU per delivered change, against taking the
//      same changes over directly (compare, copy, callback arrays);
//  (c) IOPCSyncIO::Read from the cache of 1 000 items, against copying the same tags under the value lock.
// Arguments: changes for (a), rounds for (b), runs for (c). BENCH_TRACE=1 shows the device link's
// diagnostics and the device's log of a device that does not link.
#include <sys/resource.h>
#include <time.h>

#include <QTemporaryDir>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/ferrow_common/bench_support.h"
#include "devsim/datapoint_service.h"
#include "devsim/datapoint_table.h"
#include "ferrow/devlink/device_link.h"
#include "ferrow/devlink/trace.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "ferrow/model/locks.h"
#include "ferrow/opc/com_server.h"
#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/class_table.h"
#include "platform/com/com_ptr.h"
#include "platform/com/task_memory.h"

using namespace platform::com;
using namespace ferrow::opc;
using namespace ferrowbench;

namespace {

struct Quiet : ferrow::TraceOutput {
    void Write(std::string_view text) override {
        if (std::getenv("BENCH_TRACE"))
            std::fprintf(stderr, "%.*s", static_cast<int>(text.size()), text.data());
    }
};

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QByteArray hexOf(std::uint32_t value) {
    return QByteArray::number(value, 16).rightJustified(8, '0').toUpper();
}

// A client's data callback: counts the items delivered, keeps the last value of each client handle, the
// time of the last call and the CPU time its calling (update) thread had used by then.
class CountingSink : public IOPCDataCallback {
  public:
    explicit CountingSink(std::size_t handles) : lastValue(handles, -1), deliveries(handles, 0) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IOPCDataCallback) return E_NOINTERFACE;
        *ppv = static_cast<IOPCDataCallback*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE* handles, VARIANT* values,
                         WORD*, FILETIME*, HRESULT*) override {
        const double cpu = threadCpuSeconds();
        {
            std::lock_guard lock(lock_);
            for (DWORD i = 0; i < count; ++i)
                if (handles[i] < lastValue.size()) {
                    lastValue[handles[i]] = values[i].lVal;
                    ++deliveries[handles[i]];
                }
            if (measuring) {
                // Per calling thread: its CPU clock at its first measured call is the start.
                ThreadCpu& thread = threads[std::this_thread::get_id()];
                const auto now = Clock::now();
                if (!thread.started) {
                    thread.started = true;
                    thread.first = cpu;
                } else {
                    thread.items += count;
                    thread.last = cpu;
                    thread.longestGap = std::max(thread.longestGap, micros(now - thread.lastCall) / 1000);
                }
                thread.lastCall = now;
            }
            delivered += count;
            lastCall = Clock::now();
        }
        arrived_.notify_all();
        return S_OK;
    }
    HRESULT OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                           HRESULT*) override {
        return S_OK;
    }
    HRESULT OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override { return S_OK; }
    HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

    // Waits until more than `seen` items have been delivered; false after the limit.
    bool waitBeyond(std::size_t seen, std::chrono::milliseconds limit) {
        std::unique_lock lock(lock_);
        return arrived_.wait_for(lock, limit, [&] { return delivered > seen; });
    }

    std::atomic<ULONG> refs{1};
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<std::int32_t> lastValue;
    std::vector<std::size_t> deliveries;

    std::size_t delivered = 0;
    Clock::time_point lastCall{};
    bool measuring = false;
    struct ThreadCpu {
        bool started = false;
        double first = 0, last = 0;
        std::size_t items = 0;
        Clock::time_point lastCall{};
        double longestGap = 0;  // ms between two calls with changes
    };
    std::map<std::thread::id, ThreadCpu> threads;
};

// A devsim device with `count` 32-bit inputs P0000, P0001, ...
std::unique_ptr<devsim::SimulatedDevice> startDevice(const QString& address, QTemporaryDir& root, int count) {
    auto sim = ferrowbench::startDevice(address, root);
    if (!sim) return nullptr;
    sim->run([&] {
        devsim::DatapointTable table;
        for (int i = 0; i < count; ++i) {
            devsim::Datapoint point;
            point.name = "P" + QByteArray::number(i).rightJustified(4, '0');
            point.type = VT_I4;
            point.value = QByteArray(4, '\0');
            table.add(point);
        }
        sim->datapoints().setTable(std::move(table));
    });
    return sim;
}

// Links a device of the document to the simulated device at `address` and loads its tags.
ferrow::ODevice* addLinkedDevice(ferrow::CDoc& doc, const std::string& name, const QString& address) {
    auto device = ferrow::MakeLinkedDevice();
    device->m_strName = name;
    device->m_pParent = &doc.m_root;
    const QStringList octets = address.split('.');
    for (int i = 0; i < 4; ++i)
        device->m_params.m_strOctet[static_cast<std::size_t>(i)] = octets[i].toStdString();
    ferrow::ODevice* raw = device.get();
    {
        std::lock_guard lock(ferrow::documentLock());
        doc.m_root.m_groups.push_back(std::move(device));
    }
    // Connect only starts the connections; the tags are fetched once they stand.
    raw->Connect();
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (!raw->IsConnected() && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!raw->IsConnected()) return nullptr;
    ferrow::LinkOf(*raw).SetSimulation(false);
    ferrow::LinkOf(*raw).LoadTags();
    return raw;
}

struct Group {
    ComPtr<IOPCItemMgt> items;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
};

Group addGroup(IOPCServer* server, const char16_t* name, DWORD rate, const std::vector<std::string>& ids,
               const std::vector<OPCHANDLE>& clients, CountingSink& sink) {
    Group group;
    DWORD revised = 0;
    OPCHANDLE handle = 0;
    server->AddGroup(name, 1, rate, 0, nullptr, nullptr, 0, &handle, &revised, IID_IOPCItemMgt,
                     reinterpret_cast<IUnknown**>(group.items.put()));
    std::vector<std::u16string> wide;
    for (const auto& id : ids) wide.emplace_back(id.begin(), id.end());
    std::vector<OPCITEMDEF> defs(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        defs[i].szItemID = wide[i].data();
        defs[i].bActive = 1;
        defs[i].hClient = clients[i];
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    group.items->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    ComPtr<IConnectionPointContainer> container;
    group.items->QueryInterface(IID_IConnectionPointContainer, container.putVoid());
    container->FindConnectionPoint(IID_IOPCDataCallback, group.point.put());
    group.point->Advise(&sink, &group.cookie);
    return group;
}

void removeGroup(Group& group) {
    group.point->Unadvise(group.cookie);
    group.point.reset();
    group.items.reset();
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

// (a) -------------------------------------------------------------------------------------------------
void changeToCallbackDelay(IOPCServer* server, ferrow::CDoc& doc, int samples) {
    QTemporaryDir root;
    const QString address = QStringLiteral("127.0.93.20");
    auto sim = startDevice(address, root, 1);
    if (!sim) return;
    ferrow::ODevice* device = addLinkedDevice(doc, "Probe", address);
    if (!device || device->m_tags.empty()) {
        std::fprintf(stderr, "(a): the device did not link\n");
        return;
    }
    const ferrow::OTag* tag = device->m_tags.front().get();
    CountingSink sink(1);
    Group group = addGroup(server, u"Delay", 10, {"Probe.P0000"}, {0}, sink);
    // The first pass delivers the initial value and registers the tag with the device.
    sink.waitBeyond(0, std::chrono::seconds(5));
    while (true) {
        int subscribed = 0;
        sim->run([&] { subscribed = sim->datapoints().subscriptionCount(); });
        if (subscribed == 1) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }

    std::vector<double> link, callback;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pause(0, 20'000);
    for (int i = 1; i <= samples; ++i) {
        // Pushes at random phases of the group's 10 ms cycle.
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        std::size_t seen;
        {
            std::lock_guard lock(sink.lock_);
            seen = sink.delivered;
        }
        std::int32_t old;
        {
            std::lock_guard lock(ferrow::valueLock());
            old = tag->m_value.lVal;
        }
        const auto t0 = Clock::now();
        sim->run([&] { sim->datapoints().setValue("P0000", hexOf(static_cast<std::uint32_t>(i))); });
        // Baseline: the device link has stored the pushed value in the tag.
        for (;;) {
            {
                std::lock_guard lock(ferrow::valueLock());
                if (tag->m_value.lVal != old) break;
            }
            std::this_thread::yield();
        }
        const auto t1 = Clock::now();
        if (!sink.waitBeyond(seen, std::chrono::seconds(2))) {
            std::fprintf(stderr, "(a): change %d never reached the callback\n", i);
            break;
        }
        Clock::time_point t2;
        {
            std::lock_guard lock(sink.lock_);
            t2 = sink.lastCall;
        }
        link.push_back(micros(t1 - t0));
        callback.push_back(micros(t2 - t0));
    }
    removeGroup(group);
    if (link.empty()) return;
    std::printf("(a) device change -> OnDataChange, group update rate 10 ms, %zu changes\n", link.size());
    std::printf("    %-36s median %8.0f us   p90 %8.0f us   max %8.0f us\n", "tag stored by the device link",
                median(link), percentile(link, 0.9), percentile(link, 1.0));
    std::printf("    %-36s median %8.0f us   p90 %8.0f us   max %8.0f us\n", "OnDataChange of the group",
                median(callback), percentile(callback, 0.9), percentile(callback, 1.0));
    std::printf("    ratio of medians %.1f (the group's own share: %.0f us of a 10 000 us cycle)\n",
                median(callback) / median(link), median(callback) - median(link));
}

// (b) -------------------------------------------------------------------------------------------------
void throughput(IOPCServer* server, ferrow::CDoc& doc, int rounds) {
    constexpr int kDevices = 10, kTags = 1000, kGroups = 4;
    constexpr DWORD kRate = 20;
    std::vector<std::unique_ptr<QTemporaryDir>> roots;
    std::vector<std::unique_ptr<devsim::SimulatedDevice>> sims;
    std::vector<ferrow::ODevice*> devices;
    for (int d = 0; d < kDevices; ++d) {
        roots.push_back(std::make_unique<QTemporaryDir>());
        const QString address = QStringLiteral("127.0.93.%1").arg(d + 1);
        sims.push_back(startDevice(address, *roots.back(), kTags));
        if (!sims.back()) return;
        devices.push_back(addLinkedDevice(doc, "Unit" + std::to_string(d), address));
        if (!devices.back() || devices.back()->m_tags.size() != kTags) {
            std::fprintf(stderr, "(b): device %d did not link (%s, %zu tags)\n", d,
                         devices.back() && devices.back()->IsConnected() ? "connected" : "no connection",
                         devices.back() ? devices.back()->m_tags.size() : 0);
            if (std::getenv("BENCH_TRACE"))
                for (const auto& line : sims.back()->log().entries())
                    std::fprintf(stderr, "  device: %s\n", line.c_str());
            return;
        }
    }
    // Item n (device n / kTags, tag n % kTags) belongs to group n % kGroups, with client handle n.
    std::vector<std::vector<std::string>> ids(kGroups);
    std::vector<std::vector<OPCHANDLE>> clients(kGroups);
    for (int n = 0; n < kDevices * kTags; ++n) {
        char id[32];
        std::snprintf(id, sizeof id, "Unit%d.P%04d", n / kTags, n % kTags);
        ids[n % kGroups].push_back(id);
        clients[n % kGroups].push_back(static_cast<OPCHANDLE>(n));
    }
    CountingSink sink(kDevices * kTags);
    std::vector<Group> groups;
    for (int g = 0; g < kGroups; ++g) {
        const std::u16string name = u"Load" + std::u16string(1, static_cast<char16_t>(u'0' + g));
        groups.push_back(addGroup(server, name.c_str(), kRate, ids[g], clients[g], sink));
    }
    // Ready when every tag is registered with its device and the initial values have been delivered.
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    for (auto& sim : sims) {
        for (;;) {
            int subscribed = 0;
            sim->run([&] { subscribed = sim->datapoints().subscriptionCount(); });
            if (subscribed == kTags || Clock::now() > deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    while (Clock::now() < deadline) {
        {
            std::lock_guard lock(sink.lock_);
            if (sink.delivered >= static_cast<std::size_t>(kDevices * kTags)) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::size_t before;
    std::vector<std::size_t> deliveriesBefore;
    {
        std::lock_guard lock(sink.lock_);
        before = sink.delivered;
        deliveriesBefore = sink.deliveries;
        sink.measuring = true;
    }

    const double cpu0 = processCpuSeconds();
    const auto t0 = Clock::now();
    // Each device changes all its tags every 100 ms on a thread of its own. A device whose round ends late
    // (a busy machine) starts the next one at least 60 ms later, so that no two changes of a tag fall
    // within one update period: any change missing at the client is then the group's, not the pacing's.
    std::atomic<long> lateRounds{0};
    std::vector<std::thread> changers;
    for (auto& sim : sims)
        changers.emplace_back([&, device = sim.get()] {
            auto lastEnd = t0 - std::chrono::milliseconds(100);
            for (int r = 1; r <= rounds; ++r) {
                const auto due = t0 + std::chrono::milliseconds(100 * (r - 1));
                const auto earliest = lastEnd + std::chrono::milliseconds(60);
                if (earliest > due) ++lateRounds;
                std::this_thread::sleep_until(std::max(due, earliest));
                device->run([&] {
                    const QByteArray hex = hexOf(static_cast<std::uint32_t>(r));
                    for (int t = 0; t < kTags; ++t)
                        device->datapoints().setValue("P" + QByteArray::number(t).rightJustified(4, '0'),
                                                      hex);
                });
                lastEnd = Clock::now();
            }
        });
    for (auto& changer : changers) changer.join();
    // Let the last round arrive.
    const std::size_t expected = static_cast<std::size_t>(rounds) * kDevices * kTags;
    const auto settle = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < settle) {
        {
            std::lock_guard lock(sink.lock_);
            if (sink.delivered - before >= expected) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * kRate));
    const double cpu1 = processCpuSeconds();
    const double wall = micros(Clock::now() - t0) / 1e6;

    std::size_t delivered, measuredItems = 0;
    double groupCpu = 0;
    double longestGap = 0;
    int finalValues = 0;
    int itemsShort = 0;
    std::vector<std::size_t> missedByDevice(kDevices, 0);
    {
        std::lock_guard lock(sink.lock_);
        delivered = sink.delivered - before;
        for (const auto& [id, thread] : sink.threads) {
            measuredItems += thread.items;
            groupCpu += thread.last - thread.first;
            longestGap = std::max(longestGap, thread.longestGap);
        }
        for (std::size_t n = 0; n < sink.lastValue.size(); ++n) {
            std::lock_guard values(ferrow::valueLock());
            const ferrow::OTag& tag = *devices[n / kTags]->m_tags[n % kTags];
            finalValues += sink.lastValue[n] == tag.m_value.lVal;
        }
        for (std::size_t n = 0; n < sink.deliveries.size(); ++n) {
            const std::size_t got = sink.deliveries[n] - deliveriesBefore[n];
            if (got < static_cast<std::size_t>(rounds)) {
                ++itemsShort;
                missedByDevice[n / kTags] += static_cast<std::size_t>(rounds) - got;
            }
        }
    }
    for (Group& group : groups) removeGroup(group);

    // Baseline: the same changes taken over directly: compare, copy under the value lock, and the
    // callback arrays of one pass.
    std::vector<VARIANT> cache(kDevices * kTags);
    for (VARIANT& v : cache) VariantInit(&v);
    std::vector<ferrow::OTag*> tags;
    for (ferrow::ODevice* device : devices)
        for (const auto& tag : device->m_tags) tags.push_back(tag.get());
    std::vector<OPCHANDLE> handles;
    std::vector<VARIANT> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> stamps;
    std::vector<HRESULT> errors;
    const double base0 = threadCpuSeconds();
    std::size_t baseChanges = 0;
    for (int r = 0; r < rounds; ++r) {
        // Each round is a change: the emptied cache makes every comparison find one.
        for (std::size_t i = 0; i < tags.size(); ++i) {
            std::lock_guard lock(ferrow::valueLock());
            VariantClear(&cache[i]);
            if (!VariantEqual(cache[i], tags[i]->m_value)) {
                VariantCopy(&cache[i], &tags[i]->m_value);
                ++baseChanges;
            }
        }
        handles.clear();
        values.clear();
        qualities.clear();
        stamps.clear();
        errors.clear();
        for (std::size_t i = 0; i < tags.size(); ++i) {
            VARIANT v;
            VariantInit(&v);
            errors.push_back(VariantChangeType(&v, &cache[i], 0, VT_I4));
            handles.push_back(static_cast<OPCHANDLE>(i));
            values.push_back(v);
            qualities.push_back(OPC_QUALITY_GOOD);
            stamps.push_back(FILETIME{});
        }
        for (VARIANT& v : values) VariantClear(&v);
    }
    const double baseCpu = threadCpuSeconds() - base0;
    for (VARIANT& v : cache) VariantClear(&v);

    std::printf(
        "(b) %d items over %d devices changing every 100 ms, %d groups at %u ms, %d rounds (%.1f s)\n",
        kDevices * kTags, kDevices, kGroups, kRate, rounds, wall);
    std::printf(
        "    delivered %zu of %zu changes (%s); %d items missed a change; %d of %d items end on the tag's"
        " value; %ld device rounds started late\n",
        delivered, expected, delivered == expected ? "every one" : "NOT every one", itemsShort, finalValues,
        kDevices * kTags, lateRounds.load());
    if (itemsShort > 0) {
        std::printf("    missed changes by device:");
        for (std::size_t missed : missedByDevice) std::printf(" %zu", missed);
        std::printf("; longest time between two callbacks of a group %.0f ms (changes 100 ms apart)\n",
                    longestGap);
    }
    if (measuredItems > 0 && groupCpu > 0) {
        const double perChange = groupCpu / static_cast<double>(measuredItems) * 1e9;
        std::printf("    update threads: %.0f ns CPU per delivered change = %.0f changes per CPU second\n",
                    perChange, 1e9 / perChange);
    }
    const double basePer = baseCpu / static_cast<double>(baseChanges) * 1e9;
    std::printf("    direct take-over (baseline): %.0f ns CPU per change = %.0f changes per CPU second\n",
                basePer, 1e9 / basePer);
    if (measuredItems > 0 && groupCpu > 0)
        std::printf("    ratio %.2f\n", (groupCpu / static_cast<double>(measuredItems) * 1e9) / basePer);
    std::printf(
        "    whole process (10 simulated devices, their links and the groups): %.2f s CPU, %.0f ns per "
        "change\n",
        cpu1 - cpu0, (cpu1 - cpu0) / static_cast<double>(std::max<std::size_t>(delivered, 1)) * 1e9);

    sims.clear();
}

// (c) -------------------------------------------------------------------------------------------------
void cacheRead(IOPCServer* server, ferrow::CDoc& doc, int runs) {
    constexpr int kItems = 1000;
    auto owned = ferrow::MakeLinkedDevice();
    owned->m_strName = "Cache";
    owned->m_pParent = &doc.m_root;
    std::vector<ferrow::OTag*> tags;
    std::vector<std::string> ids;
    for (int t = 0; t < kItems; ++t) {
        auto tag = std::make_unique<ferrow::OqnTag>();
        char name[16];
        std::snprintf(name, sizeof name, "C%d", t);
        tag->m_strName = name;
        tag->m_vtCanonical = VT_R8;
        tag->m_value.vt = VT_R8;
        tag->m_value.dblVal = t * 0.5;
        tag->m_wQuality = OPC_QUALITY_GOOD;
        tag->m_pGroup = owned.get();
        tags.push_back(tag.get());
        ids.push_back("Cache." + tag->m_strName);
        owned->AddTag(std::move(tag));
    }
    {
        std::lock_guard lock(ferrow::documentLock());
        doc.m_root.m_groups.push_back(std::move(owned));
    }
    // An inactive group: no update pass competes with the reads, which copy the same (quality 0x1C).
    ComPtr<IOPCItemMgt> items;
    OPCHANDLE groupHandle = 0;
    DWORD revised = 0;
    server->AddGroup(u"Cache", 0, 1000, 0, nullptr, nullptr, 0, &groupHandle, &revised, IID_IOPCItemMgt,
                     reinterpret_cast<IUnknown**>(items.put()));
    std::vector<std::u16string> wide;
    for (const auto& id : ids) wide.emplace_back(id.begin(), id.end());
    std::vector<OPCITEMDEF> defs(kItems);
    for (int i = 0; i < kItems; ++i) {
        defs[i].szItemID = wide[i].data();
        defs[i].bActive = 1;
        defs[i].hClient = static_cast<OPCHANDLE>(i);
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* addErrors = nullptr;
    items->AddItems(kItems, defs.data(), &results, &addErrors);
    std::vector<OPCHANDLE> handles(kItems);
    for (int i = 0; i < kItems; ++i) handles[i] = results[i].hServer;
    CoTaskMemFree(results);
    CoTaskMemFree(addErrors);
    ComPtr<IOPCSyncIO> io;
    items->QueryInterface(IID_IOPCSyncIO, io.putVoid());

    auto viaInterface = [&] {
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        io->Read(OPC_DS_CACHE, kItems, handles.data(), &states, &errors);
        for (int i = 0; i < kItems; ++i) VariantClear(&states[i].vDataValue);
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
    };
    auto direct = [&] {
        auto* states = taskArray<OPCITEMSTATE>(kItems);
        auto* errors = taskArray<HRESULT>(kItems);
        {
            std::lock_guard lock(ferrow::valueLock());
            for (int i = 0; i < kItems; ++i) {
                states[i].hClient = static_cast<OPCHANDLE>(i);
                states[i].ftTimeStamp = tags[i]->m_ftTimestamp;
                states[i].wQuality = tags[i]->m_wQuality;
                VariantCopy(&states[i].vDataValue, &tags[i]->m_value);
            }
        }
        for (int i = 0; i < kItems; ++i) VariantClear(&states[i].vDataValue);
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
    };
    // By turns in short stretches; the best stretch of each (other work on the machine only adds time).
    double best[2] = {1e300, 1e300};
    for (int r = 0; r < runs; ++r)
        for (int stretch = 0; stretch < 40; ++stretch)
            for (int way = 0; way < 2; ++way) {
                const auto start = Clock::now();
                for (int k = 0; k < 10; ++k) way == 0 ? viaInterface() : direct();
                best[way] = std::min(best[way], micros(Clock::now() - start) * 1000.0 / 10 / kItems);
            }
    std::printf("(c) IOPCSyncIO::Read from the cache, %d items per call\n", kItems);
    std::printf("    Read                          %8.1f ns per item\n", best[0]);
    std::printf("    direct copy under value lock  %8.1f ns per item\n", best[1]);
    std::printf("    ratio %.2f\n", best[0] / best[1]);
    io.reset();
    items.reset();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int samples = argc > 1 ? std::atoi(argv[1]) : 200;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 30;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    Quiet quiet;
    ferrow::setTraceOutput(&quiet);
    {
        auto doc = std::make_unique<ferrow::CDoc>(ferrow::MakeLinkedDevice);
        DWORD cookie = 0;
        RegisterServerClassObject(&cookie);
        ComPtr<IOPCServer> server;
        if (CoCreateInstance(CLSID_FerrowServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                             server.putVoid()) != S_OK)
            return 1;
        changeToCallbackDelay(server.get(), *doc, samples);
        throughput(server.get(), *doc, rounds);
        cacheRead(server.get(), *doc, runs);
        server.reset();
        RevokeServerClassObject(cookie);
    }
    ferrow::setTraceOutput(nullptr);
    return 0;
}
