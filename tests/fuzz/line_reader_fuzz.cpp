// A byte stream cut into receives as the fuzzer likes, read line by line as the notification port
// does: every line is split into fields and its value decoded for each type.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ferrow/devlink/hex_value.h"
#include "ferrow/devlink/line_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int max = data[0] % 140;  // line limits around the real one
    const std::size_t chunk = data[1] % 64 + 1;
    std::size_t at = 2;
    ferrow::LineBuffer buffer;
    char line[141];
    for (;;) {
        const int length = ferrow::ReadLineFrom(buffer, line, max, [&](char* space, int count) {
            if (at >= size) return 0;
            const std::size_t n = std::min({chunk, size - at, static_cast<std::size_t>(count)});
            std::memcpy(space, data + at, n);
            at += n;
            return static_cast<int>(n);
        });
        if (length < 0) break;
        if (length > max || line[length] != '\0') std::abort();
        const ferrow::Notification note =
            ferrow::ParseNotification(std::string_view(line, static_cast<std::size_t>(length)));
        for (platform::com::VARTYPE vt : {2, 3, 4, 11, 17}) {
            platform::com::VARIANT value;
            platform::com::VariantInit(&value);
            if (note.hex.size() <= 64) ferrow::ValueFromHex(note.hex, vt, &value);
            platform::com::VariantClear(&value);
        }
    }
    return 0;
}
