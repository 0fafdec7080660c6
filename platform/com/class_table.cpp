#include "platform/com/class_table.h"

#include <atomic>
#include <mutex>
#include <optional>

#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/com/handle_table.h"

namespace platform::com {

namespace {
struct Registration {
    CLSID clsid;
    ComPtr<IUnknown> classObject;
    DWORD context;
    DWORD flags;
};

struct ClassTable {
    std::mutex lock;
    HandleTable<Registration> entries;
};

ClassTable& table() {
    static ClassTable instance;
    return instance;
}

std::atomic<DisconnectHook> disconnectHook{nullptr};
std::atomic<LocalServerHook> localServerHook{nullptr};
}  // namespace

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* classObject, DWORD context, DWORD flags,
                              DWORD* cookie) {
    if (!cookie || !classObject) return E_INVALIDARG;
    *cookie = 0;
    ClassTable& t = table();
    std::lock_guard lock(t.lock);
    const DWORD handle = t.entries.add({clsid, ComPtr<IUnknown>(classObject), context, flags});
    if (handle == 0) return E_OUTOFMEMORY;
    *cookie = handle;
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
    std::optional<Registration> removed;
    {
        ClassTable& t = table();
        std::lock_guard lock(t.lock);
        removed = t.entries.remove(cookie);
    }
    // The class object's reference goes outside the lock.
    return removed ? S_OK : E_INVALIDARG;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* /*reserved*/, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    ComPtr<IUnknown> found;
    {
        ClassTable& t = table();
        std::lock_guard lock(t.lock);
        for (const auto& [cookie, entry] : t.entries)
            if (entry.clsid == clsid && (entry.context & context)) {
                found = entry.classObject;
                break;
            }
    }
    if (!found) {
        if (LocalServerHook hook = localServerHook.load(); hook && (context & CLSCTX_LOCAL_SERVER))
            return hook(clsid, riid, ppv);
        return REGDB_E_CLASSNOTREG;
    }
    return found->QueryInterface(riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    ComPtr<IClassFactory> factory;
    if (const HRESULT r = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, factory.putVoid());
        FAILED(r))
        return r;
    return factory->CreateInstance(outer, riid, ppv);
}

HRESULT CoDisconnectObject(IUnknown* unknown, DWORD /*reserved*/) {
    if (!unknown) return E_INVALIDARG;
    ComPtr<IUnknown> identity;
    if (FAILED(unknown->QueryInterface(IID_IUnknown, identity.putVoid()))) return E_INVALIDARG;
    if (ComObjectRoot* root = objectRoot(identity.get())) root->disconnect();
    if (DisconnectHook hook = disconnectHook.load()) hook(identity.get());
    return S_OK;
}

void setDisconnectHook(DisconnectHook hook) { disconnectHook = hook; }

void setLocalServerHook(LocalServerHook hook) { localServerHook = hook; }

}  // namespace platform::com
