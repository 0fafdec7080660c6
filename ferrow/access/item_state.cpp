#include "ferrow/access/item_state.h"

#include <cmath>

namespace ferrow::access {

using namespace platform::com;

ItemState::ItemState() {
    VariantInit(&cachedValue);
    cachedTimestamp = currentFileTime();
}

ItemState::~ItemState() { VariantClear(&cachedValue); }

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

}  // namespace ferrow::access
