#pragma once

#include <cstdint>

#include "ferrow/ua/builtin_types.h"
#include "ferrow/ua/data_source.h"

// How tags look in UA: their DataType, their DA quality as a StatusCode, their values as Variants.
namespace ferrow::ua {

std::uint32_t dataTypeOf(TagType type);
BuiltinType builtinTypeOf(TagType type);
// The DA quality word as a StatusCode, limit bits included.
std::uint32_t statusOfQuality(std::uint16_t quality);
Variant variantOf(const TagValue& value);
// The value a written Variant carries, or nothing when it is not a scalar of the tag's own type.
std::optional<TagValue> tagValueOf(const Variant& variant, TagType type);

}  // namespace ferrow::ua
