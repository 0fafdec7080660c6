#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/com/filetime.h"
#include "platform/com/variant.h"

namespace ferrow::cli {

class JsonWriter;

using platform::com::DATE;
using platform::com::FILETIME;
using platform::com::HRESULT;
using platform::com::VARIANT;
using platform::com::VARTYPE;
using platform::com::WORD;

// "good", "uncertain", "bad", "comm failure", "out of service", …: the sub-status when it has a name,
// else the quality class. The limit bits do not change the word.
std::string qualityWord(WORD quality);
// "good (0xC0)".
std::string qualityText(WORD quality);

// "VT_R4", "VT_ARRAY|VT_R8", or the number for a code nobody named.
std::string varTypeName(VARTYPE type);

// A UTC time as local time, ISO 8601: "2026-12-07T16:30:00.123" (milliseconds when asked, the zone's
// offset "+01:00" when asked). A zero time, which the server uses for "never", gives "".
struct TimeFormat {
    bool milliseconds = true;
    bool offset = false;
};
std::string localTimeText(const FILETIME& time, TimeFormat format = {});
// A DATE as it stands, without a zone: "2026-12-07T15:40:00". "" when it is no valid date.
std::string dateText(DATE date);

// A value for a person: numbers in their shortest form, "True"/"False", strings in double quotes,
// "(empty)", "(null)", arrays as "[1, 2]".
std::string valueText(const VARIANT& value);
// The same value as JSON: numbers, booleans, strings, null for empty and null, arrays as arrays.
void writeValueJson(JsonWriter& json, const VARIANT& value);

// Reads what a user typed as a value of the given type (the item's canonical type), with the platform's
// en-US conversions: "7.25", "-3", "true", "1/2/2026 10:00:00 AM". On failure *value is VT_EMPTY and the
// result says why: DISP_E_TYPEMISMATCH (not a value of that type), DISP_E_OVERFLOW (out of its range).
HRESULT parseValue(std::string_view text, VARTYPE type, VARIANT* value);

// "0xC0040007".
std::string hexCode(HRESULT code);

}  // namespace ferrow::cli
