#include "ferrow/app/views/value_text.h"

#include <charconv>

#include "platform/com/bstr.h"

namespace ferrow {

using namespace platform::com;

namespace {
// "%g" of the C locale: six significant digits, the shorter of fixed and exponent form.
std::string general(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6).ptr;
    return std::string(text, end);
}

std::string typedText(const VARIANT& value, bool scaled, const std::string& units) {
    switch (value.vt) {
        case VT_I2:
            return std::to_string(static_cast<std::uint16_t>(value.iVal));
        case VT_I4:
            return std::to_string(static_cast<std::uint32_t>(value.lVal));
        case VT_R4:
            return general(value.fltVal);
        case VT_R8:
            return general(value.dblVal) + " " + (scaled ? units : std::string());
        case VT_BSTR:
            return ansiFromBstr(value.bstrVal);
        case VT_BOOL:
            return value.boolVal ? "On" : "Off";
        case VT_UI1:
            return std::to_string(value.bVal);
        default:
            return "?";
    }
}
}  // namespace

std::string ValueText(const VARIANT& value, std::uint16_t quality, bool scaled, const std::string& units) {
    switch (quality & 0xC0) {
        case 0x00:
            return "Bad";
        case 0x40:
            return typedText(value, scaled, units) + " (uncertain)";
        default:
            return typedText(value, scaled, units);
    }
}

}  // namespace ferrow
