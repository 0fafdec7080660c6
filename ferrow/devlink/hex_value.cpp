#include "ferrow/devlink/hex_value.h"

#include <cstdint>
#include <cstring>

namespace ferrow {

using namespace platform::com;

namespace {
int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
}  // namespace

std::size_t ValueSize(VARTYPE vt) {
    switch (vt) {
        case VT_I2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_R4:
            return 4;
        case VT_UI1:
            return 1;
        default:
            return 0;
    }
}

std::optional<std::string> HexFromValue(const VARIANT& value) {
    const std::size_t size = ValueSize(value.vt);
    if (size == 0) return std::nullopt;
    // The value union starts with the value's own bytes on this little-endian platform.
    unsigned char bytes[8];
    std::memcpy(bytes, &value.llVal, sizeof bytes);
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

bool ValueFromHex(std::string_view text, VARTYPE vt, VARIANT* value) {
    if (ValueSize(vt) == 0) return false;
    unsigned char bytes[8] = {};
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int digit = digitValue(text[i]);
        if (digit < 0) return false;
        if (i / 2 < sizeof bytes)
            bytes[i / 2] = static_cast<unsigned char>(bytes[i / 2] | (i % 2 ? digit : digit << 4));
    }
    VariantClear(value);
    value->vt = vt;
    switch (vt) {
        case VT_I2:
        case VT_BOOL:
            std::memcpy(&value->iVal, bytes, 2);
            break;
        case VT_I4:
        case VT_R4:
            std::memcpy(&value->lVal, bytes, 4);
            break;
        default:
            value->bVal = bytes[0];
            break;
    }
    return true;
}

}  // namespace ferrow
