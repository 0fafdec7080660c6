#include "ferrow/opc/com_server.h"

#include <atomic>
#include <new>
#include <thread>

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

void NotifyServersShutdown(const std::u16string& reason) {
    for (const auto& server : serverList()) asServer(server.get())->NotifyShutdown(reason);
}

void DisconnectAndDeleteServers(std::chrono::milliseconds pauseBetween) {
    for (auto& server : serverList()) {
        OpcServer* object = asServer(server.get());
        CoDisconnectObject(object->identity(), 0);
        object->destroyNow();
        server.reset();
        std::this_thread::sleep_for(pauseBetween);
    }
}

HRESULT RevokeServerClassObject(std::uint32_t cookie) { return CoRevokeClassObject(cookie); }

void SetServerStartTime(const FILETIME& time) { startTicks = time.ticks(); }

FILETIME ServerStartTime() { return FILETIME::fromTicks(startTicks.load()); }

}  // namespace ferrow::opc
