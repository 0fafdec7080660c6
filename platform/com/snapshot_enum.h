#pragma once

#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/com/interfaces.h"

namespace platform::com {

// An enumerator over a list taken when it was created (the platform's IEnumXxx pattern). Traits give
// the stored entry, what Next hands out, and how one entry is handed out. Clones share the list and
// start at the clone's position. Safe to call from several threads.
template <class EnumInterface, class Traits>
class SnapshotEnum final : public ComObject<EnumInterface> {
  public:
    using Stored = typename Traits::Stored;
    using Out = typename Traits::Out;
    using List = std::vector<Stored>;

    // Null when memory runs out; otherwise the enumerator with one reference for the caller.
    static EnumInterface* create(std::shared_ptr<const List> items, std::atomic<long>* liveCount,
                                 std::size_t position = 0) {
        auto* created = new (std::nothrow) SnapshotEnum(std::move(items), liveCount, position);
        if (!created) return nullptr;
        created->AddRef();
        return created;
    }

    HRESULT Next(ULONG celt, Out* out, ULONG* fetched) override {
        if (!out) return E_POINTER;
        std::lock_guard lock(lock_);
        ULONG n = 0;
        for (; n < celt && position_ < items_->size(); ++n, ++position_)
            Traits::copyOut((*items_)[position_], &out[n]);
        if (fetched) *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG celt) override {
        std::lock_guard lock(lock_);
        const std::size_t left = items_->size() - position_;
        position_ += celt < left ? celt : left;
        return celt <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        std::lock_guard lock(lock_);
        position_ = 0;
        return S_OK;
    }
    HRESULT Clone(EnumInterface** ppEnum) override {
        if (!ppEnum) return E_POINTER;
        std::size_t position;
        {
            std::lock_guard lock(lock_);
            position = position_;
        }
        *ppEnum = create(items_, liveCount_, position);
        return *ppEnum ? S_OK : E_OUTOFMEMORY;
    }

  private:
    SnapshotEnum(std::shared_ptr<const List> items, std::atomic<long>* liveCount, std::size_t position)
        : ComObject<EnumInterface>(liveCount),
          items_(std::move(items)),
          position_(position),
          liveCount_(liveCount) {}

    std::shared_ptr<const List> items_;
    std::mutex lock_;
    std::size_t position_;
    std::atomic<long>* liveCount_;
};

struct ConnectionTraits {
    struct Stored {
        ComPtr<IUnknown> sink;
        DWORD cookie;
    };
    using Out = CONNECTDATA;
    static void copyOut(const Stored& from, CONNECTDATA* to) {
        to->pUnk = from.sink.get();
        if (to->pUnk) to->pUnk->AddRef();
        to->dwCookie = from.cookie;
    }
};
using ConnectionEnum = SnapshotEnum<IEnumConnections, ConnectionTraits>;

struct ConnectionPointTraits {
    using Stored = ComPtr<IConnectionPoint>;
    using Out = IConnectionPoint*;
    static void copyOut(const Stored& from, IConnectionPoint** to) {
        *to = from.get();
        if (*to) (*to)->AddRef();
    }
};
using ConnectionPointEnum = SnapshotEnum<IEnumConnectionPoints, ConnectionPointTraits>;

}  // namespace platform::com
