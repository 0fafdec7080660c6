#pragma once

#include <string>
#include <string_view>

namespace ferrow::cli {

// The terminal speaks UTF-8, the OPC interfaces UTF-16. Malformed input on either side becomes U+FFFD
// instead of being passed on, so that a stray byte never produces invalid output.
std::string utf8FromWide(std::u16string_view text);
std::u16string wideFromUtf8(std::string_view text);

// Text from the server or a device made safe for a terminal: control characters (C0, DEL and C1), which
// could move the cursor or rewrite the screen, become visible escapes such as "\x1B".
std::string printable(std::string_view utf8);

}  // namespace ferrow::cli
