// The item enumerator's steps over the group's item table.
#include "ferrow/model/device.h"
#include "ferrow/model/locks.h"
#include "ferrow/opc/item_enum.h"
#include "ferrow/opc/opc_group.h"
#include "platform/com/safearray.h"
#include "platform/com/task_memory.h"

namespace ferrow::opc {

using namespace platform::com;

// ---- the item enumerator's steps

HRESULT OpcGroup::NextItemAttributes(OPCHANDLE* position, OPCITEMATTRIBUTES* out) {
    // The item ID is made of names the window may change under the document lock: taken first.
    std::lock_guard document(documentLock());
    std::lock_guard lock(groupLock_);
    auto it = items_.after(*position);
    if (it == items_.end()) return S_FALSE;
    const OpcItem& item = *it->second;
    const OTag& tag = *item.tag.get();
    OPCITEMATTRIBUTES filled{};
    filled.szAccessPath = taskString(u"");
    filled.szItemID =
        taskStringFromAnsi((tag.m_pGroup ? tag.m_pGroup->GetPath() : std::string()) + tag.m_strName);
    if (!filled.szAccessPath || !filled.szItemID) {
        clearItemAttributes(&filled);
        return E_OUTOFMEMORY;
    }
    filled.bActive = item.active;
    filled.hClient = item.clientHandle;
    filled.hServer = it->first;
    filled.dwAccessRights = accessRights(tag);
    filled.vtRequestedDataType = item.requestedType;
    {
        std::lock_guard values(valueLock());
        filled.vtCanonicalDataType = tag.m_value.vt;
    }
    filled.dwEUType = OPC_NOENUM;
    VariantInit(&filled.vEUInfo);
    if (tag.m_bScaled && tag.m_pAnalog) {
        SAFEARRAY* range = SafeArrayCreateVector(VT_R8, 0, 2);
        if (!range) {
            clearItemAttributes(&filled);
            return E_OUTOFMEMORY;
        }
        const double limits[2] = {tag.m_pAnalog->m_dEuLow, tag.m_pAnalog->m_dEuHigh};
        for (std::int32_t i = 0; i < 2; ++i) SafeArrayPutElement(range, &i, &limits[i]);
        filled.dwEUType = OPC_ANALOG;
        filled.vEUInfo.vt = VT_ARRAY | VT_R8;
        filled.vEUInfo.parray = range;
    }
    *out = filled;
    *position = it->first;
    return S_OK;
}

bool OpcGroup::SkipItem(OPCHANDLE* position) {
    std::lock_guard lock(groupLock_);
    auto it = items_.after(*position);
    if (it == items_.end()) return false;
    *position = it->first;
    return true;
}

}  // namespace ferrow::opc
