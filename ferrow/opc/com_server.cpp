#include "ferrow/opc/com_server.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "ferrow/opc/async_request.h"
#include "ferrow/opc/class_factory.h"
#include "ferrow/opc/opc_ids.h"
#include "ferrow/opc/opc_server.h"
#include "platform/com/class_table.h"

namespace ferrow::opc {

using namespace platform::com;

namespace {
std::atomic<std::uint64_t> startTicks{currentFileTime().ticks()};
}  // namespace

HRESULT RegisterServerClassObject(std::uint32_t* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    streamFormats();  // the stream formats get their numbers before any client can ask for them
    auto* factory = new (std::nothrow) OpcServerFactory();
    if (!factory) return E_OUTOFMEMORY;
    ComPtr<IClassFactory> hold(factory);
    return CoRegisterClassObject(CLSID_FerrowServer, hold.get(), CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                 REGCLS_MULTIPLEUSE, cookie);
}

namespace {

// What the shutdown calls share with the thread that waits for them; each call's thread holds a part.
struct ShutdownNotice {
    explicit ShutdownNotice(const std::u16string& reason) : text(reason) {}
    const std::u16string text;
    std::mutex lock;
    std::condition_variable answered;
    std::size_t pending = 0;  // guarded by lock

    // Lets go of the sink before counting it answered: the waiter may return at once, and its caller
    // may then free the sink.
    void callOne(ComPtr<IOPCShutdown> sink) {
        sink->ShutdownRequest(text.c_str());  // a failing sink does not matter to the others
        sink.reset();
        {
            std::lock_guard guard(lock);
            --pending;
        }
        answered.notify_all();
    }
};

}  // namespace

void NotifyServersShutdown(const std::u16string& reason) {
    std::vector<ComPtr<IOPCShutdown>> sinks;
    for (const auto& server : serverList())
        for (auto& sink : asServer(server.get())->ShutdownSinks()) sinks.push_back(std::move(sink));
    if (sinks.empty()) return;
    auto notice = std::make_shared<ShutdownNotice>(reason);
    notice->pending = sinks.size();
    for (const ComPtr<IOPCShutdown>& sink : sinks) {
        // The thread's own reference, handed on to the call, which lets go of it before counting the
        // sink answered: a copy captured from `sink` itself would be const, stay in the thread's
        // closure and be released after the waiter had returned.
        ComPtr<IOPCShutdown> forThread = sink;
        try {
            std::thread([notice, forThread = std::move(forThread)]() mutable {
                notice->callOne(std::move(forThread));
            }).detach();
        } catch (const std::system_error&) {
            notice->callOne(sink);  // no thread to be had: this client is told here
        }
    }
    sinks.clear();  // the threads hold their own references
    std::unique_lock lock(notice->lock);
    notice->answered.wait_for(lock, kShutdownSinkLimit, [&] { return notice->pending == 0; });
}

namespace {

// What DisconnectAndDeleteServers shares with the thread that cuts the servers off.
struct DisconnectJob {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;  // guarded by lock

    void finish() {
        {
            std::lock_guard guard(lock);
            done = true;
        }
        ended.notify_all();
    }
};

void disconnectAndDelete(std::vector<ComPtr<IOPCServer>>& servers, std::chrono::milliseconds pauseBetween) {
    for (auto& server : servers) {
        OpcServer* object = asServer(server.get());
        CoDisconnectObject(object->identity(), 0);
        object->destroyNow();
        server.reset();
        std::this_thread::sleep_for(pauseBetween);
    }
}

}  // namespace

bool DisconnectAndDeleteServers(std::chrono::milliseconds pauseBetween) {
    // Each wait for a client's call or sink has its limit, but they add up over many servers and groups:
    // the whole job runs on a thread of its own, which owns its references to the servers and is let go
    // when it takes longer than kDisconnectAllLimit.
    auto job = std::make_shared<DisconnectJob>();
    std::vector<ComPtr<IOPCServer>> servers = serverList();
    try {
        std::thread([job, servers, pauseBetween]() mutable {
            disconnectAndDelete(servers, pauseBetween);
            job->finish();
        }).detach();
    } catch (const std::system_error&) {
        disconnectAndDelete(servers, pauseBetween);  // no thread to be had: done here, limits per call
        return true;
    }
    servers.clear();  // the thread holds its own references
    std::unique_lock lock(job->lock);
    return job->ended.wait_for(lock, kDisconnectAllLimit, [&] { return job->done; });
}

HRESULT RevokeServerClassObject(std::uint32_t cookie) { return CoRevokeClassObject(cookie); }

void SetServerStartTime(const FILETIME& time) { startTicks = time.ticks(); }

FILETIME ServerStartTime() { return FILETIME::fromTicks(startTicks.load()); }

}  // namespace ferrow::opc
