#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::com {

using OLECHAR = char16_t;
// UTF-16 text with its byte length in the 4 bytes before the first character and a NUL after the last,
// so that a BSTR handed out is also a plain wide string. A null BSTR counts as empty.
using BSTR = OLECHAR*;

BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, std::uint32_t length);
void SysFreeString(BSTR text);
std::uint32_t SysStringLen(BSTR text);
std::uint32_t SysStringByteLen(BSTR text);

// Text kept inside is 8-bit, one character per byte; these are the two crossings.
BSTR bstrFromAnsi(std::string_view text);
// Characters beyond 8 bits become '?'.
std::string ansiFromBstr(BSTR text);
std::u16string_view view(BSTR text);
// A NUL-terminated wide string (null counts as empty) and its 8-bit form, '?' beyond 8 bits.
std::u16string_view wideView(const OLECHAR* text);
std::string ansiFromWide(std::u16string_view text);

}  // namespace platform::com
