#include "platform/com/guid.h"

#include <cstdio>

namespace platform::com {

namespace {
int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads `digits` hex digits at `at`; false on anything that is not a hex digit.
bool readHex(std::string_view text, std::size_t at, int digits, std::uint64_t* value) {
    *value = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = hexDigit(text[at + i]);
        if (d < 0) return false;
        *value = (*value << 4) | static_cast<std::uint64_t>(d);
    }
    return true;
}
}  // namespace

std::string formatGuid(const GUID& g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return text;
}

std::optional<GUID> parseGuid(std::string_view text) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
    if (text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') return std::nullopt;
    GUID g;
    std::uint64_t v;
    if (!readHex(text, 1, 8, &v)) return std::nullopt;
    g.Data1 = static_cast<std::uint32_t>(v);
    if (!readHex(text, 10, 4, &v)) return std::nullopt;
    g.Data2 = static_cast<std::uint16_t>(v);
    if (!readHex(text, 15, 4, &v)) return std::nullopt;
    g.Data3 = static_cast<std::uint16_t>(v);
    constexpr std::size_t kByteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!readHex(text, kByteAt[i], 2, &v)) return std::nullopt;
        g.Data4[i] = static_cast<std::uint8_t>(v);
    }
    return g;
}

std::size_t GuidHash::operator()(const GUID& g) const {
    std::size_t h = g.Data1 ^ (std::size_t{g.Data2} << 16) ^ (std::size_t{g.Data3} << 32);
    for (auto b : g.Data4) h = h * 131 + b;
    return h;
}

}  // namespace platform::com
