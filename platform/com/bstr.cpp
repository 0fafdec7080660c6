#include "platform/com/bstr.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace platform::com {

namespace {
constexpr std::size_t kPrefix = sizeof(std::uint32_t);

std::uint32_t* header(BSTR text) {
    return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(text) - kPrefix);
}
}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, std::uint32_t length) {
    if (length > (std::numeric_limits<std::uint32_t>::max() - kPrefix) / sizeof(OLECHAR) - 1) return nullptr;
    const std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
    auto* block = static_cast<char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
    if (!block) return nullptr;
    const auto byteLength = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &byteLength, kPrefix);
    auto* chars = reinterpret_cast<OLECHAR*>(block + kPrefix);
    if (text)
        std::memcpy(chars, text, bytes);
    else
        std::memset(chars, 0, bytes);
    chars[length] = u'\0';
    return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    return SysAllocStringLen(text, static_cast<std::uint32_t>(std::char_traits<OLECHAR>::length(text)));
}

void SysFreeString(BSTR text) {
    if (text) std::free(header(text));
}

std::uint32_t SysStringByteLen(BSTR text) {
    if (!text) return 0;
    std::uint32_t length;
    std::memcpy(&length, header(text), kPrefix);
    return length;
}

std::uint32_t SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

std::u16string_view view(BSTR text) {
    return text ? std::u16string_view(text, SysStringLen(text)) : std::u16string_view();
}

BSTR bstrFromAnsi(std::string_view text) {
    std::u16string wide(text.size(), u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text[i]);
    return SysAllocStringLen(wide.data(), static_cast<std::uint32_t>(wide.size()));
}

std::u16string_view wideView(const OLECHAR* text) {
    return text ? std::u16string_view(text) : std::u16string_view();
}

std::string ansiFromWide(std::u16string_view wide) {
    std::string narrow(wide.size(), '\0');
    for (std::size_t i = 0; i < wide.size(); ++i)
        narrow[i] = wide[i] <= 0xFF ? static_cast<char>(wide[i]) : '?';
    return narrow;
}

std::string ansiFromBstr(BSTR text) { return ansiFromWide(view(text)); }

}  // namespace platform::com
