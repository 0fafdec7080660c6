#include <gtest/gtest.h>

#include <cstring>

#include "ferrow/devlink/device_link.h"
#include "ferrow/devlink/hex_value.h"
#include "ferrow/devlink/line_buffer.h"
#include "ferrow/model/tag.h"

using namespace ferrow;
using namespace platform::com;

TEST(HexValue, TravelsLittleEndianUpperCase) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I2;
    v.iVal = 0x1234;
    EXPECT_EQ(HexFromValue(v), "3412");
    v.vt = VT_R4;
    v.fltVal = 1.0f;
    EXPECT_EQ(HexFromValue(v), "0000803F");
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
    EXPECT_EQ(HexFromValue(v), "FFFF");
    v.vt = VT_UI1;
    v.bVal = 200;
    EXPECT_EQ(HexFromValue(v), "C8");
    v.vt = VT_R8;
    EXPECT_EQ(HexFromValue(v), std::nullopt);
}

TEST(HexValue, ReadsEitherCaseAndPadsWithZeros) {
    VARIANT v;
    VariantInit(&v);
    ASSERT_TRUE(ValueFromHex("0000803f", VT_R4, &v));
    EXPECT_EQ(v.fltVal, 1.0f);
    ASSERT_TRUE(ValueFromHex("78563412EFCDAB9099", VT_I4, &v));  // bytes past 8 are ignored
    EXPECT_EQ(v.lVal, 0x12345678);
    ASSERT_TRUE(ValueFromHex("", VT_I2, &v));
    EXPECT_EQ(v.iVal, 0);
    EXPECT_FALSE(ValueFromHex("12", VT_R8, &v));
    EXPECT_FALSE(ValueFromHex("1G", VT_I2, &v));
}

TEST(OqnTagValue, HexSetsValueQualityAndTime) {
    OqnTag tag;
    tag.m_vtDevice = VT_I2;
    EXPECT_TRUE(StoreHexValue(tag, "FFFF"));
    EXPECT_EQ(tag.m_value.vt, VT_I2);
    EXPECT_EQ(tag.m_value.iVal, -1);
    EXPECT_EQ(tag.m_wQuality, kQualityGood);
    EXPECT_NE(tag.m_ftTimestamp.ticks(), 0u);
    EXPECT_FALSE(StoreHexValue(tag, std::string(65, '0')));
    EXPECT_EQ(tag.m_value.iVal, -1);
    tag.m_vtDevice = 5;
    EXPECT_FALSE(StoreHexValue(tag, "00"));
}

TEST(LineBuffer, LinesEndWithCrLfExactly) {
    LineBuffer buffer;
    char line[129];
    const auto feed = [&](const char* text) {
        std::memcpy(buffer.FreeSpace(), text, std::strlen(text));
        buffer.Commit(static_cast<int>(std::strlen(text)));
    };
    feed("abc");
    EXPECT_EQ(buffer.TakeLine(line, 128), -1);
    feed("\r");
    EXPECT_EQ(buffer.TakeLine(line, 128), -1);
    feed("\nsecond\r\nthi");
    ASSERT_EQ(buffer.TakeLine(line, 128), 3);
    EXPECT_STREQ(line, "abc");
    ASSERT_EQ(buffer.TakeLine(line, 128), 6);
    EXPECT_STREQ(line, "second");
    EXPECT_EQ(buffer.TakeLine(line, 128), -1);
    EXPECT_EQ(buffer.Buffered(), 3);
    buffer.Discard();
    feed("a\rb\r\n");  // a CR not followed by LF stalls the line
    EXPECT_EQ(buffer.TakeLine(line, 128), -1);
    EXPECT_EQ(buffer.Buffered(), 5);
}

TEST(LineBuffer, LongLineDiscardsEverything) {
    LineBuffer buffer;
    char line[129];
    const std::string exact = std::string(128, 'a') + "\r\n" + std::string(129, 'b') + "\r\nc\r\n";
    std::memcpy(buffer.FreeSpace(), exact.data(), exact.size());
    buffer.Commit(static_cast<int>(exact.size()));
    EXPECT_EQ(buffer.TakeLine(line, 128), 128);
    EXPECT_EQ(buffer.TakeLine(line, 128), -1);
    EXPECT_EQ(buffer.Buffered(), 0);  // the "c" line went with it
}

TEST(Fields, SplitAtSlashes) {
    EXPECT_EQ(Field("Level/4/0", 0), "Level");
    EXPECT_EQ(Field("Level/4/0", 2), "0");
    EXPECT_EQ(Field("Valve/11", 2), "");
    EXPECT_EQ(Field("a//c", 1), "");
    const Notification three = ParseNotification("x/y/Level");
    EXPECT_EQ(three.name, "Level");
    EXPECT_EQ(three.hex, "");
    EXPECT_EQ(ParseNotification("x/y").name, "");
    EXPECT_EQ(ParseNotification("x/y/Level/0000803F/extra").hex, "0000803F");
}
