#pragma once

#include <array>
#include <string>
#include <string_view>

#include "ferrow/opc/opc_interfaces.h"

namespace ferrow::opc {

// The six properties every tag has, in the order QueryAvailableProperties lists them. A type of
// VT_EMPTY stands for the tag's own canonical type.
struct ItemProperty {
    DWORD id;
    const char16_t* description;
    VARTYPE type;
};
inline constexpr std::array<ItemProperty, 6> kItemProperties{{
    {1, u"Item Canonical DataType", platform::com::VT_I2},
    {2, u"Item Value", platform::com::VT_EMPTY},
    {3, u"Item Quality", platform::com::VT_I2},
    {4, u"Item Timestamp", platform::com::VT_DATE},
    {5, u"Item Access Rights", platform::com::VT_I4},
    {101, u"Item Description", platform::com::VT_BSTR},
}};

// What the properties show of one tag, copied out while the document lock (and the value lock for the
// value, quality and timestamp) was held, so that no tag pointer outlives the look-up.
class TagSnapshot {
  public:
    TagSnapshot();
    ~TagSnapshot();
    TagSnapshot(const TagSnapshot&) = delete;
    TagSnapshot& operator=(const TagSnapshot&) = delete;

    // Resolves the item ID in the live document; false when it names no tag (or no document is open),
    // E_OUTOFMEMORY through `result` when the value could not be copied.
    bool Load(std::string_view itemId, HRESULT* result);

    VARTYPE canonical = platform::com::VT_EMPTY;
    VARIANT value;
    WORD quality = 0;
    FILETIME timestamp;
    bool output = false;
    std::string description;
};

// The value of property `id` into `out` (VT_EMPTY for an unknown ID); E_OUTOFMEMORY when a copy fails.
HRESULT readProperty(const TagSnapshot& tag, DWORD id, VARIANT* out);

// The timestamp as a DATE, through DOS date and time: 2-second steps, no time-zone shift.
platform::com::DATE timestampDate(const FILETIME& time);

}  // namespace ferrow::opc
