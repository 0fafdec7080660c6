#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/com/handle_table.h"
#include "platform/com/interfaces.h"

namespace platform::com {

// One outgoing interface of a container object: the sinks its clients advised, each held with one
// reference on the sink interface and known by a cookie from a handle table. It is part of its container:
// AddRef and Release are the container's, and its methods fail like the container's once that is
// disconnected. The sink list is guarded by the object lock; no lock is held while a sink is called.
class ConnectionPoint final : public IConnectionPoint {
  public:
    // `liveCount` is counted by the connection enumerators it creates.
    ConnectionPoint(IConnectionPointContainer* container, ComObjectRoot* owner, const IID& sinkIid,
                    std::atomic<long>* liveCount);
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;
    ~ConnectionPoint();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetConnectionInterface(IID* pIID) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    HRESULT Unadvise(DWORD dwCookie) override;
    HRESULT EnumConnections(IEnumConnections** ppEnum) override;

    const IID& sinkIid() const { return sinkIid_; }
    // The advised sinks at this moment, each with a reference of the caller's: call them without a lock.
    template <class Sink>
    std::vector<ComPtr<Sink>> sinks() const {
        std::vector<ComPtr<Sink>> out;
        std::lock_guard lock(objectLock_);
        out.reserve(sinks_.size());
        for (const auto& entry : sinks_) out.emplace_back(static_cast<Sink*>(entry.second.get()));
        return out;
    }
    std::size_t sinkCount() const;
    // Releases every sink (the container's teardown).
    void clear();

  private:
    IConnectionPointContainer* container_;
    ComObjectRoot* owner_;
    IID sinkIid_;
    std::atomic<long>* liveCount_;
    mutable std::mutex objectLock_;
    HandleTable<ComPtr<IUnknown>> sinks_;
};

// An IEnumConnectionPoints over `points` for a container's EnumConnectionPoints.
HRESULT enumConnectionPoints(std::vector<ComPtr<IConnectionPoint>> points, std::atomic<long>* liveCount,
                             IEnumConnectionPoints** ppEnum);

}  // namespace platform::com
