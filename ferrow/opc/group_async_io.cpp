// The group's asynchronous reads, writes and refreshes (versions 1.0 and 2.0): checked and queued on
// the client's thread, served by the group's request threads, completed through the advise sinks or
// the data callbacks.

#include <algorithm>
#include <optional>

#include "ferrow/opc/data_stream.h"
#include "ferrow/opc/opc_group.h"
#include "platform/com/task_memory.h"

namespace ferrow::opc {

using namespace platform::com;

namespace {

FORMATETC writeCompleteFormatEtc() {
    return FORMATETC{static_cast<CLIPFORMAT>(streamFormats().writeComplete), nullptr, DVASPECT_CONTENT, -1,
                     TYMED_HGLOBAL};
}

}  // namespace

// ---- IOPCAsyncIO

HRESULT OpcGroup::Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwNumItems, OPCHANDLE* phServer,
                       DWORD* pTransactionID, HRESULT** ppErrors) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    if (!phServer || !pTransactionID || !ppErrors) return E_INVALIDARG;
    if (!isKnownSource(dwSource)) return E_INVALIDARG;
    const StreamFormats& formats = streamFormats();
    if (dwConnection != formats.data && dwConnection != formats.dataTime) return E_INVALIDARG;
    if (!adviseSink(dwConnection)) return CONNECT_E_NOCONNECTION;
    return queueItemRequest(AsyncRequest::Kind::Read1, dwNumItems, phServer, nullptr, dwConnection, dwSource,
                            0, pTransactionID, ppErrors);
}

HRESULT OpcGroup::Write(DWORD dwConnection, DWORD dwNumItems, OPCHANDLE* phServer, VARIANT* pItemValues,
                        DWORD* pTransactionID, HRESULT** ppErrors) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    if (!phServer || !pItemValues || !pTransactionID || !ppErrors) return E_POINTER;
    const UINT format = streamFormats().writeComplete;
    if (dwConnection != format || !adviseSink(format)) return CONNECT_E_NOCONNECTION;
    return queueItemRequest(AsyncRequest::Kind::Write1, dwNumItems, phServer, pItemValues, format,
                            OPC_DS_DEVICE, 0, pTransactionID, ppErrors);
}

HRESULT OpcGroup::Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    {
        std::lock_guard lock(groupLock_);
        if (!active_) return E_FAIL;
    }
    if (!pTransactionID) return E_POINTER;
    const StreamFormats& formats = streamFormats();
    if (dwConnection != formats.data && dwConnection != formats.dataTime) return E_INVALIDARG;
    if (!isKnownSource(dwSource)) return E_INVALIDARG;
    if (!adviseSink(dwConnection)) return CONNECT_E_NOCONNECTION;
    auto request = std::unique_ptr<AsyncRequest>(new (std::nothrow) AsyncRequest);
    if (!request) return E_OUTOFMEMORY;
    request->kind = AsyncRequest::Kind::Refresh1;
    request->format = dwConnection;
    request->source = dwSource;
    return requests_.queue(std::move(request), pTransactionID);
}

HRESULT OpcGroup::Cancel(DWORD) { return notImplemented(); }

// ---- IOPCAsyncIO2

HRESULT OpcGroup::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                       HRESULT** ppErrors) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    if (!phServer || !pdwCancelID || !ppErrors) return E_INVALIDARG;
    return queueItemRequest(AsyncRequest::Kind::Read2, dwCount, phServer, nullptr, 0, OPC_DS_DEVICE,
                            dwTransactionID, pdwCancelID, ppErrors);
}

HRESULT OpcGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                        DWORD* pdwCancelID, HRESULT** ppErrors) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    if (!phServer || !pItemValues || !pdwCancelID || !ppErrors) return E_POINTER;
    return queueItemRequest(AsyncRequest::Kind::Write2, dwCount, phServer, pItemValues, 0, OPC_DS_DEVICE,
                            dwTransactionID, pdwCancelID, ppErrors);
}

HRESULT OpcGroup::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    {
        std::lock_guard lock(groupLock_);
        if (!active_) return E_FAIL;
    }
    if (!pdwCancelID) return E_POINTER;
    if (!isKnownSource(dwSource)) return E_INVALIDARG;
    auto request = std::unique_ptr<AsyncRequest>(new (std::nothrow) AsyncRequest);
    if (!request) return E_OUTOFMEMORY;
    request->kind = AsyncRequest::Kind::Refresh2;
    request->source = dwSource;
    request->transactionId = dwTransactionID;
    return requests_.queue(std::move(request), pdwCancelID);
}

HRESULT OpcGroup::Cancel2(DWORD) { return notImplemented(); }

HRESULT OpcGroup::SetEnable(BOOL bEnable) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    callbacksEnabled_ = bEnable;
    return S_OK;
}

HRESULT OpcGroup::GetEnable(BOOL* pbEnable) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    if (!pbEnable) return E_POINTER;
    *pbEnable = callbacksEnabled_;
    return S_OK;
}

// ---- queuing

HRESULT OpcGroup::queueItemRequest(AsyncRequest::Kind kind, DWORD count, const OPCHANDLE* handles,
                                   const VARIANT* values, UINT format, OPCDATASOURCE source,
                                   DWORD transactionId, DWORD* pId, HRESULT** ppErrors) {
    *ppErrors = nullptr;
    *pId = 0;
    TaskPtr<HRESULT> errors(taskArray<HRESULT>(count));
    if (!errors) return E_OUTOFMEMORY;
    bool anyInvalid = false;
    for (DWORD i = 0; i < count; ++i) {
        errors[i] = IsValidItem(handles[i]) ? S_OK : OPC_E_INVALIDHANDLE;
        anyInvalid = anyInvalid || FAILED(errors[i]);
    }
    // One invalid handle refuses the whole request.
    if (anyInvalid) {
        *ppErrors = errors.release();
        return S_FALSE;
    }
    auto request = std::unique_ptr<AsyncRequest>(new (std::nothrow) AsyncRequest);
    if (!request) return E_OUTOFMEMORY;
    try {
        request->kind = kind;
        request->format = format;
        request->source = source;
        request->transactionId = transactionId;
        request->handles.assign(handles, handles + count);
        request->errors.assign(count, S_OK);
        if (values) {
            request->values.reserve(count);
            for (DWORD i = 0; i < count; ++i) {
                VARIANT& copy = request->values.emplace_back();
                VariantInit(&copy);
                if (FAILED(VariantCopy(&copy, &values[i]))) return E_OUTOFMEMORY;
            }
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const HRESULT queued = requests_.queue(std::move(request), pId);
    if (FAILED(queued)) return queued;
    *ppErrors = errors.release();
    return S_OK;
}

// ---- serving a request

void OpcGroup::runRequest(AsyncRequest& request) {
    // A version 1.0 read or refresh completes with a stream of the changed items: an update pass between
    // marking them and the completion would deliver and clear them first. The gate held from marking to
    // completion keeps the pass out (the completion enters it again on this thread); a device read before
    // the marking does not hold it.
    std::optional<SendGate::Turn> streamTurn;
    auto holdGateUntilCompletion = [&] {
        if (request.isVersion1()) streamTurn.emplace(sendGate_, kSendWait);
    };
    switch (request.kind) {
        case AsyncRequest::Kind::Refresh1:
        case AsyncRequest::Kind::Refresh2: {
            // A group made inactive since the refresh was queued registers nothing with its devices.
            bool active;
            {
                std::lock_guard lock(groupLock_);
                active = active_ != 0;
            }
            if (active) UpdateFromTags();
            holdGateUntilCompletion();
            std::lock_guard lock(groupLock_);
            for (auto& [handle, item] : items_)
                if (item->active) markChanged(*item);
            break;
        }
        case AsyncRequest::Kind::Read1:
        case AsyncRequest::Kind::Read2: {
            const DWORD count = request.count();
            std::vector<OPCITEMSTATE> states(count);
            for (OPCITEMSTATE& state : states) VariantInit(&state.vDataValue);
            std::vector<HRESULT> errors(count, S_OK);
            ReadItems(request.source, count, request.handles.data(), states.data(), errors.data());
            holdGateUntilCompletion();
            {
                std::lock_guard lock(groupLock_);
                for (DWORD i = 0; i < count; ++i) {
                    auto* found = items_.find(request.handles[i]);
                    if (!found || FAILED(errors[i])) continue;
                    OpcItem& item = **found;
                    item.cachedQuality =
                        (!active_ || !item.active) ? OPC_QUALITY_OUT_OF_SERVICE : states[i].wQuality;
                    VariantClear(&item.cachedValue);
                    item.cachedValue = states[i].vDataValue;  // moved: the state no longer owns it
                    VariantInit(&states[i].vDataValue);
                    markChanged(item);
                }
            }
            for (OPCITEMSTATE& state : states) VariantClear(&state.vDataValue);
            break;
        }
        case AsyncRequest::Kind::Write1:
        case AsyncRequest::Kind::Write2:
            WriteItems(request.count(), request.handles.data(), request.values.data(), request.errors.data());
            break;
    }
    if (request.isVersion1())
        CompleteRequestDA1(request);
    else
        CompleteRequestDA2(request);
}

// ---- completions

void OpcGroup::CompleteRequestDA1(AsyncRequest& request) {
    // One delivery to the group's sinks at a time, as with the data-change passes; after a while a
    // completion goes out anyway rather than wait behind a sink that does not return.
    SendGate::Turn turn(sendGate_, kSendWait);
    const StreamFormats& formats = streamFormats();
    if (request.isWrite()) {
        std::vector<OPCHANDLE> clients(request.count(), 0);
        OPCHANDLE clientGroup;
        {
            std::lock_guard lock(groupLock_);
            clientGroup = clientHandle_;
            for (DWORD i = 0; i < request.count(); ++i)
                if (auto* found = items_.find(request.handles[i])) clients[i] = (*found)->clientHandle;
        }
        HGLOBAL block = nullptr;
        if (FAILED(WriteWriteCompleteStream(clientGroup, request.transactionId, clients, request.errors,
                                            &block)))
            return;
        STGMEDIUM medium{TYMED_HGLOBAL, block, nullptr};
        ComPtr<IAdviseSink> sink = adviseSink(formats.writeComplete);
        FORMATETC formatEtc = writeCompleteFormatEtc();
        if (sink) sink->OnDataChange(&formatEtc, &medium);
        ReleaseStgMedium(&medium);
        return;
    }
    STGMEDIUM medium{};
    const HRESULT built = request.format == formats.dataTime
                              ? BuildDataTimeStream(&medium, request.transactionId)
                              : BuildDataStream(&medium, request.transactionId);
    if (FAILED(built)) return;
    sendStreamToSink(request.format, adviseSink(request.format).get(), medium);
}

void OpcGroup::CompleteRequestDA2(AsyncRequest& request) {
    SendGate::Turn turn(sendGate_, kSendWait);
    OPCHANDLE clientGroup;
    if (request.isWrite()) {
        std::vector<OPCHANDLE> clients(request.count(), 0);
        {
            std::lock_guard lock(groupLock_);
            clientGroup = clientHandle_;
            for (DWORD i = 0; i < request.count(); ++i)
                if (auto* found = items_.find(request.handles[i])) clients[i] = (*found)->clientHandle;
        }
        const bool anyError =
            std::any_of(request.errors.begin(), request.errors.end(), [](HRESULT e) { return e != S_OK; });
        // A sink that answers a failure keeps no other from hearing, here and below.
        for (const auto& sink : dataCallbackPoint_.sinks<IOPCDataCallback>())
            sink->OnWriteComplete(request.transactionId, clientGroup, anyError ? S_FALSE : S_OK,
                                  request.count(), clients.data(), request.errors.data());
        return;
    }
    CallbackArrays arrays;
    {
        std::lock_guard lock(groupLock_);
        clientGroup = clientHandle_;
        if (request.isRead()) {
            arrays.reserve(request.count());
            for (DWORD i = 0; i < request.count(); ++i) {
                if (auto* found = items_.find(request.handles[i])) {
                    arrays.add(**found);
                    continue;
                }
                // Removed while the read was under way: reported as such rather than left out, so the
                // client's arrays still match its request.
                OpcItem gone;
                gone.changed = 0;
                arrays.add(gone);
                arrays.errors.back() = OPC_E_INVALIDHANDLE;
            }
        } else {
            for (const auto& [handle, item] : items_)
                if (item->active) arrays.add(*item);
        }
    }
    for (const auto& sink : dataCallbackPoint_.sinks<IOPCDataCallback>()) {
        static_cast<void>(
            request.isRead()
                ? sink->OnReadComplete(request.transactionId, clientGroup, arrays.masterQuality(),
                                       arrays.masterError(), arrays.count(), arrays.handles.data(),
                                       arrays.values.data(), arrays.qualities.data(),
                                       arrays.timestamps.data(), arrays.errors.data())
                : sink->OnDataChange(request.transactionId, clientGroup, arrays.masterQuality(),
                                     arrays.masterError(), arrays.count(), arrays.handles.data(),
                                     arrays.values.data(), arrays.qualities.data(), arrays.timestamps.data(),
                                     arrays.errors.data()));
    }
}

}  // namespace ferrow::opc
