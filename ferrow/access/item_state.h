#pragma once

#include <cstdint>

#include "ferrow/model/tag.h"
#include "platform/com/filetime.h"
#include "platform/com/variant.h"

namespace ferrow::access {

// What a watch last took over from one tag for its client, and whether the client has still to hear
// of it. Guarded by the lock of the watch that holds it.
struct ItemState {
    ItemState();
    ~ItemState();
    ItemState(const ItemState&) = delete;
    ItemState& operator=(const ItemState&) = delete;

    // Flags the item for the client; `pass` is the watch's pass number at the time.
    void MarkChanged(std::uint64_t pass) {
        changed = 1;
        changedInPass = pass;
    }
    // After pass `pass` has delivered: clears the flag unless a later pass set it again meanwhile.
    void Delivered(std::uint64_t pass) {
        if (changed && changedInPass <= pass) changed = 0;
    }

    platform::com::VARIANT cachedValue;       // the value last taken over for the client
    std::uint16_t cachedQuality = 0;          // bad until the first value
    platform::com::FILETIME cachedTimestamp;  // the creation time until the first value
    int changed = 1;                          // reported in the watch's next pass
    std::uint64_t changedInPass = 0;          // the pass number when `changed` was last set
};

// The value test of a pass: whether the cached value already equals the tag's. Inline, as TakeOver: a
// pass makes both calls for every active item of a watch.
inline bool SameValue(const platform::com::VARIANT& cached, const platform::com::VARIANT& tag) {
    // A 16-bit unsigned value compares by its payload alone. The cached value must be one too: an item
    // that has never taken over a value (VT_EMPTY) would otherwise keep it for ever when the tag is 0.
    if (tag.vt == platform::com::VT_UI2)
        return cached.vt == platform::com::VT_UI2 && cached.uiVal == tag.uiVal;
    return platform::com::VariantEqual(cached, tag);
}
// The deadband test (percent of the tag's engineering range, for scaled analog tags only): whether a
// changed value is far enough from the cached one to be taken over.
bool OutsideDeadband(const platform::com::VARIANT& cached, const platform::com::VARIANT& tag,
                     float percentDeadband, const OTag& owner);
// Under the value lock: takes over the tag's value (when it changed beyond the deadband), quality and,
// for a flagged item, timestamp. True when the item is flagged changed afterwards.
inline bool TakeOver(ItemState& item, const OTag& tag, float percentDeadband, std::uint64_t pass) {
    if (!SameValue(item.cachedValue, tag.m_value) &&
        OutsideDeadband(item.cachedValue, tag.m_value, percentDeadband, tag)) {
        // A value that cannot be copied (memory) is tried again by the next pass.
        if (platform::com::SUCCEEDED(platform::com::VariantCopy(&item.cachedValue, &tag.m_value)))
            item.MarkChanged(pass);
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
