#pragma once

#include <string>
#include <string_view>

namespace ferrow::cli {

// The terminal speaks UTF-8, the OPC interfaces UTF-16. Malformed input on either side becomes U+FFFD
// instead of being passed on, so that a stray byte never produces invalid output.
std::string utf8FromWide(std::u16string_view text);
std::u16string wideFromUtf8(std::string_view text);

}  // namespace ferrow::cli
