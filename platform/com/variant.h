#pragma once

#include <cstdint>

#include "platform/com/bstr.h"
#include "platform/com/filetime.h"
#include "platform/com/hresult.h"

namespace platform::com {

struct SAFEARRAY;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_RECORD = 36,
    VT_VECTOR = 0x1000,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_RESERVED = 0x8000,
    VT_TYPEMASK = 0xFFF,
    VT_ILLEGAL = 0xFFFF,
};

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// Flags of VariantChangeType.
inline constexpr std::uint16_t VARIANT_NOVALUEPROP = 0x01;
inline constexpr std::uint16_t VARIANT_ALPHABOOL = 0x02;
inline constexpr std::uint16_t VARIANT_NOUSEROVERRIDE = 0x04;
inline constexpr std::uint16_t VARIANT_LOCALBOOL = 0x08;

// The tagged value of OLE Automation: a type code, three reserved words and the value. A VT_BSTR
// variant owns its string; VariantClear and VariantCopy manage it.
struct VARIANT {
    VARTYPE vt;
    std::uint16_t wReserved1;
    std::uint16_t wReserved2;
    std::uint16_t wReserved3;
    union {
        std::int64_t llVal;
        std::uint64_t ullVal;
        std::int32_t lVal;
        std::uint8_t bVal;
        std::int16_t iVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        DATE date;
        BSTR bstrVal;
        std::int8_t cVal;
        std::uint16_t uiVal;
        std::uint32_t ulVal;
        std::int32_t intVal;
        std::uint32_t uintVal;
        void* byref;
        SAFEARRAY* parray;  // VT_ARRAY | element type: the variant owns the array
    };
};

void VariantInit(VARIANT* variant);
// Frees what the variant owns (a string, an array) and leaves it VT_EMPTY; DISP_E_BADVARTYPE (variant
// untouched) for a type code this layer does not know.
HRESULT VariantClear(VARIANT* variant);
// dest becomes a deep copy of src (dest is cleared first).
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Converts src to type vt into dest (which may be src itself). On failure dest is left as it was.
// Covers VT_EMPTY, VT_NULL, the integer types (VT_I8 and VT_UI8 too), VT_R4, VT_R8, VT_CY, VT_BOOL,
// VT_DATE and VT_BSTR; text is read and written with the en-US conventions. An array converts only to its
// own type (a copy); a null only to null.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, std::uint16_t flags, VARTYPE vt);

// Same type and same value: texts compare by their characters, arrays element by element, and a real
// equals itself even when it is not a number (so that a NaN is no change).
bool VariantEqual(const VARIANT& a, const VARIANT& b);

// True for the scalar type codes this layer can hold.
bool isKnownVarType(VARTYPE vt);

// Bytes a value of scalar type `vt` occupies (1, 2, 4 or 8); 0 for pointers, texts, VARIANTs and types
// without data of their own.
std::uint32_t scalarByteSize(VARTYPE vt);

}  // namespace platform::com
