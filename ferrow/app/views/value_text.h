#pragma once

#include <cstdint>
#include <string>

#include "platform/com/variant.h"

namespace ferrow {

// The Value column's text for a tag's value and quality: the value by its type ("%g" always with a
// full stop, whatever the user's locale), then "Bad" in place of it for bad quality or " (uncertain)"
// after it for uncertain quality. `units` follow VT_R8 values of scaled tags.
std::string ValueText(const platform::com::VARIANT& value, std::uint16_t quality, bool scaled = false,
                      const std::string& units = {});

}  // namespace ferrow
