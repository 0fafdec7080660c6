#include "ferrow/opc/item_properties.h"

#include <mutex>

#include "ferrow/model/cdoc.h"
#include "ferrow/model/locks.h"
#include "ferrow/model/tag.h"

namespace ferrow::opc {

using namespace platform::com;

TagSnapshot::TagSnapshot() { VariantInit(&value); }
TagSnapshot::~TagSnapshot() { VariantClear(&value); }

bool TagSnapshot::Load(std::string_view itemId, HRESULT* result) {
    *result = S_OK;
    std::lock_guard documentGuard(documentLock());
    CDoc* doc = CDoc::Live();
    OTag* tag = doc ? doc->FindItem(itemId) : nullptr;
    if (!tag) return false;
    canonical = tag->m_vtCanonical;
    description = tag->m_strDescription;
    if (const auto* qn = dynamic_cast<const OqnTag*>(tag)) output = qn->m_bOutput != 0;
    std::lock_guard valueGuard(valueLock());
    quality = tag->m_wQuality;
    timestamp = tag->m_ftTimestamp;
    *result = VariantCopy(&value, &tag->m_value);
    return true;
}

DATE timestampDate(const FILETIME& time) {
    WORD dosDate = 0, dosTime = 0;
    DATE date = 0;
    if (FileTimeToDosDateTime(time, &dosDate, &dosTime) && DosDateTimeToVariantTime(dosDate, dosTime, &date))
        return date;
    // Outside the DOS years (a tag that never had a value has time zero): the same 2-second step,
    // computed directly.
    constexpr std::uint64_t kTwoSeconds = 20'000'000;
    return dateFromFileTime(FILETIME::fromTicks(time.ticks() / kTwoSeconds * kTwoSeconds));
}

HRESULT readProperty(const TagSnapshot& tag, DWORD id, VARIANT* out) {
    VariantInit(out);
    switch (id) {
        case 1:
            out->vt = VT_I2;
            out->iVal = static_cast<std::int16_t>(tag.canonical);
            return S_OK;
        case 2:
            return VariantCopy(out, &tag.value);
        case 3:
            out->vt = VT_I2;
            out->iVal = static_cast<std::int16_t>(tag.quality);
            return S_OK;
        case 4:
            out->vt = VT_DATE;
            out->date = timestampDate(tag.timestamp);
            return S_OK;
        case 5:
            out->vt = VT_I4;
            out->lVal = static_cast<std::int32_t>(tag.output ? OPC_READABLE | OPC_WRITEABLE : OPC_READABLE);
            return S_OK;
        case 101:
            out->bstrVal = bstrFromAnsi(tag.description);
            if (!out->bstrVal) return E_OUTOFMEMORY;
            out->vt = VT_BSTR;
            return S_OK;
        default:
            return S_OK;
    }
}

}  // namespace ferrow::opc
