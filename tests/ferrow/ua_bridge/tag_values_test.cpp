// Values between the tags' VARIANTs and the endpoint's TagValues: every UA tag type both ways, values of
// another type converted to the tag's, text in UTF-8, and what has no form in the tag's type.
#include "ferrow/ua_bridge/tag_values.h"

#include <gtest/gtest.h>

namespace ferrow::ua_bridge {
namespace {

using namespace platform::com;
using ua::TagType;
using ua::TagValue;

// The value through a VARIANT of its own type and back, read as `type`.
TagValue roundTrip(const TagValue& value, TagType type) {
    VARIANT v = variantOf(value);
    TagValue back = tagValueOf(v, type);
    VariantClear(&v);
    return back;
}

TEST(TagValues, EveryTagTypeSurvivesTheWayThroughAVariant) {
    const std::vector<std::pair<TagValue, TagType>> values{
        {true, TagType::Boolean},
        {std::int8_t{-5}, TagType::SByte},
        {std::uint8_t{250}, TagType::Byte},
        {std::int16_t{-30000}, TagType::Int16},
        {std::uint16_t{65000}, TagType::UInt16},
        {std::int32_t{-2000000000}, TagType::Int32},
        {std::uint32_t{4000000000u}, TagType::UInt32},
        {std::int64_t{-9000000000000LL}, TagType::Int64},
        {std::uint64_t{18000000000000000000ULL}, TagType::UInt64},
        {2.5f, TagType::Float},
        {-1e300, TagType::Double},
        {std::string("Füllstand °C"), TagType::String},
        // Whole milliseconds: a VARIANT date keeps no finer steps.
        {ua::DateTime{133000000000000000LL}, TagType::DateTime},
    };
    for (const auto& [value, type] : values) {
        EXPECT_FALSE(varTypeOf(type) == VT_EMPTY);
        EXPECT_EQ(tagTypeOf(varTypeOf(type)), type);
        EXPECT_EQ(roundTrip(value, type), value) << static_cast<int>(type);
    }
}

TEST(TagValues, AValueOfAnotherTypeIsReadInTheTagsType) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = 42;
    EXPECT_EQ(tagValueOf(v, TagType::Double), TagValue{42.0});
    EXPECT_EQ(tagValueOf(v, TagType::String), TagValue{std::string("42")});
    EXPECT_EQ(tagTypeOf(VT_INT), TagType::Int32);
    EXPECT_EQ(tagTypeOf(VT_CY), TagType::Double);
}

TEST(TagValues, NothingForAnEmptyValueOrOneWithoutAFormInTheTagsType) {
    VARIANT empty;
    VariantInit(&empty);
    EXPECT_EQ(tagValueOf(empty, TagType::Int32), TagValue{});
    VARIANT text = variantOf(std::string("not a number"));
    EXPECT_EQ(tagValueOf(text, TagType::Int32), TagValue{});
    VariantClear(&text);
    VARIANT none = variantOf(TagValue{});
    EXPECT_EQ(none.vt, VT_EMPTY);
}

}  // namespace
}  // namespace ferrow::ua_bridge
