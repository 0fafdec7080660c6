#include "ferrow/opc/opc_group.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "ferrow/access/tag_registry.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "ferrow/model/locks.h"
#include "ferrow/opc/item_enum.h"
#include "ferrow/opc/object_count.h"
#include "ferrow/opc/opc_server.h"
#include "platform/com/safearray.h"
#include "platform/com/task_memory.h"

namespace ferrow::opc {

using namespace platform::com;

namespace {

// The tag of an item ID with a use of it, taken under the document lock; empty when it does not resolve.
TagRef resolveItem(LPCWSTR itemId) {
    CDoc* doc = CDoc::Live();
    if (!itemId || !doc) return {};
    return doc->AcquireItem(ansiFromWide(wideView(itemId)));
}

void fillResult(const OTag& tag, OPCHANDLE handle, OPCITEMRESULT* result) {
    result->hServer = handle;
    result->vtCanonicalDataType = tag.m_vtCanonical;
    result->wReserved = 0;
    result->dwAccessRights = accessRights(tag);
    result->dwBlobSize = 0;
    result->pBlob = nullptr;
}

bool anyFailed(DWORD count, const HRESULT* errors) {
    return std::any_of(errors, errors + count, [](HRESULT e) { return FAILED(e); });
}

}  // namespace

DWORD accessRights(const OTag& tag) {
    const auto* qn = dynamic_cast<const OqnTag*>(&tag);
    return qn && qn->m_bOutput ? OPC_READABLE | OPC_WRITEABLE : OPC_READABLE;
}

OpcGroup* OpcGroup::Create(std::shared_ptr<ServerCore> server) {
    return new (std::nothrow) OpcGroup(std::move(server));
}

OpcGroup::OpcGroup(std::shared_ptr<ServerCore> server)
    : ComObject(&objectCount),
      server_(std::move(server)),
      dataCallbackPoint_(this, this, IID_IOPCDataCallback, &objectCount) {}

void OpcGroup::Initialize(std::string name, BOOL active, DWORD requestedRate, OPCHANDLE clientHandle,
                          const LONG* timeBias, const float* percentDeadband, DWORD lcid) {
    std::lock_guard lock(groupLock_);
    name_ = std::move(name);
    active_ = active;
    ReviseUpdateRate(requestedRate);
    clientHandle_ = clientHandle;
    timeBias_ = timeBias ? *timeBias : 0;
    percentDeadband_ = percentDeadband ? *percentDeadband : 0.0f;
    lcid_ = lcid;
    // The passes run from creation on, whether the group is active or not.
    updates_.Start([this] { return scheduledPass(); });
}

void OpcGroup::ReviseUpdateRate(DWORD rate) {
    std::lock_guard lock(groupLock_);
    updateRate_ = rate < kMinUpdateRate ? kMinUpdateRate : rate;
}

void OpcGroup::OnActiveChanged(bool /*changed*/) {}

DWORD OpcGroup::updateRate() {
    std::lock_guard lock(groupLock_);
    return updateRate_;
}

void OpcGroup::teardown() {
    {
        std::lock_guard lock(server_->serverLock);
        std::erase(server_->removedGroups, this);
    }
    // The passes first, so that nothing registers tags again once the registrations are ended. When
    // the final release happened in a pass, that pass ends the job by itself. A pass inside a client's
    // sink is let go after a while: it holds a reference on the group.
    updates_.Stop(kTeardownWait);
    requests_.stop(kTeardownWait);

    if (subscriptionHandle_.load() != 0) endRegistrations();
    {
        std::lock_guard lock(groupLock_);
        watchedTags_.Clear();
        items_.clear();
        passItems_.clear();
        passItemsStale_ = true;
    }
    ComPtr<IAdviseSink> sinks[3];
    {
        std::lock_guard lock(adviseLock_);
        for (int slot = 0; slot < 3; ++slot) sinks[slot] = std::move(adviseSinks_[slot]);
    }
    dataCallbackPoint_.clear();
}

void OpcGroup::endRegistrations() {
    std::vector<std::pair<ODevice*, std::string>> held;
    {
        std::lock_guard lock(groupLock_);
        held = watchedTags_.TakeHolds();
    }
    access::TagRegistry::Shared().Release(held);
}

// ---- IOPCGroupStateMgt

HRESULT OpcGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                           float* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                           OPCHANDLE* phServerGroup) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    if (ppName) {
        std::lock_guard lock(server_->serverLock);
        *ppName = taskStringFromAnsi(name_);
        if (!*ppName) return E_OUTOFMEMORY;
    }
    std::lock_guard lock(groupLock_);
    if (pUpdateRate) *pUpdateRate = updateRate_;
    if (pActive) *pActive = active_;
    if (pTimeBias) *pTimeBias = timeBias_;
    if (pPercentDeadband) *pPercentDeadband = percentDeadband_;
    if (pLCID) *pLCID = lcid_;
    if (phClientGroup) *phClientGroup = clientHandle_;
    if (phServerGroup) *phServerGroup = serverHandle_;
    return S_OK;
}

HRESULT OpcGroup::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                           LONG* pTimeBias, float* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!pRevisedUpdateRate) return E_POINTER;
    if (IsRemoved()) return E_FAIL;
    if (pPercentDeadband && !std::isfinite(*pPercentDeadband)) return E_INVALIDARG;
    HRESULT result = S_OK;
    bool changed = false;
    bool activated = false;
    {
        std::lock_guard lock(groupLock_);
        if (pRequestedUpdateRate) {
            ReviseUpdateRate(*pRequestedUpdateRate);
            if (updateRate_ != *pRequestedUpdateRate) result = OPC_S_UNSUPPORTEDRATE;
        }
        *pRevisedUpdateRate = updateRate_;
        if (pTimeBias) timeBias_ = *pTimeBias;
        if (pPercentDeadband) percentDeadband_ = *pPercentDeadband;
        if (pLCID) lcid_ = *pLCID;
        if (phClientGroup) clientHandle_ = *phClientGroup;
        if (pActive && *pActive != active_) {
            active_ = *pActive;
            changed = true;
            activated = active_ != 0;
            if (!activated)
                for (auto& [handle, item] : items_) item->cachedQuality = kQualityOutOfService;
        }
    }
    if (activated) {
        // The pending changes reach the client before SetState returns, on its own thread.
        sendPending_ = true;
        SendDataChange();
    } else {
        OnActiveChanged(changed);
    }
    return result;
}

HRESULT OpcGroup::SetName(LPCWSTR szName) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    if (!szName) return E_POINTER;
    std::string name = ansiFromWide(wideView(szName));
    std::lock_guard lock(server_->serverLock);
    if (name == name_) return S_OK;
    if (!server_->owner) return E_FAIL;
    if (server_->owner->GroupNameTaken(name)) return OPC_E_DUPLICATENAME;
    name_ = std::move(name);
    return S_OK;
}

HRESULT OpcGroup::CloneGroup(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) {
    // Declared before the call guard, so released after it: if this is the server's last reference, its
    // teardown disconnects this group, which waits for the calls inside it.
    ComPtr<IOPCServer> server;
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    {
        std::lock_guard lock(server_->serverLock);
        if (server_->owner && server_->owner->tryAddRef()) server = ComPtr<IOPCServer>::adopt(server_->owner);
    }
    if (!server) return E_FAIL;
    DWORD rate;
    OPCHANDLE clientHandle;
    LONG timeBias;
    float deadband;
    DWORD lcid;
    {
        std::lock_guard lock(groupLock_);
        rate = updateRate_;
        clientHandle = clientHandle_;
        timeBias = timeBias_;
        deadband = percentDeadband_;
        lcid = lcid_;
    }
    DWORD revised = 0;
    return server->AddGroup(szName, 0, rate, clientHandle, &timeBias, &deadband, lcid, nullptr, &revised,
                            riid, ppUnk);
}

// ---- IOPCItemMgt

// The frame of the handle-list methods: checks, the error array, the validity pass, the per-item work.
template <class Work>
HRESULT OpcGroup::ForHandles(DWORD count, const OPCHANDLE* handles, const void* values, HRESULT** ppErrors,
                             Work work) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    if (!handles || !values || !ppErrors) return E_POINTER;
    *ppErrors = nullptr;
    TaskPtr<HRESULT> errors(taskArray<HRESULT>(count));
    if (!errors) return E_OUTOFMEMORY;
    for (DWORD i = 0; i < count; ++i) errors[i] = IsValidItem(handles[i]) ? S_OK : OPC_E_INVALIDHANDLE;
    const HRESULT r = work(errors.get());
    if (FAILED(r)) return r;
    const bool failed = anyFailed(count, errors.get());
    *ppErrors = errors.release();
    return failed ? S_FALSE : S_OK;
}

// The frame of AddItems and ValidateItems: checks, both result arrays, the per-item work.
template <class Work>
HRESULT OpcGroup::ForDefinitions(DWORD count, const OPCITEMDEF* defs, OPCITEMRESULT** ppResults,
                                 HRESULT** ppErrors, Work work) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    if (!defs || !ppResults || !ppErrors) return E_POINTER;
    *ppResults = nullptr;
    *ppErrors = nullptr;
    TaskPtr<OPCITEMRESULT> results(taskArray<OPCITEMRESULT>(count));
    TaskPtr<HRESULT> errors(taskArray<HRESULT>(count));
    if (!results || !errors) return E_OUTOFMEMORY;
    const HRESULT r = work(results.get(), errors.get());
    if (FAILED(r)) return r;
    const bool failed = anyFailed(count, errors.get());
    *ppResults = results.release();
    *ppErrors = errors.release();
    return failed ? S_FALSE : S_OK;
}

HRESULT OpcGroup::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                           HRESULT** ppErrors) {
    return ForDefinitions(dwCount, pItemArray, ppAddResults, ppErrors,
                          [&](OPCITEMRESULT* results, HRESULT* errors) {
                              return DoAddItems(dwCount, pItemArray, results, errors);
                          });
}

HRESULT OpcGroup::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL /*bBlobUpdate*/,
                                OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) {
    return ForDefinitions(dwCount, pItemArray, ppValidationResults, ppErrors,
                          [&](OPCITEMRESULT* results, HRESULT* errors) {
                              return DoValidateItems(dwCount, pItemArray, results, errors);
                          });
}

HRESULT OpcGroup::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
    return ForHandles(dwCount, phServer, phServer, ppErrors,
                      [&](HRESULT* errors) { return DoRemoveItems(dwCount, phServer, errors); });
}

HRESULT OpcGroup::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) {
    return ForHandles(dwCount, phServer, phServer, ppErrors,
                      [&](HRESULT* errors) { return DoSetActiveState(dwCount, phServer, bActive, errors); });
}

HRESULT OpcGroup::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                   HRESULT** ppErrors) {
    return ForHandles(dwCount, phServer, phClient, ppErrors, [&](HRESULT* errors) {
        return DoSetClientHandles(dwCount, phServer, phClient, errors);
    });
}

HRESULT OpcGroup::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                               HRESULT** ppErrors) {
    return ForHandles(dwCount, phServer, pRequestedDatatypes, ppErrors, [&](HRESULT* errors) {
        return DoSetDatatypes(dwCount, phServer, pRequestedDatatypes, errors);
    });
}

HRESULT OpcGroup::CreateEnumerator(REFIID riid, IUnknown** ppUnk) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    if (!ppUnk) return E_POINTER;
    *ppUnk = nullptr;
    IEnumOPCItemAttributes* items = CreateItemEnum();
    if (!items) return E_OUTOFMEMORY;
    const HRESULT r = items->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    items->Release();
    return r;
}

// ---- the per-item work

HRESULT OpcGroup::DoAddItems(DWORD count, const OPCITEMDEF* defs, OPCITEMRESULT* results, HRESULT* errors) {
    for (DWORD i = 0; i < count; ++i) {
        const OPCITEMDEF& def = defs[i];
        // Resolved with no lock of ours held; the use taken keeps the tag alive from here on.
        TagRef tag = resolveItem(def.szItemID);
        if (!tag) {
            errors[i] = OPC_E_UNKNOWNITEMID;
            continue;
        }
        std::unique_ptr<OpcItem> item(new (std::nothrow) OpcItem());
        if (!item) {
            errors[i] = E_OUTOFMEMORY;
            continue;
        }
        item->active = def.bActive;
        item->clientHandle = def.hClient;
        item->requestedType =
            def.vtRequestedDataType == VT_EMPTY ? tag->m_vtCanonical : def.vtRequestedDataType;
        item->device = tag->m_pGroup ? tag->m_pGroup->GetDevice() : nullptr;
        item->tag = std::move(tag);
        OpcItem* raw = item.get();

        std::lock_guard lock(groupLock_);
        OPCHANDLE handle = 0;
        try {
            raw->changedInPass = passNumbers_.current();
            if (raw->active) {
                // Reported in the next pass with what the tag holds now, even should that pass have
                // compared its items before this one arrived.
                std::lock_guard values(valueLock());
                const OTag& source = *raw->tag.get();
                if (SUCCEEDED(VariantCopy(&raw->cachedValue, &source.m_value))) {
                    raw->cachedQuality = source.m_wQuality;
                    raw->cachedTimestamp = source.m_ftTimestamp;
                }
            }
            handle = items_.add(std::move(item));
            passItemsStale_ = true;
            if (handle != 0 && raw->active) Subscribe(*raw);
        } catch (const std::bad_alloc&) {
            if (handle != 0) items_.remove(handle);
            handle = 0;
        }
        if (handle == 0) {
            errors[i] = E_OUTOFMEMORY;
            continue;
        }
        fillResult(*raw->tag.get(), handle, &results[i]);
        errors[i] = S_OK;
    }
    return S_OK;
}

HRESULT OpcGroup::DoValidateItems(DWORD count, const OPCITEMDEF* defs, OPCITEMRESULT* results,
                                  HRESULT* errors) {
    for (DWORD i = 0; i < count; ++i) {
        const TagRef tag = resolveItem(defs[i].szItemID);
        if (!tag) {
            errors[i] = OPC_E_UNKNOWNITEMID;
            continue;
        }
        fillResult(*tag.get(), 0, &results[i]);
        errors[i] = S_OK;
    }
    return S_OK;
}

HRESULT OpcGroup::DoRemoveItems(DWORD count, const OPCHANDLE* handles, HRESULT* errors) {
    std::lock_guard lock(groupLock_);
    for (DWORD i = 0; i < count; ++i) {
        if (FAILED(errors[i])) continue;
        std::optional<std::unique_ptr<OpcItem>> item = items_.remove(handles[i]);
        if (!item) {
            errors[i] = OPC_E_INVALIDHANDLE;
            continue;
        }
        passItemsStale_ = true;
        if ((*item)->active) Unsubscribe(**item);
    }
    return S_OK;
}

HRESULT OpcGroup::DoSetActiveState(DWORD count, const OPCHANDLE* handles, BOOL active, HRESULT* errors) {
    std::lock_guard lock(groupLock_);
    if (!active)
        for (DWORD i = 0; i < count; ++i)
            if (SUCCEEDED(errors[i]))
                if (auto* item = items_.find(handles[i])) (*item)->cachedQuality = kQualityOutOfService;
    for (DWORD i = 0; i < count; ++i) {
        if (FAILED(errors[i])) continue;
        auto* found = items_.find(handles[i]);
        if (!found) {
            errors[i] = OPC_E_INVALIDHANDLE;
            continue;
        }
        OpcItem& item = **found;
        if ((item.active != 0) == (active != 0)) continue;
        if (active) {
            try {
                Subscribe(item);
            } catch (const std::bad_alloc&) {
                errors[i] = E_OUTOFMEMORY;
                continue;
            }
        } else {
            Unsubscribe(item);
        }
        item.active = active;
    }
    return S_OK;
}

HRESULT OpcGroup::DoSetClientHandles(DWORD count, const OPCHANDLE* handles, const OPCHANDLE* clients,
                                     HRESULT* errors) {
    std::lock_guard lock(groupLock_);
    for (DWORD i = 0; i < count; ++i) {
        if (FAILED(errors[i])) continue;
        if (auto* item = items_.find(handles[i]))
            (*item)->clientHandle = clients[i];
        else
            errors[i] = OPC_E_INVALIDHANDLE;
    }
    return S_OK;
}

HRESULT OpcGroup::DoSetDatatypes(DWORD count, const OPCHANDLE* handles, const VARTYPE* types,
                                 HRESULT* errors) {
    std::lock_guard lock(groupLock_);
    for (DWORD i = 0; i < count; ++i) {
        if (FAILED(errors[i])) continue;
        if (auto* item = items_.find(handles[i]))
            (*item)->requestedType = types[i] == VT_EMPTY ? VARTYPE(VT_R8) : types[i];
        else
            errors[i] = OPC_E_INVALIDHANDLE;
    }
    return S_OK;
}

bool OpcGroup::IsValidItem(OPCHANDLE handle) {
    std::lock_guard lock(groupLock_);
    return items_.find(handle) != nullptr;
}

IEnumOPCItemAttributes* OpcGroup::CreateItemEnum() { return ItemAttributeEnum::Create(this); }

}  // namespace ferrow::opc
