#include "platform/com/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/com/variant_text.h"

using namespace platform::com;

namespace {

// A variant that frees itself.
struct Var : VARIANT {
    Var() { VariantInit(this); }
    ~Var() { VariantClear(this); }
    static Var r8(double v) {
        Var x;
        x.vt = VT_R8;
        x.dblVal = v;
        return x;
    }
    static Var r4(float v) {
        Var x;
        x.vt = VT_R4;
        x.fltVal = v;
        return x;
    }
    static Var i4(std::int32_t v) {
        Var x;
        x.vt = VT_I4;
        x.lVal = v;
        return x;
    }
    static Var boolean(VARIANT_BOOL v) {
        Var x;
        x.vt = VT_BOOL;
        x.boolVal = v;
        return x;
    }
    static Var atDate(DATE v) {
        Var x;
        x.vt = VT_DATE;
        x.dblVal = v;
        return x;
    }
    static Var text(const char* v) {
        Var x;
        x.vt = VT_BSTR;
        x.bstrVal = bstrFromAnsi(v);
        return x;
    }
    Var(Var&& other) noexcept : VARIANT(other) { VariantInit(&other); }
};

HRESULT change(const VARIANT& src, VARTYPE vt, Var* out, std::uint16_t flags = 0) {
    return VariantChangeType(out, &src, flags, vt);
}

std::string textOf(const VARIANT& src, std::uint16_t flags = 0) {
    Var out;
    EXPECT_EQ(change(src, VT_BSTR, &out, flags), S_OK);
    return ansiFromBstr(out.bstrVal);
}

}  // namespace

TEST(VariantChangeType, RealToIntegerRoundsHalfToEven) {
    const std::pair<double, int> cases[] = {{-1.5, -2}, {-0.6, -1}, {-0.5, 0}, {-0.4, 0}, {0.4, 0},  {0.5, 0},
                                            {0.6, 1},   {1.5, 2},   {2.5, 2},  {3.5, 4},  {-2.5, -2}};
    for (const auto& [in, expected] : cases) {
        for (VARTYPE vt : {VT_I1, VT_I2, VT_I4}) {
            Var out;
            ASSERT_EQ(change(Var::r8(in), vt, &out), S_OK) << in;
            EXPECT_EQ(out.vt, vt);
            EXPECT_EQ(vt == VT_I1 ? out.cVal : vt == VT_I2 ? out.iVal : out.lVal, expected) << in;
        }
        Var out;
        ASSERT_EQ(change(Var::r4(static_cast<float>(in)), VT_I2, &out), S_OK);
        EXPECT_EQ(out.iVal, expected) << in;
    }
}

TEST(VariantChangeType, OverflowIsCheckedAfterRounding) {
    Var out;
    EXPECT_EQ(change(Var::r8(127.49), VT_I1, &out), S_OK);
    EXPECT_EQ(out.cVal, 127);
    EXPECT_EQ(change(Var::r8(-128.5), VT_I1, &out), S_OK);
    EXPECT_EQ(out.cVal, -128);
    for (double in : {127.5, -128.51, 128.0, -129.0})
        EXPECT_EQ(change(Var::r8(in), VT_I1, &out), DISP_E_OVERFLOW) << in;
    EXPECT_EQ(change(Var::r8(40000.0), VT_I2, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(change(Var::r8(32767.5), VT_I2, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(change(Var::r8(256.0), VT_UI1, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(change(Var::r8(-1.0), VT_UI1, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(change(Var::i4(70000), VT_I2, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(change(Var::r8(1e300), VT_R4, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(change(Var::r8(std::nan("")), VT_I4, &out), DISP_E_OVERFLOW);
}

TEST(VariantChangeType, TextToIntegerRangeAndRounding) {
    Var out;
    EXPECT_EQ(change(Var::text("32768"), VT_I2, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(change(Var::text("-32769"), VT_I2, &out), DISP_E_OVERFLOW);
    ASSERT_EQ(change(Var::text("32767"), VT_I2, &out), S_OK);
    EXPECT_EQ(out.iVal, 32767);
    ASSERT_EQ(change(Var::text("-32768"), VT_I2, &out), S_OK);
    EXPECT_EQ(out.iVal, -32768);
    ASSERT_EQ(change(Var::text("1.5"), VT_I4, &out), S_OK);
    EXPECT_EQ(out.lVal, 2);
    ASSERT_EQ(change(Var::text(" 0.5 "), VT_I4, &out), S_OK);
    EXPECT_EQ(out.lVal, 0);
    for (const char* bad : {"test", "", "1.2.3", "inf", "nan", "0x10", "1e"})
        EXPECT_EQ(change(Var::text(bad), VT_I4, &out), DISP_E_TYPEMISMATCH) << bad;
    Var nullText;
    nullText.vt = VT_BSTR;
    EXPECT_EQ(change(nullText, VT_I4, &out), DISP_E_TYPEMISMATCH);
}

// A number written beyond what a double holds is an overflow for every numeric target (never an
// infinity, never 0); one too small for a double is 0.
TEST(VariantChangeType, TextBeyondTheRangeOfADoubleIsAnOverflow) {
    for (const char* huge : {"1e999", "-1e999", " 1E400 ", "123456789e303", "0.0001e313"}) {
        for (VARTYPE vt : {VT_R4, VT_R8, VT_I4, VT_UI8, VT_CY, VT_BOOL, VT_DATE}) {
            Var out = Var::i4(7);
            EXPECT_EQ(change(Var::text(huge), vt, &out),
                      vt == VT_DATE ? DISP_E_TYPEMISMATCH : DISP_E_OVERFLOW)
                << huge << " to " << vt;
            EXPECT_EQ(out.vt, VT_I4);
        }
    }
    for (const char* tiny : {"1e-999", "-0.001e-400", "1000e-330"}) {
        Var out;
        ASSERT_EQ(change(Var::text(tiny), VT_R8, &out), S_OK) << tiny;
        EXPECT_EQ(out.dblVal, 0.0) << tiny;
        ASSERT_EQ(change(Var::text(tiny), VT_R4, &out), S_OK) << tiny;
        EXPECT_EQ(out.fltVal, 0.0f) << tiny;
    }
    Var out;
    ASSERT_EQ(change(Var::text("3.4e38"), VT_R4, &out), S_OK);
    EXPECT_EQ(change(Var::text("3.5e38"), VT_R4, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(parseReal("1e999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseReal("-1e999"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseReal("1e-999"), 0.0);
}

TEST(VariantChangeType, FailureLeavesDestinationAndSourceUnchanged) {
    Var dest = Var::i4(7);
    Var src = Var::text("test");
    EXPECT_EQ(change(src, VT_INT, &dest), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(dest.vt, VT_I4);
    EXPECT_EQ(dest.lVal, 7);
    EXPECT_EQ(VariantChangeType(&src, &src, 0, VT_INT), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(src.vt, VT_BSTR);
    EXPECT_EQ(ansiFromBstr(src.bstrVal), "test");

    Var bogus;
    bogus.vt = 0xFF;
    EXPECT_EQ(change(Var::i4(1), VT_BSTR, reinterpret_cast<Var*>(&bogus)), DISP_E_BADVARTYPE);
    bogus.vt = VT_EMPTY;
    Var out;
    EXPECT_EQ(change(Var::i4(1), 0x3847, &out), DISP_E_BADVARTYPE);
}

TEST(VariantChangeType, InPlaceConversionReplacesTheValue) {
    Var v = Var::r8(3.5);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I2), S_OK);
    EXPECT_EQ(v.vt, VT_I2);
    EXPECT_EQ(v.iVal, 4);
    Var t = Var::text("12");
    ASSERT_EQ(VariantChangeType(&t, &t, 0, VT_UI1), S_OK);  // the string is freed, not leaked
    EXPECT_EQ(t.bVal, 12);
}

TEST(VariantChangeType, BooleanTargetIsMinusOneOrZero) {
    Var out;
    for (double in : {0.4, -2.0, 1.0}) {
        ASSERT_EQ(change(Var::r8(in), VT_BOOL, &out), S_OK);
        EXPECT_EQ(out.boolVal, VARIANT_TRUE) << in;
    }
    ASSERT_EQ(change(Var::i4(0), VT_BOOL, &out), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_FALSE);
    ASSERT_EQ(change(Var::boolean(1), VT_BOOL, &out), S_OK);
    EXPECT_EQ(out.boolVal, 1);
    ASSERT_EQ(change(Var::boolean(VARIANT_TRUE), VT_I4, &out), S_OK);
    EXPECT_EQ(out.lVal, -1);
    ASSERT_EQ(change(Var::boolean(VARIANT_TRUE), VT_R8, &out), S_OK);
    EXPECT_EQ(out.dblVal, -1.0);
}

TEST(VariantChangeType, TextToBoolean) {
    const std::pair<const char*, VARIANT_BOOL> accepted[] = {
        {"#TRUE#", VARIANT_TRUE}, {"#FALSE#", VARIANT_FALSE}, {"true", VARIANT_TRUE},
        {"FALSE", VARIANT_FALSE}, {"True", VARIANT_TRUE},     {"0", VARIANT_FALSE},
        {"-1", VARIANT_TRUE},     {"+1", VARIANT_TRUE},       {"0.1", VARIANT_TRUE}};
    Var out;
    for (const auto& [text, expected] : accepted) {
        ASSERT_EQ(change(Var::text(text), VT_BOOL, &out), S_OK) << text;
        EXPECT_EQ(out.boolVal, expected) << text;
    }
    for (const char* text : {"#False#", "On", "Yes", "faux", ""})
        EXPECT_EQ(change(Var::text(text), VT_BOOL, &out), DISP_E_TYPEMISMATCH) << text;
}

TEST(VariantChangeType, ToText) {
    EXPECT_EQ(textOf(Var::boolean(1)), "1");
    EXPECT_EQ(textOf(Var::boolean(VARIANT_TRUE)), "-1");
    EXPECT_EQ(textOf(Var::boolean(VARIANT_FALSE)), "0");
    EXPECT_EQ(textOf(Var::boolean(VARIANT_TRUE), VARIANT_ALPHABOOL), "True");
    EXPECT_EQ(textOf(Var::boolean(VARIANT_FALSE), VARIANT_ALPHABOOL), "False");
    EXPECT_EQ(textOf(Var::i4(std::numeric_limits<std::int32_t>::min())), "-2147483648");
    EXPECT_EQ(textOf(Var::r8(0.5)), "0.5");
    EXPECT_EQ(textOf(Var::r4(654322.23456f)), "654322.3");
    EXPECT_EQ(textOf(Var::r8(0.1)), "0.1");
    EXPECT_EQ(textOf(Var::r8(1.0 / 3.0)), "0.333333333333333");
    EXPECT_EQ(textOf(Var::r8(-1234.5)), "-1234.5");
    EXPECT_EQ(textOf(Var::r8(1e-5)), "1E-05");
    EXPECT_EQ(textOf(Var::r8(1e20)), "1E+20");
    EXPECT_EQ(textOf(Var::r4(1.0f)), "1");
    EXPECT_EQ(textOf(Var::r8(999999999999999.9)), "1E+15");
}

TEST(VariantChangeType, EmptyAndNullSources) {
    Var empty;
    Var out;
    for (VARTYPE vt : {VT_I2, VT_I4, VT_R4, VT_R8, VT_DATE, VT_BOOL, VT_UI1, VT_EMPTY, VT_NULL}) {
        ASSERT_EQ(change(empty, vt, &out), S_OK) << vt;
        EXPECT_EQ(out.vt, vt);
        EXPECT_EQ(out.llVal, 0);
    }
    EXPECT_EQ(textOf(empty), "");
    for (VARTYPE vt : {VT_VARIANT, VT_DISPATCH, VT_UNKNOWN, VT_ERROR})
        EXPECT_EQ(change(empty, vt, &out), DISP_E_TYPEMISMATCH) << vt;
    EXPECT_EQ(change(empty, 15, &out), DISP_E_BADVARTYPE);

    Var null;
    null.vt = VT_NULL;
    EXPECT_EQ(change(null, VT_NULL, &out), S_OK);
    // A null becomes nothing else, not even empty.
    for (VARTYPE vt : {VT_EMPTY, VT_BSTR, VT_I4, VT_I8, VT_CY})
        EXPECT_EQ(change(null, vt, &out), DISP_E_TYPEMISMATCH) << vt;
}

TEST(VariantChangeType, UnsignedToSignedWithoutOverflowCheck) {
    Var v;
    v.vt = VT_UINT;
    v.uintVal = 0xFFFFFFFF;
    Var out;
    ASSERT_EQ(change(v, VT_I4, &out), S_OK);
    EXPECT_EQ(out.lVal, -1);
}

TEST(VariantChangeType, DateToText) {
    const std::pair<double, const char*> cases[] = {{0.0, "12:00:00 AM"},
                                                    {3.34, "1/2/1900 8:09:36 AM"},
                                                    {365.0, "12/30/1900"},
                                                    {365.25, "12/30/1900 6:00:00 AM"},
                                                    {1461.5, "12/31/1903 12:00:00 PM"},
                                                    {-49192.24, "4/24/1765 5:45:36 AM"},
                                                    {-657434.0, "1/1/100"},
                                                    {2958465.0, "12/31/9999"},
                                                    {29221.0, "1/1/1980"},
                                                    {25569.0, "1/1/1970"}};
    for (const auto& [date, text] : cases) {
        EXPECT_EQ(textOf(Var::atDate(date)), text) << date;
        Var back;
        ASSERT_EQ(change(Var::text(text), VT_DATE, &back), S_OK) << text;
        EXPECT_NEAR(back.date, date, 1e-9) << text;
    }
    Var out;
    EXPECT_EQ(change(Var::r8(3e6), VT_DATE, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(change(Var::text("2/30/1981"), VT_DATE, &out), DISP_E_TYPEMISMATCH);
    ASSERT_EQ(change(Var::atDate(1.75), VT_I4, &out), S_OK);
    EXPECT_EQ(out.lVal, 2);
}

TEST(Bstr, CarriesByteLengthAndNul) {
    BSTR text = bstrFromAnsi("L\xe4nge");
    EXPECT_EQ(SysStringLen(text), 5u);
    EXPECT_EQ(SysStringByteLen(text), 10u);
    EXPECT_EQ(text[1], u'\u00e4');
    EXPECT_EQ(text[5], u'\0');
    EXPECT_EQ(ansiFromBstr(text), "L\xe4nge");
    SysFreeString(text);
    const char16_t wide[] = u"\u20ac1";
    BSTR euro = SysAllocString(wide);
    EXPECT_EQ(ansiFromBstr(euro), "?1");
    SysFreeString(euro);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
}

TEST(Variant, CopyIsDeep) {
    Var src = Var::text("abc");
    Var dest = Var::text("old");
    ASSERT_EQ(VariantCopy(&dest, &src), S_OK);
    EXPECT_NE(dest.bstrVal, src.bstrVal);
    EXPECT_EQ(ansiFromBstr(dest.bstrVal), "abc");
}
