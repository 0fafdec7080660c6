#include "platform/com/safearray.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/com/variant.h"

using namespace platform::com;

namespace {
struct Var : VARIANT {
    Var() { VariantInit(this); }
    ~Var() { VariantClear(this); }
};

SAFEARRAY* texts(std::initializer_list<const char*> items) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 1, static_cast<std::uint32_t>(items.size()));
    std::int32_t i = 1;
    for (const char* item : items) {
        BSTR text = bstrFromAnsi(item);
        EXPECT_EQ(SafeArrayPutElement(array, &i, text), S_OK);
        SysFreeString(text);
        ++i;
    }
    return array;
}
}  // namespace

TEST(SafeArray, OneDimensionCreateAccessBoundsAndCopy) {
    SAFEARRAY* numbers = SafeArrayCreateVector(VT_I4, -1, 3);
    ASSERT_NE(numbers, nullptr);
    EXPECT_EQ(SafeArrayGetDim(numbers), 1u);
    std::int32_t low = 0, high = 0;
    EXPECT_EQ(SafeArrayGetLBound(numbers, 1, &low), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(numbers, 1, &high), S_OK);
    EXPECT_EQ(low, -1);
    EXPECT_EQ(high, 1);
    EXPECT_EQ(SafeArrayGetLBound(numbers, 2, &low), DISP_E_BADINDEX);
    const std::int32_t value = 42, index = 1, outside = 2;
    EXPECT_EQ(SafeArrayPutElement(numbers, &index, &value), S_OK);
    EXPECT_EQ(SafeArrayPutElement(numbers, &outside, &value), DISP_E_BADINDEX);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(numbers, &data), S_OK);
    EXPECT_EQ(static_cast<std::int32_t*>(data)[2], 42);
    EXPECT_EQ(SafeArrayDestroy(numbers), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(numbers), S_OK);

    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(numbers, &copy), S_OK);
    std::int32_t read = 0;
    EXPECT_EQ(SafeArrayGetElement(copy, &index, &read), S_OK);
    EXPECT_EQ(read, 42);
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(copy, &vt), S_OK);
    EXPECT_EQ(vt, VT_I4);
    EXPECT_EQ(SafeArrayDestroy(numbers), S_OK);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
    EXPECT_EQ(SafeArrayCreateVector(VT_DISPATCH, 0, 1), nullptr);
    const SAFEARRAYBOUND two[2] = {{1, 0}, {1, 0}};
    EXPECT_EQ(SafeArrayCreate(VT_I4, 2, two), nullptr);
}

TEST(SafeArray, VariantsOwnCopyAndCompareTheirArrays) {
    Var a, b, c;
    a.vt = VT_ARRAY | VT_BSTR;
    a.parray = texts({"one", "two"});
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(b.parray, a.parray);
    EXPECT_TRUE(VariantEqual(a, b));
    BSTR element = nullptr;
    const std::int32_t second = 2;
    ASSERT_EQ(SafeArrayGetElement(b.parray, &second, &element), S_OK);
    EXPECT_EQ(ansiFromBstr(element), "two");
    SysFreeString(element);

    c.vt = VT_ARRAY | VT_BSTR;
    c.parray = texts({"one", "TWO"});
    EXPECT_FALSE(VariantEqual(a, c));
    // An array converts only to its own type.
    Var converted;
    EXPECT_EQ(VariantChangeType(&converted, &a, 0, VT_ARRAY | VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&converted, &a, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&converted, &a, 0, VT_ARRAY | VT_BSTR), S_OK);
    EXPECT_TRUE(VariantEqual(converted, a));

    Var nested;
    nested.vt = VT_ARRAY | VT_VARIANT;
    nested.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    const std::int32_t first = 0;
    ASSERT_EQ(SafeArrayPutElement(nested.parray, &first, &a), S_OK);
    Var nestedCopy;
    ASSERT_EQ(VariantCopy(&nestedCopy, &nested), S_OK);
    EXPECT_TRUE(VariantEqual(nested, nestedCopy));
}

TEST(VariantEqual, TypeAndValue) {
    Var x, y;
    x.vt = VT_R8;
    x.dblVal = 500.0;
    y.vt = VT_R8;
    y.dblVal = 500.0000001;
    EXPECT_FALSE(VariantEqual(x, y));
    y.dblVal = 500.0;
    EXPECT_TRUE(VariantEqual(x, y));
    x.dblVal = y.dblVal = std::nan("");
    EXPECT_TRUE(VariantEqual(x, y));  // no endless change reports for a NaN
    y.vt = VT_DATE;
    EXPECT_FALSE(VariantEqual(x, y));
    Var s, t;
    s.vt = t.vt = VT_BSTR;
    s.bstrVal = bstrFromAnsi("");
    t.bstrVal = nullptr;
    EXPECT_TRUE(VariantEqual(s, t));  // a null text is empty
}

TEST(VariantChangeType, SixtyFourBitIntegersAndCurrency) {
    Var src, out;
    src.vt = VT_R8;
    src.dblVal = 2.5;
    ASSERT_EQ(VariantChangeType(&out, &src, 0, VT_I8), S_OK);
    EXPECT_EQ(out.llVal, 2);
    ASSERT_EQ(VariantChangeType(&out, &src, 0, VT_CY), S_OK);
    EXPECT_EQ(out.llVal, 25000);
    src.dblVal = 9.3e18;
    EXPECT_EQ(VariantChangeType(&out, &src, 0, VT_I8), DISP_E_OVERFLOW);
    src.dblVal = -1;
    EXPECT_EQ(VariantChangeType(&out, &src, 0, VT_UI8), DISP_E_OVERFLOW);

    Var cy;
    cy.vt = VT_CY;
    cy.llVal = 15000;  // 1.5
    ASSERT_EQ(VariantChangeType(&out, &cy, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, 2);
    ASSERT_EQ(VariantChangeType(&out, &cy, 0, VT_BSTR), S_OK);
    EXPECT_EQ(ansiFromBstr(out.bstrVal), "1.5");
    cy.llVal = 9;  // 0.0009
    ASSERT_EQ(VariantChangeType(&out, &cy, 0, VT_BSTR), S_OK);
    EXPECT_EQ(ansiFromBstr(out.bstrVal), "0.0009");
    cy.llVal = -20000;
    ASSERT_EQ(VariantChangeType(&out, &cy, 0, VT_BSTR), S_OK);
    EXPECT_EQ(ansiFromBstr(out.bstrVal), "-2");

    Var big;
    big.vt = VT_UI8;
    big.ullVal = 18'000'000'000'000'000'000ULL;
    ASSERT_EQ(VariantChangeType(&out, &big, 0, VT_BSTR), S_OK);
    EXPECT_EQ(ansiFromBstr(out.bstrVal), "18000000000000000000");
    EXPECT_EQ(VariantChangeType(&out, &big, 0, VT_I8), DISP_E_OVERFLOW);
    Var text;
    text.vt = VT_BSTR;
    text.bstrVal = bstrFromAnsi("-9223372036854775808");
    ASSERT_EQ(VariantChangeType(&out, &text, 0, VT_I8), S_OK);
    EXPECT_EQ(out.llVal, std::numeric_limits<std::int64_t>::min());

    Var empty;
    for (VARTYPE vt : {VT_I8, VT_UI8, VT_CY}) {
        ASSERT_EQ(VariantChangeType(&out, &empty, 0, vt), S_OK) << vt;
        EXPECT_EQ(out.vt, vt);
        EXPECT_EQ(out.llVal, 0);
    }
}
