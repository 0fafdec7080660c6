// The group's synchronous reads and writes, and the item reads and writes that the asynchronous
// requests share with them.

#include "ferrow/access/device_io.h"
#include "ferrow/model/device.h"
#include "ferrow/model/locks.h"
#include "ferrow/opc/error_text.h"
#include "ferrow/opc/opc_group.h"
#include "platform/com/task_memory.h"

namespace ferrow::opc {

using namespace platform::com;

namespace {

bool anyFailed(DWORD count, const HRESULT* errors) {
    for (DWORD i = 0; i < count; ++i)
        if (FAILED(errors[i])) return true;
    return false;
}

void clearStates(DWORD count, OPCITEMSTATE* states) {
    for (DWORD i = 0; i < count; ++i) VariantClear(&states[i].vDataValue);
}

// Under the value lock: the tag's timestamp, quality and value into the state.
// What a client hears of one item's write.
HRESULT writeError(access::WriteResult result) {
    switch (result) {
        case access::WriteResult::Written:
            return S_OK;
        case access::WriteResult::NotWritable:
            return OPC_E_BADRIGHTS;
        case access::WriteResult::Unconvertible:
            return OPC_E_BADTYPE;
        case access::WriteResult::OutOfRange:
            return OPC_E_RANGE;
        case access::WriteResult::NotConnected:
            return kDeviceNotConnected;
        case access::WriteResult::NoAnswer:
            return kDeviceNoAnswer;
        case access::WriteResult::Refused:
            return kDeviceRefused;
    }
    return E_FAIL;
}

HRESULT copyTagState(const OTag& tag, OPCITEMSTATE& state) {
    state.ftTimeStamp = tag.m_ftTimestamp;
    state.wQuality = tag.m_wQuality;
    state.wReserved = 0;
    return VariantCopy(&state.vDataValue, &tag.m_value);
}

}  // namespace

HRESULT OpcGroup::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                       OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    if (!phServer || !ppItemValues || !ppErrors) return E_POINTER;
    *ppItemValues = nullptr;
    *ppErrors = nullptr;
    if (!isKnownSource(dwSource)) return E_INVALIDARG;
    TaskPtr<OPCITEMSTATE> states(taskArray<OPCITEMSTATE>(dwCount));
    TaskPtr<HRESULT> errors(taskArray<HRESULT>(dwCount));
    if (!states || !errors) return E_OUTOFMEMORY;
    bool anyInvalid;
    if (dwSource == OPC_DS_CACHE) {
        // The client's usual read: checked, read and converted in one walk under the locks.
        anyInvalid = readFromCache(dwCount, phServer, states.get(), errors.get(), true);
    } else {
        for (DWORD i = 0; i < dwCount; ++i) errors[i] = IsValidItem(phServer[i]) ? S_OK : OPC_E_INVALIDHANDLE;
        const HRESULT read = ReadItems(dwSource, dwCount, phServer, states.get(), errors.get());
        if (FAILED(read)) {
            clearStates(dwCount, states.get());
            return read;
        }
        anyInvalid = anyFailed(dwCount, errors.get());
        std::lock_guard lock(groupLock_);
        for (DWORD i = 0; i < dwCount; ++i) {
            if (FAILED(errors[i])) continue;
            if (auto* found = items_.find(phServer[i]))
                errors[i] = convertForClient(**found, states[i].vDataValue);
        }
    }
    *ppItemValues = states.release();
    *ppErrors = errors.release();
    return anyInvalid ? S_FALSE : S_OK;
}

bool OpcGroup::readFromCache(DWORD count, const OPCHANDLE* handles, OPCITEMSTATE* states, HRESULT* errors,
                             bool convert) {
    bool anyFailedRead = false;
    std::lock_guard lock(groupLock_);
    std::lock_guard values(valueLock());
    for (DWORD i = 0; i < count; ++i) {
        if (FAILED(errors[i])) continue;
        auto* found = items_.find(handles[i]);
        if (!found) {
            errors[i] = OPC_E_INVALIDHANDLE;
            anyFailedRead = true;
            continue;
        }
        const OpcItem& item = **found;
        states[i].hClient = item.clientHandle;
        errors[i] = copyTagState(*item.tag.get(), states[i]);
        if (!active_ || !item.active) states[i].wQuality = OPC_QUALITY_OUT_OF_SERVICE;
        if (FAILED(errors[i]))
            anyFailedRead = true;
        else if (convert)
            errors[i] = convertForClient(item, states[i].vDataValue);
    }
    return anyFailedRead;
}

// The client's type where the item's cached quality is good; a failed conversion is that entry's error
// and does not change the result of the call.
HRESULT OpcGroup::convertForClient(const OpcItem& item, VARIANT& value) {
    if ((item.cachedQuality & OPC_QUALITY_MASK) != OPC_QUALITY_MASK || (value.vt & VT_ARRAY)) return S_OK;
    if (value.vt == item.requestedType) return S_OK;
    return VariantChangeType(&value, &value, 0, item.requestedType);
}

HRESULT OpcGroup::ReadItems(OPCDATASOURCE source, DWORD count, const OPCHANDLE* handles, OPCITEMSTATE* states,
                            HRESULT* errors) {
    if (source == OPC_DS_CACHE) {
        // One walk under both locks: a cache read never waits for a device.
        readFromCache(count, handles, states, errors, false);
        return S_OK;
    }
    for (DWORD i = 0; i < count; ++i) {
        if (FAILED(errors[i])) continue;
        TagRef tag;
        if (!itemTag(handles[i], &tag, &states[i].hClient, nullptr)) {
            errors[i] = OPC_E_INVALIDHANDLE;
            continue;
        }
        // The device exchange runs without our locks; a device that does not answer marks its tags
        // with a communication failure, which is what the read returns.
        access::ReadFromDevice(*tag.get());
        std::lock_guard values(valueLock());
        errors[i] = copyTagState(*tag.get(), states[i]);
    }
    return S_OK;
}

HRESULT OpcGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (IsRemoved()) return E_FAIL;
    if (!phServer || !pItemValues || !ppErrors) return E_POINTER;
    *ppErrors = nullptr;
    TaskPtr<HRESULT> errors(taskArray<HRESULT>(dwCount));
    if (!errors) return E_OUTOFMEMORY;
    for (DWORD i = 0; i < dwCount; ++i) errors[i] = IsValidItem(phServer[i]) ? S_OK : OPC_E_INVALIDHANDLE;
    const HRESULT written = WriteItems(dwCount, phServer, pItemValues, errors.get());
    if (FAILED(written)) return written;
    const bool failed = anyFailed(dwCount, errors.get());
    *ppErrors = errors.release();
    return failed ? S_FALSE : S_OK;
}

bool OpcGroup::itemTag(OPCHANDLE handle, TagRef* tag, OPCHANDLE* client, ODevice** device) {
    std::lock_guard lock(groupLock_);
    auto* found = items_.find(handle);
    if (!found) return false;
    *tag = (*found)->tag;
    if (client) *client = (*found)->clientHandle;
    if (device) *device = (*found)->device;
    return true;
}

HRESULT OpcGroup::WriteItems(DWORD count, const OPCHANDLE* handles, const VARIANT* values, HRESULT* errors) {
    for (DWORD i = 0; i < count; ++i) {
        if (FAILED(errors[i])) continue;
        TagRef tag;
        if (!itemTag(handles[i], &tag, nullptr, nullptr)) {
            errors[i] = OPC_E_INVALIDHANDLE;
            continue;
        }
        // The device exchange holds only the device's write lock, so a slow device holds up only writes
        // to it.
        const access::WriteResult result = access::WriteToDevice(*tag.get(), values[i]);
        errors[i] = writeError(result);
        if (result == access::WriteResult::Written) {
            std::lock_guard lock(groupLock_);
            if (auto* found = items_.find(handles[i])) markChanged(**found);
        }
    }
    return S_OK;
}

}  // namespace ferrow::opc
