#include "ferrow/access/item_state.h"

#include <cmath>

namespace ferrow::access {

using namespace platform::com;

ItemState::ItemState() {
    VariantInit(&cachedValue);
    cachedTimestamp = currentFileTime();
}

ItemState::~ItemState() { VariantClear(&cachedValue); }

bool SameValue(const VARIANT& cached, const VARIANT& tag) {
    // A 16-bit unsigned value compares by its payload alone. The cached value must be one too: an item
    // that has never taken over a value (VT_EMPTY) would otherwise keep it for ever when the tag is 0.
    if (tag.vt == VT_UI2) return cached.vt == VT_UI2 && cached.uiVal == tag.uiVal;
    return VariantEqual(cached, tag);
}

bool OutsideDeadband(const VARIANT& cached, const VARIANT& tag, float percentDeadband, const OTag& owner) {
    if (percentDeadband == 0.0f) return true;
    if (!owner.m_bScaled || !owner.m_pAnalog) return true;
    double before;
    double now;
    if (cached.vt == VT_R8 && tag.vt == VT_R8) {
        before = cached.dblVal;
        now = tag.dblVal;
    } else if (cached.vt == VT_R4 && tag.vt == VT_R4) {
        before = cached.fltVal;
        now = tag.fltVal;
    } else {
        return true;
    }
    const double range = owner.m_pAnalog->m_dEuHigh - owner.m_pAnalog->m_dEuLow;
    return std::fabs(before - now) > static_cast<double>(percentDeadband) * range * 0.01;
}

bool TakeOver(ItemState& item, const OTag& tag, float percentDeadband, std::uint64_t pass) {
    if (!SameValue(item.cachedValue, tag.m_value) &&
        OutsideDeadband(item.cachedValue, tag.m_value, percentDeadband, tag)) {
        // A value that cannot be copied (memory) is tried again by the next pass.
        if (SUCCEEDED(VariantCopy(&item.cachedValue, &tag.m_value))) item.MarkChanged(pass);
    }
    if (tag.m_wQuality != item.cachedQuality) {
        item.cachedQuality = tag.m_wQuality;
        item.MarkChanged(pass);
    }
    if (!item.changed) return false;
    item.cachedTimestamp = tag.m_ftTimestamp;
    return true;
}

}  // namespace ferrow::access
