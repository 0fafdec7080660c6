// The deadband of a pass: a scaled analog tag's change is taken over only when it exceeds the group's
// percentage of the tag's engineering range; other tags and a zero deadband let every change through.

#include <gtest/gtest.h>

#include "ferrow/access/item_state.h"
#include "ferrow/model/analog_data.h"
#include "ferrow/model/tag.h"

namespace {

using namespace platform::com;
using ferrow::access::ItemState;
using ferrow::access::OutsideDeadband;
using ferrow::access::TakeOver;

VARIANT r8(double value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = value;
    return v;
}

VARIANT r4(float value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R4;
    v.fltVal = value;
    return v;
}

// A scaled tag whose engineering range is -50 .. 150: 10 % of it is 20.
struct ScaledTag : ferrow::OqnTag {
    ScaledTag() {
        m_bScaled = 1;
        m_pAnalog = std::make_unique<ferrow::OAnalogData>();
        m_pAnalog->m_dEuLow = -50;
        m_pAnalog->m_dEuHigh = 150;
        // The raw range is another one: the deadband is a share of the engineering range.
        m_pAnalog->m_dRawLow = 0;
        m_pAnalog->m_dRawHigh = 4000;
    }
};

TEST(ItemDeadband, AScaledTagsChangeCountsAgainstItsEngineeringRange) {
    ScaledTag tag;
    const VARIANT before = r8(10.0);
    EXPECT_FALSE(OutsideDeadband(before, r8(29.5), 10.0f, tag));
    EXPECT_FALSE(OutsideDeadband(before, r8(30.0), 10.0f, tag));  // exactly the deadband: not beyond it
    EXPECT_TRUE(OutsideDeadband(before, r8(30.5), 10.0f, tag));
    EXPECT_FALSE(OutsideDeadband(before, r8(-9.5), 10.0f, tag));  // downwards the same
    EXPECT_TRUE(OutsideDeadband(before, r8(-10.5), 10.0f, tag));
    EXPECT_FALSE(OutsideDeadband(r4(10.0f), r4(29.5f), 10.0f, tag));
    EXPECT_TRUE(OutsideDeadband(r4(10.0f), r4(30.5f), 10.0f, tag));
    // 100 % is the whole range; 0 % lets every change through.
    EXPECT_FALSE(OutsideDeadband(r8(-50.0), r8(150.0), 100.0f, tag));
    EXPECT_TRUE(OutsideDeadband(before, r8(10.001), 0.0f, tag));
}

TEST(ItemDeadband, UnscaledTagsAndOtherTypesIgnoreTheDeadband) {
    ScaledTag unscaled;
    unscaled.m_bScaled = 0;
    EXPECT_TRUE(OutsideDeadband(r8(10.0), r8(10.5), 50.0f, unscaled));
    ScaledTag noRange;
    noRange.m_pAnalog.reset();
    EXPECT_TRUE(OutsideDeadband(r8(10.0), r8(10.5), 50.0f, noRange));
    ScaledTag scaled;
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_I4;
    number.lVal = 10;
    EXPECT_TRUE(OutsideDeadband(number, r8(10.5), 50.0f, scaled));  // types that differ
}

TEST(ItemDeadband, APassTakesOverOnlyAChangeBeyondTheDeadbandButAlwaysTheQuality) {
    ScaledTag tag;
    tag.m_value = r8(10.0);
    tag.m_wQuality = 0xC0;
    ItemState item;
    ASSERT_TRUE(TakeOver(item, tag, 10.0f, 1));
    item.Delivered(1);
    EXPECT_EQ(item.cachedValue.dblVal, 10.0);

    tag.m_value = r8(25.0);
    EXPECT_FALSE(TakeOver(item, tag, 10.0f, 2));
    EXPECT_EQ(item.cachedValue.dblVal, 10.0);  // the reference stays the last value taken over
    tag.m_value = r8(31.0);
    EXPECT_TRUE(TakeOver(item, tag, 10.0f, 3));
    EXPECT_EQ(item.cachedValue.dblVal, 31.0);
    item.Delivered(3);

    tag.m_value = r8(32.0);
    tag.m_wQuality = 0x18;
    EXPECT_TRUE(TakeOver(item, tag, 10.0f, 4));  // within the deadband, but the quality changed
    EXPECT_EQ(item.cachedValue.dblVal, 31.0);
    EXPECT_EQ(item.cachedQuality, 0x18);
}

}  // namespace
