#include "ferrow/app/views/value_text.h"

#include <gtest/gtest.h>

#include <clocale>

#include "platform/com/bstr.h"

using namespace ferrow;
using namespace platform::com;

namespace {
VARIANT of(VARTYPE vt) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    return v;
}
}  // namespace

TEST(ValueText, EachTypeHasItsForm) {
    VARIANT i2 = of(VT_I2);
    i2.iVal = -1;
    EXPECT_EQ(ValueText(i2, 0xC0), "65535");  // unsigned, as the list always showed it
    VARIANT i4 = of(VT_I4);
    i4.lVal = -2;
    EXPECT_EQ(ValueText(i4, 0xC0), "4294967294");
    VARIANT r4 = of(VT_R4);
    r4.fltVal = 2.5f;
    EXPECT_EQ(ValueText(r4, 0xC0), "2.5");
    r4.fltVal = 1234567.0f;
    EXPECT_EQ(ValueText(r4, 0xC0), "1.23457e+06");
    VARIANT r8 = of(VT_R8);
    r8.dblVal = 0.0001;
    EXPECT_EQ(ValueText(r8, 0xC0), "0.0001 ");
    EXPECT_EQ(ValueText(r8, 0xC0, true, "bar"), "0.0001 bar");
    EXPECT_EQ(ValueText(r8, 0xC0, false, "bar"), "0.0001 ");  // units only for scaled tags
    VARIANT text = of(VT_BSTR);
    text.bstrVal = bstrFromAnsi("pump on");
    EXPECT_EQ(ValueText(text, 0xC0), "pump on");
    VariantClear(&text);
    VARIANT flag = of(VT_BOOL);
    flag.boolVal = VARIANT_TRUE;
    EXPECT_EQ(ValueText(flag, 0xC0), "On");
    flag.boolVal = 1;
    EXPECT_EQ(ValueText(flag, 0xC0), "On");
    flag.boolVal = VARIANT_FALSE;
    EXPECT_EQ(ValueText(flag, 0xC0), "Off");
    VARIANT byte = of(VT_UI1);
    byte.bVal = 200;
    EXPECT_EQ(ValueText(byte, 0xC0), "200");
    EXPECT_EQ(ValueText(of(VT_EMPTY), 0xC0), "?");
    EXPECT_EQ(ValueText(of(VT_DATE), 0xC0), "?");
}

TEST(ValueText, QualityReplacesOrQualifiesTheText) {
    VARIANT r4 = of(VT_R4);
    r4.fltVal = 1.0f;
    EXPECT_EQ(ValueText(r4, 0x00), "Bad");
    EXPECT_EQ(ValueText(r4, 0x18), "Bad");  // communication failure is a bad quality
    EXPECT_EQ(ValueText(r4, 0x40), "1 (uncertain)");
    EXPECT_EQ(ValueText(r4, 0x54), "1 (uncertain)");
    EXPECT_EQ(ValueText(r4, 0x80), "1");
    EXPECT_EQ(ValueText(r4, 0xC0), "1");
    EXPECT_EQ(ValueText(of(VT_EMPTY), 0x40), "? (uncertain)");  // a new tag before its first value
}

TEST(ValueText, DecimalPointWhateverTheUserLocale) {
    const char* locale = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    if (!locale) locale = std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
    VARIANT r8 = of(VT_R8);
    r8.dblVal = 1.5;
    EXPECT_EQ(ValueText(r8, 0xC0), "1.5 ");
    std::setlocale(LC_NUMERIC, "C");
    if (!locale) GTEST_SKIP() << "no locale with a decimal comma installed";
}
