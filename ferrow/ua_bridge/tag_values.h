#pragma once

#include "ferrow/model/tag.h"
#include "ferrow/ua/data_source.h"
#include "platform/com/filetime.h"
#include "platform/com/variant.h"

namespace ferrow::ua_bridge {

// The UA type of a tag's canonical VARIANT type; types without a UA counterpart of their own read as
// Double (currency) or String (anything else).
ua::TagType tagTypeOf(platform::com::VARTYPE vt);
// The VARIANT type a UA tag type travels in.
platform::com::VARTYPE varTypeOf(ua::TagType type);

// `value` converted to `type`; nothing (monostate) for an empty value or one without that form.
ua::TagValue tagValueOf(const platform::com::VARIANT& value, ua::TagType type);
// A VARIANT holding `value` in its own type (VT_EMPTY for monostate). The caller clears it.
platform::com::VARIANT variantOf(const ua::TagValue& value);

// Both count 100 ns steps since 1601.
inline ua::DateTime dateTimeOf(const platform::com::FILETIME& time) {
    return ua::DateTime{static_cast<std::int64_t>(time.ticks())};
}

}  // namespace ferrow::ua_bridge
