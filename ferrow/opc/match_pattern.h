#pragma once

#include <string_view>

namespace ferrow::opc {

// The browse filter: `?` one character, `*` any run, `#` one digit, `[...]`/`[!...]` one character in or
// not in a list with `a-z` ranges, anything else itself; letters compare ignoring case. A list without
// its `]` matches nothing. Time grows with the product of the two lengths at most.
bool MatchPattern(std::string_view string, std::string_view pattern);

}  // namespace ferrow::opc
