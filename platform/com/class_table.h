#pragma once

#include "platform/com/unknown.h"

namespace platform::com {

// Class contexts and registration flags, with the platform's numbers.
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
inline constexpr DWORD REGCLS_SINGLEUSE = 0;
inline constexpr DWORD REGCLS_MULTIPLEUSE = 1;

// The process's class table: class objects registered by CLSID, found by the in-process activation
// calls below and (later) by the bus transport. Registration holds one reference on the class object
// until it is revoked. All of these may be called from any thread.
HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* classObject, DWORD context, DWORD flags,
                              DWORD* cookie);
// E_INVALIDARG for a cookie that is not registered.
HRESULT CoRevokeClassObject(DWORD cookie);
// REGDB_E_CLASSNOTREG when no class object of that CLSID is registered for a context in `context` (and,
// for a context with CLSCTX_LOCAL_SERVER, the local-server route below finds none either).
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* reserved, REFIID riid, void** ppv);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);

// Cuts an object of this layer off from every client (see ComObjectRoot::disconnect: a call held up in a
// client's sink is waited for a while, then let go) and tells the transport, which stops serving it. A
// foreign object has no connections to cut: S_OK.
HRESULT CoDisconnectObject(IUnknown* unknown, DWORD reserved);
// The transport's part of a disconnection (unexporting the object); one hook per process, null for none.
using DisconnectHook = void (*)(IUnknown* identity);
void setDisconnectHook(DisconnectHook hook);
// The transport's part of activation: the class object of a local server in another process, for a
// CLSID with no class object registered here. One hook per process, null for none.
using LocalServerHook = HRESULT (*)(REFCLSID clsid, REFIID riid, void** ppv);
void setLocalServerHook(LocalServerHook hook);

}  // namespace platform::com
