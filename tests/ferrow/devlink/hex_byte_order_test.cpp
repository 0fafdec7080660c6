// Two-byte values whose bytes differ: the first pair of digits is the low byte, both ways, for VT_I2
// and VT_BOOL alike.
#include <gtest/gtest.h>

#include <cstdint>

#include "ferrow/devlink/device_link.h"
#include "ferrow/devlink/hex_value.h"
#include "ferrow/model/tag.h"

namespace ferrow {
namespace {

using namespace platform::com;

TEST(HexByteOrder, TwoByteValuesReadTheFirstPairAsTheLowByte) {
    VARIANT v;
    VariantInit(&v);
    ASSERT_TRUE(ValueFromHex("3412", VT_I2, &v));
    EXPECT_EQ(v.vt, VT_I2);
    EXPECT_EQ(v.iVal, 0x1234);
    ASSERT_TRUE(ValueFromHex("3412", VT_BOOL, &v));
    EXPECT_EQ(v.vt, VT_BOOL);
    EXPECT_EQ(static_cast<unsigned short>(v.boolVal), 0x1234);
    ASSERT_TRUE(ValueFromHex("cdab", VT_I2, &v));
    EXPECT_EQ(static_cast<unsigned short>(v.iVal), 0xABCD);
}

TEST(HexByteOrder, TwoByteValuesWriteTheLowByteFirst) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = static_cast<VARIANT_BOOL>(0x1234);
    EXPECT_EQ(HexFromValue(v), "3412");
    v.vt = VT_I2;
    v.iVal = static_cast<std::int16_t>(0xABCD);
    EXPECT_EQ(HexFromValue(v), "CDAB");
}

TEST(HexByteOrder, ATagKeepsBothBytesOfWhatTheDeviceSent) {
    for (VARTYPE vt : {VT_I2, VT_BOOL}) {
        OqnTag tag;
        tag.m_vtDevice = vt;
        ASSERT_TRUE(ferrow::StoreHexValue(tag, "3412")) << vt;
        EXPECT_EQ(static_cast<unsigned short>(tag.m_value.iVal), 0x1234) << vt;
        EXPECT_EQ(HexFromValue(tag.m_value), "3412") << vt;
    }
}

}  // namespace
}  // namespace ferrow
