#include "platform/com/connection_point.h"

#include <memory>

#include "platform/com/snapshot_enum.h"

namespace platform::com {

ConnectionPoint::ConnectionPoint(IConnectionPointContainer* container, ComObjectRoot* owner,
                                 const IID& sinkIid, std::atomic<long>* liveCount)
    : container_(container), owner_(owner), sinkIid_(sinkIid), liveCount_(liveCount) {}

ConnectionPoint::~ConnectionPoint() { clear(); }

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IConnectionPoint) return E_NOINTERFACE;
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

ULONG ConnectionPoint::AddRef() { return container_->AddRef(); }
ULONG ConnectionPoint::Release() { return container_->Release(); }

HRESULT ConnectionPoint::GetConnectionInterface(IID* pIID) {
    auto call = owner_->enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!pIID) return E_POINTER;
    *pIID = sinkIid_;
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
    auto call = owner_->enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!ppCPC) return E_POINTER;
    container_->AddRef();
    *ppCPC = container_;
    return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
    auto call = owner_->enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!pUnkSink || !pdwCookie) return E_POINTER;
    *pdwCookie = 0;
    ComPtr<IUnknown> sink;
    if (FAILED(pUnkSink->QueryInterface(sinkIid_, sink.putVoid())) || !sink) return CONNECT_E_CANNOTCONNECT;
    std::lock_guard lock(objectLock_);
    const DWORD cookie = sinks_.add(std::move(sink));
    if (cookie == 0) return CONNECT_E_ADVISELIMIT;
    *pdwCookie = cookie;
    return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD dwCookie) {
    auto call = owner_->enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    std::optional<ComPtr<IUnknown>> removed;
    {
        std::lock_guard lock(objectLock_);
        removed = sinks_.remove(dwCookie);
    }
    // The sink's reference goes here, outside the lock: its Release is the client's code.
    return removed ? S_OK : CONNECT_E_NOCONNECTION;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
    auto call = owner_->enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    auto list = std::make_shared<ConnectionEnum::List>();
    {
        std::lock_guard lock(objectLock_);
        for (const auto& [cookie, sink] : sinks_) list->push_back({sink, cookie});
    }
    *ppEnum = ConnectionEnum::create(std::move(list), liveCount_);
    return *ppEnum ? S_OK : E_OUTOFMEMORY;
}

std::size_t ConnectionPoint::sinkCount() const {
    std::lock_guard lock(objectLock_);
    return sinks_.size();
}

void ConnectionPoint::clear() {
    HandleTable<ComPtr<IUnknown>> dropped;
    {
        std::lock_guard lock(objectLock_);
        std::swap(dropped, sinks_);
    }
}

HRESULT enumConnectionPoints(std::vector<ComPtr<IConnectionPoint>> points, std::atomic<long>* liveCount,
                             IEnumConnectionPoints** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = ConnectionPointEnum::create(std::make_shared<ConnectionPointEnum::List>(std::move(points)),
                                          liveCount);
    return *ppEnum ? S_OK : E_OUTOFMEMORY;
}

}  // namespace platform::com
