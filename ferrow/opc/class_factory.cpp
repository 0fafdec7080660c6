#include "ferrow/opc/class_factory.h"

#include "ferrow/opc/object_count.h"
#include "ferrow/opc/opc_server.h"

namespace ferrow::opc {

using namespace platform::com;

HRESULT OpcServerFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) {
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    OpcServer* server = OpcServer::Create();
    if (!server) return E_OUTOFMEMORY;
    // Held while it is queried: a failed query destroys the server through its final release.
    ComPtr<IOPCServer> hold(server);
    return server->QueryInterface(riid, ppvObject);
}

HRESULT OpcServerFactory::LockServer(BOOL fLock) {
    if (fLock) {
        ++locks_;
        ++objectCount;
        return S_OK;
    }
    // An unlock without a lock of this factory would leave objectCount short of the live objects.
    long held = locks_.load();
    while (held > 0)
        if (locks_.compare_exchange_weak(held, held - 1)) {
            --objectCount;
            return S_OK;
        }
    return S_OK;
}

void OpcServerFactory::teardown() { objectCount -= locks_.exchange(0); }

}  // namespace ferrow::opc
