// The group's update passes and its data-change pass: tag changes taken over into the items, then
// delivered to the version 2.0 data callbacks and the version 1.0 DATA and DATATIME advise sinks.

#include <algorithm>
#include <chrono>

#include "ferrow/access/tag_registry.h"
#include "ferrow/model/device.h"
#include "ferrow/model/locks.h"
#include "ferrow/opc/data_stream.h"
#include "ferrow/opc/object_count.h"
#include "ferrow/opc/opc_group.h"
#include "ferrow/opc/opc_server.h"

namespace ferrow::opc {

using namespace platform::com;

namespace {

bool qualityIsGood(WORD quality) { return (quality & OPC_QUALITY_MASK) == OPC_QUALITY_MASK; }

FORMATETC streamFormatEtc(UINT format) {
    return FORMATETC{static_cast<CLIPFORMAT>(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
}

}  // namespace

const StreamFormats& streamFormats() {
    static const StreamFormats formats{RegisterClipboardFormatA(kStreamFormatData),
                                       RegisterClipboardFormatA(kStreamFormatDataTime),
                                       RegisterClipboardFormatA(kStreamFormatWriteComplete)};
    return formats;
}

// ---- callback values

CallbackArrays::~CallbackArrays() {
    for (VARIANT& value : values) VariantClear(&value);
}

void CallbackArrays::reserve(std::size_t n) {
    handles.reserve(n);
    values.reserve(n);
    qualities.reserve(n);
    timestamps.reserve(n);
    errors.reserve(n);
}

void CallbackArrays::add(const OpcItem& item) {
    VARIANT value;
    VariantInit(&value);
    HRESULT error = S_OK;
    if (item.cachedValue.vt & VT_ARRAY)
        error = VariantCopy(&value, &item.cachedValue);
    else if (qualityIsGood(item.cachedQuality))
        error = VariantChangeType(&value, &item.cachedValue, 0, item.requestedType);
    try {
        values.push_back(value);
    } catch (...) {
        VariantClear(&value);
        throw;
    }
    handles.push_back(item.clientHandle);
    qualities.push_back(item.cachedQuality);
    timestamps.push_back(item.cachedTimestamp);
    errors.push_back(error);
}

HRESULT CallbackArrays::masterQuality() const {
    for (WORD quality : qualities)
        if (quality != OPC_QUALITY_GOOD) return S_FALSE;
    return S_OK;
}

HRESULT CallbackArrays::masterError() const {
    return std::all_of(errors.begin(), errors.end(), [](HRESULT error) { return error == S_OK; }) ? S_OK
                                                                                                  : S_FALSE;
}

// ---- the update passes

std::optional<std::chrono::milliseconds> OpcGroup::scheduledPass() {
    // A teardown on another thread waits for this pass (it stops the job first), so the group lives
    // while the pass runs. An inactive group has nothing to deliver: its pass ends here.
    {
        std::lock_guard lock(groupLock_);
        if (!active_) return std::chrono::milliseconds(updateRate_);
    }
    // A delivering pass holds a reference, so a client that lets go of the group in a callback does not
    // pull it away under the pass; the final release may then happen here, and nothing is touched after
    // it. Without a reference to take (not handed out yet, or in its final release, whose teardown
    // waits for this pass) the pass is skipped.
    if (!tryAddRef()) return std::chrono::milliseconds(updateRate());
    bool keepRunning = true;
    try {
        keepRunning = updatePass();
    } catch (const std::bad_alloc&) {
        // Out of memory for this pass's copies: the changes stay flagged for the next one.
    }
    const DWORD rate = updateRate();
    // A teardown that ran on this thread during the pass (a sink let go of the server) has ended the
    // job: after the release below nothing may be touched.
    keepRunning = keepRunning && updates_.running();
    if (release() == 0 || !keepRunning) return std::nullopt;
    return std::chrono::milliseconds(rate);
}

bool OpcGroup::updatePass() {
    if (!updates_.running()) return false;
    bool active;
    {
        std::lock_guard lock(groupLock_);
        active = active_ != 0;
    }
    if (!active) return true;
    bool changed = UpdateFromTags();
    if (!changed) {
        std::lock_guard lock(groupLock_);
        for (const auto& [handle, item] : items_)
            if (item->changed) {
                changed = true;
                break;
            }
    }
    if (changed) {
        sendPending_ = true;
        SendDataChange();
        std::lock_guard lock(server_->serverLock);
        server_->lastUpdateTime = currentFileTime();
    }
    return true;
}

bool OpcGroup::UpdateFromTags() {
    if (subscriptionHandle_.load() == 0) subscriptionHandle_ = access::TagRegistry::kHandle;

    // The group holds the registrations of the tags its active items have had, until it ends; the
    // registry sends what a device is missing, without the group lock (each is a device exchange). The
    // uses taken keep the devices alive should their items be removed meanwhile.
    access::TagRegistry& registry = access::TagRegistry::Shared();
    std::vector<TagRef> devices;
    {
        std::lock_guard lock(groupLock_);
        devices = watchedTags_.HoldAdded(registry);
    }
    registry.Sync(devices);

    bool anyChanged = false;
    std::lock_guard lock(groupLock_);
    const float deadband = percentDeadband_;
    if (passItemsStale_) {
        passItems_.clear();
        passItems_.reserve(items_.size());
        for (auto& [itemHandle, item] : items_) passItems_.push_back(item.get());
        passItemsStale_ = false;
    }
    const std::uint64_t pass = passNumbers_.current();
    // The value lock is taken for a run of items at a time: once per item costs more than the
    // comparisons, and a run is short enough not to hold up the device links storing their pushes.
    constexpr std::size_t kItemsPerLock = 64;
    for (std::size_t first = 0; first < passItems_.size(); first += kItemsPerLock) {
        const std::size_t end = std::min(passItems_.size(), first + kItemsPerLock);
        std::lock_guard values(valueLock());
        for (std::size_t i = first; i < end; ++i) {
            OpcItem& item = *passItems_[i];
            if (item.active && access::TakeOver(item, *item.tag.get(), deadband, pass)) anyChanged = true;
        }
    }
    return anyChanged;
}

std::vector<const OpcItem*> OpcGroup::changedActiveItems() {
    std::vector<const OpcItem*> changed;
    for (const auto& [handle, item] : items_)
        if (item->changed && item->active) changed.push_back(item.get());
    return changed;
}

HRESULT OpcGroup::SendDataChange() {
    // Looked at before waiting: a pass that ends while this one waits clears the flag, but this pass was
    // asked for and still runs. One that waits in vain gives up: the pass that holds it up, or the next,
    // reports the same items.
    if (!sendPending_) return S_OK;
    SendGate::Turn turn(sendGate_, kSendWait);
    if (!turn.entered()) return S_OK;

    HRESULT result = S_OK;
    std::uint64_t pass;
    const bool callbacksEnabled = callbacksEnabled_;
    if (callbacksEnabled) {
        CallbackArrays arrays;
        OPCHANDLE clientGroup;
        {
            std::lock_guard lock(groupLock_);
            const std::vector<const OpcItem*> changed = changedActiveItems();
            if (changed.empty()) return S_OK;
            arrays.reserve(changed.size());
            for (const OpcItem* item : changed) arrays.add(*item);
            pass = passNumbers_.beginDelivery();
            clientGroup = clientHandle_;
        }
        // Each sink is a client of its own: one that answers a failure keeps no other from hearing.
        for (const auto& sink : dataCallbackPoint_.sinks<IOPCDataCallback>()) {
            const HRESULT answered =
                sink->OnDataChange(0, clientGroup, arrays.masterQuality(), arrays.masterError(),
                                   arrays.count(), arrays.handles.data(), arrays.values.data(),
                                   arrays.qualities.data(), arrays.timestamps.data(), arrays.errors.data());
            if (answered != S_OK) result = answered;
        }
    } else {
        std::lock_guard lock(groupLock_);
        pass = passNumbers_.beginDelivery();
    }

    const StreamFormats& formats = streamFormats();
    for (const UINT format : {formats.data, formats.dataTime}) {
        ComPtr<IAdviseSink> sink = adviseSink(format);
        if (!sink) continue;
        STGMEDIUM medium{};
        std::size_t items = 0;
        const HRESULT built = buildStream(format == formats.dataTime, &medium, 0, pass, &items);
        if (FAILED(built)) return built;
        result = built;
        // With the callbacks on, an empty stream means a pass entered again from a sink has sent these
        // items already. With them off, the 1.0 sinks hear of every pass, even one without a changed
        // active item.
        if (items == 0 && callbacksEnabled) {
            ReleaseStgMedium(&medium);
            continue;
        }
        sendStreamToSink(format, sink.get(), medium);
    }

    {
        // Changes flagged while this pass was delivering belong to the next one.
        std::lock_guard lock(groupLock_);
        for (auto& [handle, item] : items_) item->Delivered(pass);
    }
    sendPending_ = false;
    return result;
}

// ---- version 1.0 streams

HRESULT OpcGroup::BuildDataStream(STGMEDIUM* medium, DWORD transactionId) {
    return buildStream(false, medium, transactionId, kEveryPass);
}

HRESULT OpcGroup::BuildDataTimeStream(STGMEDIUM* medium, DWORD transactionId) {
    return buildStream(true, medium, transactionId, kEveryPass);
}

HRESULT OpcGroup::buildStream(bool withTime, STGMEDIUM* medium, DWORD transactionId, std::uint64_t upToPass,
                              std::size_t* itemCount) {
    std::vector<StreamItem> items;
    std::vector<VARIANT> converted;
    HGLOBAL block = nullptr;
    HRESULT result;
    {
        std::lock_guard lock(groupLock_);
        std::vector<const OpcItem*> changed = changedActiveItems();
        std::erase_if(changed, [upToPass](const OpcItem* item) { return item->changedInPass > upToPass; });
        items.reserve(changed.size());
        converted.reserve(changed.size());
        for (const OpcItem* item : changed) {
            // The stream carries the value in the client's type where it converts, else as it is.
            VARIANT& copy = converted.emplace_back();
            VariantInit(&copy);
            const VARIANT* written = &item->cachedValue;
            HRESULT error = S_OK;
            if (!(item->cachedValue.vt & VT_ARRAY) && qualityIsGood(item->cachedQuality)) {
                error = VariantChangeType(&copy, &item->cachedValue, 0, item->requestedType);
                if (SUCCEEDED(error)) written = &copy;
            }
            items.push_back(
                StreamItem{item->clientHandle, item->cachedQuality, item->cachedTimestamp, written, error});
        }
        result = WriteDataStream(withTime ? StreamFormat::DataTime : StreamFormat::Data, clientHandle_,
                                 transactionId, items, &block);
    }
    if (itemCount) *itemCount = items.size();
    for (VARIANT& value : converted) VariantClear(&value);
    if (FAILED(result)) return result;
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = block;
    medium->pUnkForRelease = nullptr;
    return S_OK;
}

void OpcGroup::sendStreamToSink(UINT format, IAdviseSink* sink, STGMEDIUM& medium) {
    FORMATETC formatEtc = streamFormatEtc(format);
    if (sink) sink->OnDataChange(&formatEtc, &medium);
    ReleaseStgMedium(&medium);
}

ComPtr<IAdviseSink> OpcGroup::adviseSink(UINT format) {
    const StreamFormats& formats = streamFormats();
    std::lock_guard lock(adviseLock_);
    if (format == formats.data) return adviseSinks_[0];
    if (format == formats.dataTime) return adviseSinks_[1];
    if (format == formats.writeComplete) return adviseSinks_[2];
    return {};
}

// ---- IDataObject

HRESULT OpcGroup::GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    if (!pformatetcIn || !pmedium) return E_INVALIDARG;
    const HRESULT query = QueryGetData(pformatetcIn);
    if (FAILED(query)) return query;
    return pformatetcIn->cfFormat == streamFormats().data ? BuildDataStream(pmedium, 0)
                                                          : BuildDataTimeStream(pmedium, 0);
}

HRESULT OpcGroup::GetDataHere(FORMATETC*, STGMEDIUM*) { return notImplemented(); }

HRESULT OpcGroup::QueryGetData(FORMATETC* pformatetc) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    if (!pformatetc) return E_POINTER;
    if (pformatetc->tymed != TYMED_HGLOBAL) return DV_E_TYMED;
    const StreamFormats& formats = streamFormats();
    if (pformatetc->cfFormat != formats.data && pformatetc->cfFormat != formats.dataTime)
        return DV_E_FORMATETC;
    return S_OK;
}

HRESULT OpcGroup::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) { return notImplemented(); }
HRESULT OpcGroup::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return notImplemented(); }
HRESULT OpcGroup::EnumFormatEtc(DWORD, IEnumFORMATETC**) { return notImplemented(); }
HRESULT OpcGroup::EnumDAdvise(IEnumSTATDATA**) { return notImplemented(); }

HRESULT OpcGroup::notImplemented() {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    return IsRemoved() ? E_FAIL : E_NOTIMPL;
}

HRESULT OpcGroup::DAdvise(FORMATETC* pformatetc, DWORD /*advf*/, IAdviseSink* pAdvSink,
                          DWORD* pdwConnection) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    if (!pformatetc || !pAdvSink || !pdwConnection) return E_POINTER;
    if (pformatetc->dwAspect != DVASPECT_CONTENT || pformatetc->ptd || pformatetc->tymed != TYMED_HGLOBAL ||
        pformatetc->lindex != -1)
        return E_FAIL;
    *pdwConnection = 0;
    const StreamFormats& formats = streamFormats();
    int slot;
    if (pformatetc->cfFormat == formats.data)
        slot = 0;
    else if (pformatetc->cfFormat == formats.dataTime)
        slot = 1;
    else if (pformatetc->cfFormat == formats.writeComplete)
        slot = 2;
    else
        return E_FAIL;
    {
        std::lock_guard lock(adviseLock_);
        if (adviseSinks_[slot]) return CONNECT_E_ADVISELIMIT;
    }
    // Asked without our lock: the sink may be a proxy to another process.
    IAdviseSink* sink = nullptr;
    const HRESULT queried = pAdvSink->QueryInterface(IID_IAdviseSink, reinterpret_cast<void**>(&sink));
    if (FAILED(queried)) return queried;
    ComPtr<IAdviseSink> held = ComPtr<IAdviseSink>::adopt(sink);
    {
        std::lock_guard lock(adviseLock_);
        if (adviseSinks_[slot]) return CONNECT_E_ADVISELIMIT;
        adviseSinks_[slot] = std::move(held);
    }
    *pdwConnection = pformatetc->cfFormat;
    return S_OK;
}

HRESULT OpcGroup::DUnadvise(DWORD dwConnection) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    const StreamFormats& formats = streamFormats();
    const UINT slots[3] = {formats.data, formats.dataTime, formats.writeComplete};
    ComPtr<IAdviseSink> released;
    {
        std::lock_guard lock(adviseLock_);
        for (int slot = 0; slot < 3; ++slot) {
            if (slots[slot] != dwConnection || !adviseSinks_[slot]) continue;
            released = std::move(adviseSinks_[slot]);
            break;
        }
    }
    // Released outside the lock: the last release of a remote sink talks to its process.
    return released ? S_OK : OLE_E_NOCONNECTION;
}

// ---- IConnectionPointContainer

HRESULT OpcGroup::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    return enumConnectionPoints({ComPtr<IConnectionPoint>(&dataCallbackPoint_)}, &objectCount, ppEnum);
}

HRESULT OpcGroup::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!ppCP) return E_POINTER;
    *ppCP = nullptr;
    if (riid != IID_IOPCDataCallback) return CONNECT_E_NOCONNECTION;
    dataCallbackPoint_.AddRef();
    *ppCP = &dataCallbackPoint_;
    return S_OK;
}

}  // namespace ferrow::opc
