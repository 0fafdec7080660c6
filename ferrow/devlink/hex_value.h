#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com/variant.h"

namespace ferrow {

// Values travel as the bytes of the variant's data in memory order (little-endian), two upper-case hex
// digits per byte.

// Bytes a datapoint of this type carries: 2 for VT_I2 and VT_BOOL, 4 for VT_I4 and VT_R4, 1 for VT_UI1;
// 0 for every other type, which the device link cannot carry.
std::size_t ValueSize(platform::com::VARTYPE vt);

// The value's bytes as hex text; nullopt when its type is not one of the five.
std::optional<std::string> HexFromValue(const platform::com::VARIANT& value);

// Reads hex text into a variant of type vt: up to 8 bytes from a zeroed buffer (more are ignored), the
// first digit of each pair the high half, either case. False for a type outside the five or a
// character that is not a hex digit.
bool ValueFromHex(std::string_view text, platform::com::VARTYPE vt, platform::com::VARIANT* value);

}  // namespace ferrow
