#pragma once

#include <string>

#include "ferrow/cli/session.h"
#include "platform/com/filetime.h"
#include "platform/com/variant.h"

namespace ferrow::cli {

class JsonWriter;

// One item's value as read or reported by a data change. Owns its value.
struct ItemValue {
    ItemValue() { platform::com::VariantInit(&value); }
    ItemValue(const ItemValue&) = delete;
    ItemValue& operator=(const ItemValue&) = delete;
    ItemValue(ItemValue&& other) noexcept;
    ItemValue& operator=(ItemValue&& other) noexcept;
    ~ItemValue() { platform::com::VariantClear(&value); }

    std::string itemId;
    platform::com::VARIANT value;
    platform::com::WORD quality = 0;
    platform::com::FILETIME timestamp;
    HRESULT error = platform::com::S_OK;  // a failure of this item alone (a conversion, a handle)
};

// The line of read and watch: "2026-12-07T16:30:00.123 Dev.Level 2.5 good (0xC0)". Items whose error
// is set are reported on the error stream instead (Session::fail).
std::string itemLine(const ItemValue& item);
// The same as one JSON object: item, time, value, type, quality, qualityCode (and error).
void writeItemJson(Session& session, JsonWriter& json, const ItemValue& item);

}  // namespace ferrow::cli
