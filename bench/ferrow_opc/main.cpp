// In-process calls through the OPC interfaces against a direct C++ call of the same work, in the same
// run: GetStatus, GetErrorString, a flat browse of 2 000 tags, GetItemProperties of all six properties.
// Also counts the task allocations (what the client receives) and the heap allocations of each way.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "ferrow/devlink/device_link.h"
#include "ferrow/devlink/trace.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "ferrow/model/locks.h"
#include "ferrow/opc/com_server.h"
#include "ferrow/opc/error_text.h"
#include "ferrow/opc/item_properties.h"
#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/class_table.h"
#include "platform/com/com_ptr.h"
#include "platform/com/task_memory.h"

using namespace platform::com;
using namespace ferrow::opc;
using Clock = std::chrono::steady_clock;

namespace {
std::atomic<long> heapAllocations{0};
}  // namespace

void* operator new(std::size_t bytes) {
    ++heapAllocations;
    if (void* p = std::malloc(bytes ? bytes : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

struct CountingTasks : TaskAllocator {
    std::atomic<long> allocations{0};
    void* Alloc(std::size_t bytes) override {
        ++allocations;
        return std::malloc(bytes);
    }
    void* Realloc(void* block, std::size_t bytes) override { return std::realloc(block, bytes); }
    void Free(void* block) override { std::free(block); }
};

struct Quiet : ferrow::TraceOutput {
    void Write(std::string_view) override {}
};

struct Figure {
    double nanos = 0;
    double tasks = 0;
    double heap = 0;
};

template <class F>
void timeOnce(CountingTasks& tasks, int rounds, F& call, Figure* f) {
    const long t0 = tasks.allocations, h0 = heapAllocations;
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) call();
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count() / rounds;
    f->nanos = std::min(f->nanos, ns);
    f->tasks = static_cast<double>(tasks.allocations - t0) / rounds;
    f->heap = static_cast<double>(heapAllocations - h0) / rounds;
}

// The interface call and the direct call by turns, in short stretches of `chunk` calls, `rounds` calls
// of each in all, `runs` times: the best stretch of each (the machine's other work only ever adds time),
// and the allocations of one call.
template <class A, class B>
std::pair<Figure, Figure> compare(CountingTasks& tasks, int runs, int rounds, A&& com, B&& direct) {
    Figure a{1e300, 0, 0}, b{1e300, 0, 0};
    const int chunk = std::max(1, rounds / 100);
    for (int r = 0; r < runs; ++r)
        for (int done = 0; done < rounds; done += chunk) {
            timeOnce(tasks, chunk, com, &a);
            timeOnce(tasks, chunk, direct, &b);
        }
    return {a, b};
}

void report(const char* what, const std::pair<Figure, Figure>& figures) {
    const Figure& com = figures.first;
    const Figure& direct = figures.second;
    std::printf("%-34s %12.0f %12.0f %7.2f   tasks %6.1f / %6.1f   heap %6.1f / %6.1f\n", what, com.nanos,
                direct.nanos, com.nanos / direct.nanos, com.tasks, direct.tasks, com.heap, direct.heap);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    Quiet quiet;
    ferrow::setTraceOutput(&quiet);
    CountingTasks tasks;
    setTaskAllocator(&tasks);
    std::vector<std::string> ids;
    {
        auto doc = std::make_unique<ferrow::CDoc>(ferrow::MakeLinkedDevice);
        for (int d = 0; d < 20; ++d) {
            auto device = ferrow::MakeLinkedDevice();
            device->m_strName = "Device" + std::to_string(d + 1);
            device->m_pParent = &doc->m_root;
            for (int t = 0; t < 100; ++t) {
                auto tag = std::make_unique<ferrow::OqnTag>();
                tag->m_strName = "Point" + std::to_string(t);
                tag->m_strDescription = "Datapoint " + std::to_string(t);
                tag->m_vtCanonical = VT_R8;
                tag->m_value.vt = VT_R8;
                tag->m_value.dblVal = t;
                tag->m_pGroup = device.get();
                ids.push_back(device->m_strName + "." + tag->m_strName);
                device->m_tags.push_back(std::move(tag));
            }
            std::lock_guard lock(ferrow::documentLock());
            doc->m_root.m_groups.push_back(std::move(device));
        }

        DWORD cookie = 0;
        RegisterServerClassObject(&cookie);
        ComPtr<IOPCServer> server;
        if (CoCreateInstance(CLSID_FerrowServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                             server.putVoid()) != S_OK)
            return 1;
        ComPtr<IOPCBrowseServerAddressSpace> browse;
        ComPtr<IOPCItemProperties> properties;
        server->QueryInterface(IID_IOPCBrowseServerAddressSpace, browse.putVoid());
        server->QueryInterface(IID_IOPCItemProperties, properties.putVoid());
        std::vector<std::u16string> wideIds;
        for (const auto& id : ids) wideIds.emplace_back(id.begin(), id.end());
        std::recursive_mutex statusLock;  // the direct call takes a lock as the server does

        std::printf("Ferrow OPC server, in process: interface call against a direct call of the same work\n");
        std::printf("%-34s %12s %12s %7s   allocations per call (interface / direct)\n", "", "interface ns",
                    "direct ns", "ratio");

        report("GetStatus", compare(
                                tasks, runs, 20000,
                                [&] {
                                    OPCSERVERSTATUS* status = nullptr;
                                    server->GetStatus(&status);
                                    CoTaskMemFree(status->szVendorInfo);
                                    CoTaskMemFree(status);
                                },
                                [&] {
                                    auto* status = taskArray<OPCSERVERSTATUS>(1);
                                    status->szVendorInfo = taskString(u"Ferrow server by Morvane GmbH");
                                    {
                                        std::lock_guard lock(statusLock);
                                        status->ftStartTime = ServerStartTime();
                                        status->ftCurrentTime = CoFileTimeNow();
                                        status->dwServerState = OPC_STATUS_RUNNING;
                                        status->wMajorVersion = 2;
                                        status->wBuildNumber = 1;
                                    }
                                    CoTaskMemFree(status->szVendorInfo);
                                    CoTaskMemFree(status);
                                }));

        report("GetErrorString", compare(
                                     tasks, runs, 20000,
                                     [&] {
                                         LPWSTR text = nullptr;
                                         server->GetErrorString(OPC_E_UNKNOWNITEMID, 1033, &text);
                                         CoTaskMemFree(text);
                                     },
                                     [&] {
                                         const char* known = opcErrorText(OPC_E_UNKNOWNITEMID);
                                         LPWSTR text = taskStringFromAnsi(known);
                                         CoTaskMemFree(text);
                                     }));

        const std::size_t count = ids.size();
        std::vector<LPOLESTR> names(count);
        report("flat browse of 2000 tags",
               compare(
                   tasks, runs, 50,
                   [&] {
                       ComPtr<IEnumString> strings;
                       browse->BrowseOPCItemIDs(OPC_FLAT, u"", VT_EMPTY, 0, strings.put());
                       ULONG fetched = 0;
                       strings->Next(static_cast<ULONG>(count), names.data(), &fetched);
                       for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(names[i]);
                   },
                   [&] {
                       std::size_t n = 0;
                       std::lock_guard lock(ferrow::documentLock());
                       for (const auto& device : doc->m_root.m_groups) {
                           const std::string path = device->GetPath();
                           for (const auto& tag : device->m_tags) {
                               std::string id = path;
                               id += tag->m_strName;
                               names[n++] = taskStringFromAnsi(id);
                           }
                       }
                       for (std::size_t i = 0; i < n; ++i) CoTaskMemFree(names[i]);
                   }));

        DWORD all[] = {1, 2, 3, 4, 5, 101};
        std::size_t next = 0;
        report("GetItemProperties, six properties", compare(
                                                        tasks, runs, 20000,
                                                        [&] {
                                                            VARIANT* values = nullptr;
                                                            HRESULT* errors = nullptr;
                                                            properties->GetItemProperties(
                                                                wideIds[next++ % count].data(), 6, all,
                                                                &values, &errors);
                                                            for (int i = 0; i < 6; ++i)
                                                                VariantClear(&values[i]);
                                                            CoTaskMemFree(values);
                                                            CoTaskMemFree(errors);
                                                        },
                                                        [&] {
                                                            auto* values = taskArray<VARIANT>(6);
                                                            auto* errors = taskArray<HRESULT>(6);
                                                            TagSnapshot tag;
                                                            HRESULT copied;
                                                            tag.Load(ids[next++ % count], &copied);
                                                            for (int i = 0; i < 6; ++i)
                                                                readProperty(tag, all[i], &values[i]);
                                                            for (int i = 0; i < 6; ++i)
                                                                VariantClear(&values[i]);
                                                            CoTaskMemFree(values);
                                                            CoTaskMemFree(errors);
                                                        }));

        properties.reset();
        browse.reset();
        server.reset();
        RevokeServerClassObject(cookie);
    }
    setTaskAllocator(nullptr);
    ferrow::setTraceOutput(nullptr);
    return 0;
}
