#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/com/filetime.h"

namespace platform::com {

// The en-US text forms used when a variant becomes a string and back.

// Shortest text of `value` with at most `digits` significant digits; an exponent only where the
// number needs one ("1E-05").
std::string formatReal(double value, int digits);
// A decimal number with optional sign, fraction and exponent, blanks around it allowed. One beyond the
// range of a double reads as an infinity of its sign (callers refuse it as an overflow), one too small
// as 0.
std::optional<double> parseReal(std::string_view text);

// "M/D/YYYY h:mm:ss AM"; the date alone at midnight, the time alone on day 0.
std::string formatDate(DATE date);
// The forms formatDate writes, also with "h:mm" and a 24-hour time.
std::optional<DATE> parseDate(std::string_view text);

inline constexpr DATE kMinDate = -657434.0;  // 1/1/100
inline constexpr DATE kMaxDate = 2958465.0;  // 12/31/9999
bool isValidDate(double value);

}  // namespace platform::com
