#include "platform/com/variant.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "platform/com/safearray.h"
#include "platform/com/variant_text.h"

namespace platform::com {

namespace {

// Type codes that have a meaning on the platform, whether or not this layer converts them.
bool isDefinedVarType(VARTYPE vt) {
    if ((vt & ~VT_TYPEMASK) == VT_ARRAY) return isArrayElementType(vt & VT_TYPEMASK);
    if (vt & (VT_VECTOR | VT_ARRAY | VT_BYREF | VT_RESERVED)) return false;
    return vt <= VT_DECIMAL || (vt >= VT_I1 && vt <= VT_UINT) || vt == VT_RECORD;
}

struct IntRange {
    std::int64_t low = 0;
    std::int64_t high = 0;
};

bool integerRange(VARTYPE vt, IntRange* range) {
    switch (vt) {
        case VT_I1:
            *range = {-128, 127};
            return true;
        case VT_I2:
            *range = {-32768, 32767};
            return true;
        case VT_I4:
        case VT_INT:
            *range = {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
            return true;
        case VT_UI1:
            *range = {0, 255};
            return true;
        case VT_UI2:
            *range = {0, 65535};
            return true;
        case VT_UI4:
        case VT_UINT:
            *range = {0, std::numeric_limits<std::uint32_t>::max()};
            return true;
        case VT_I8:
            *range = {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()};
            return true;
        // Unsigned values beyond the signed 64-bit range are refused as overflow, never wrapped.
        case VT_UI8:
            *range = {0, std::numeric_limits<std::int64_t>::max()};
            return true;
        default:
            return false;
    }
}

std::int64_t integerOf(const VARIANT& v) {
    switch (v.vt) {
        case VT_I1:
            return v.cVal;
        case VT_I2:
            return v.iVal;
        case VT_I4:
            return v.lVal;
        case VT_INT:
            return v.intVal;
        case VT_UI1:
            return v.bVal;
        case VT_UI2:
            return v.uiVal;
        case VT_UI4:
            return v.ulVal;
        case VT_UINT:
            return v.uintVal;
        case VT_BOOL:
            return v.boolVal;
        case VT_I8:
            return v.llVal;
        case VT_UI8:
            return static_cast<std::int64_t>(v.ullVal);
        default:
            return 0;
    }
}

void storeInteger(VARTYPE vt, std::int64_t value, VARIANT* out) {
    out->vt = vt;
    out->llVal = 0;
    switch (vt) {
        case VT_I1:
            out->cVal = static_cast<std::int8_t>(value);
            break;
        case VT_I2:
            out->iVal = static_cast<std::int16_t>(value);
            break;
        case VT_I4:
            out->lVal = static_cast<std::int32_t>(value);
            break;
        case VT_INT:
            out->intVal = static_cast<std::int32_t>(value);
            break;
        case VT_UI1:
            out->bVal = static_cast<std::uint8_t>(value);
            break;
        case VT_UI2:
            out->uiVal = static_cast<std::uint16_t>(value);
            break;
        case VT_UI4:
            out->ulVal = static_cast<std::uint32_t>(value);
            break;
        case VT_UINT:
            out->uintVal = static_cast<std::uint32_t>(value);
            break;
        case VT_I8:
            out->llVal = value;
            break;
        case VT_UI8:
            out->ullVal = static_cast<std::uint64_t>(value);
            break;
        default:
            break;
    }
}

// Banker's rounding, independent of the floating-point environment's rounding mode.
double roundHalfEven(double value) {
    const double floor = std::floor(value);
    const double rest = value - floor;
    if (rest > 0.5) return floor + 1.0;
    if (rest < 0.5) return floor;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

// The source as one of: a number (integer or real) or text.
struct Source {
    enum Kind { Integer, Real, Text } kind;
    std::int64_t integer = 0;
    double real = 0;
    std::string text;
};

constexpr std::int64_t kCyScale = 10000;

HRESULT readSource(const VARIANT& src, Source* source) {
    IntRange unused;
    if (src.vt == VT_UI8 &&
        src.ullVal > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        source->kind = Source::Real;
        source->real = static_cast<double>(src.ullVal);
    } else if (src.vt == VT_CY) {
        // A whole currency amount stays an integer; a fraction makes it a real.
        if (src.llVal % kCyScale == 0) {
            source->kind = Source::Integer;
            source->integer = src.llVal / kCyScale;
        } else {
            source->kind = Source::Real;
            source->real = static_cast<double>(src.llVal) / kCyScale;
        }
    } else if (integerRange(src.vt, &unused) || src.vt == VT_BOOL) {
        source->kind = Source::Integer;
        source->integer = integerOf(src);
    } else if (src.vt == VT_R4 || src.vt == VT_R8 || src.vt == VT_DATE) {
        source->kind = Source::Real;
        source->real = src.vt == VT_R4 ? static_cast<double>(src.fltVal) : src.dblVal;
    } else if (src.vt == VT_BSTR) {
        if (!src.bstrVal) return DISP_E_TYPEMISMATCH;
        source->kind = Source::Text;
        source->text = ansiFromBstr(src.bstrVal);
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT numberFromText(const std::string& text, double* value) {
    const auto parsed = parseReal(text);
    if (!parsed) return DISP_E_TYPEMISMATCH;
    if (std::isinf(*parsed)) return DISP_E_OVERFLOW;
    *value = *parsed;
    return S_OK;
}

HRESULT toInteger(const VARIANT& src, const Source& s, VARTYPE vt, VARIANT* out) {
    IntRange range{0, 0};
    integerRange(vt, &range);
    std::int64_t value;
    if (s.kind == Source::Integer) {
        // A boolean is a bit pattern (VARIANT_TRUE is all ones) and VT_UINT reaches VT_I4 unchecked, as
        // on the platform; every other integer is range-checked.
        if (src.vt == VT_BOOL || (src.vt == VT_UINT && (vt == VT_I4 || vt == VT_INT))) {
            storeInteger(vt, s.integer, out);
            return S_OK;
        }
        value = s.integer;
    } else {
        double real = s.real;
        if (s.kind == Source::Text) {
            if (const HRESULT r = numberFromText(s.text, &real); FAILED(r)) return r;
        }
        real = roundHalfEven(real);
        // high + 1 is exact as a double also for the 64-bit types, whose high itself is not.
        if (!(real >= static_cast<double>(range.low) && real < static_cast<double>(range.high) + 1.0))
            return DISP_E_OVERFLOW;
        value = static_cast<std::int64_t>(real);
    }
    if (value < range.low || value > range.high) return DISP_E_OVERFLOW;
    storeInteger(vt, value, out);
    return S_OK;
}

HRESULT toReal(const Source& s, VARTYPE vt, VARIANT* out) {
    double value = s.kind == Source::Integer ? static_cast<double>(s.integer) : s.real;
    if (s.kind == Source::Text) {
        if (vt == VT_DATE) {
            const auto date = parseDate(s.text);
            if (!date) return DISP_E_TYPEMISMATCH;
            value = *date;
        } else if (const HRESULT r = numberFromText(s.text, &value); FAILED(r)) {
            return r;
        }
    }
    out->vt = vt;
    out->llVal = 0;
    if (vt == VT_R4) {
        if (std::isfinite(value) && std::fabs(value) > FLT_MAX) return DISP_E_OVERFLOW;
        out->fltVal = static_cast<float>(value);
    } else if (vt == VT_DATE) {
        if (!isValidDate(value)) return DISP_E_OVERFLOW;
        out->date = value;
    } else {
        out->dblVal = value;
    }
    return S_OK;
}

HRESULT toCurrency(const VARIANT& src, const Source& s, VARIANT* out) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max() / kCyScale;
    std::int64_t scaled;
    if (src.vt == VT_CY) {
        scaled = src.llVal;
    } else if (s.kind == Source::Integer) {
        if (s.integer > kMax || s.integer < -kMax) return DISP_E_OVERFLOW;
        scaled = s.integer * kCyScale;
    } else {
        double real = s.real;
        if (s.kind == Source::Text) {
            if (const HRESULT r = numberFromText(s.text, &real); FAILED(r)) return r;
        }
        real = roundHalfEven(real * kCyScale);
        if (!(real >= -9223372036854775808.0 && real < 9223372036854775808.0)) return DISP_E_OVERFLOW;
        scaled = static_cast<std::int64_t>(real);
    }
    out->vt = VT_CY;
    out->llVal = scaled;
    return S_OK;
}

// "-12.3456" with the trailing zeros of the fraction dropped.
std::string currencyText(std::int64_t scaled) {
    const bool negative = scaled < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
    std::string text;
    if (negative) text.push_back('-');
    text.append(std::to_string(magnitude / kCyScale));
    if (const std::uint64_t fraction = magnitude % kCyScale; fraction != 0) {
        char digits[8];
        std::snprintf(digits, sizeof digits, ".%04u", static_cast<unsigned>(fraction));
        std::size_t length = 5;
        while (digits[length - 1] == '0') --length;
        text.append(digits, length);
    }
    return text;
}

HRESULT toBool(const VARIANT& src, const Source& s, VARIANT* out) {
    out->vt = VT_BOOL;
    out->llVal = 0;
    if (src.vt == VT_BOOL) {
        out->boolVal = src.boolVal;  // a raw 1 stays 1
        return S_OK;
    }
    bool value;
    if (s.kind == Source::Integer) {
        value = s.integer != 0;
    } else if (s.kind == Source::Real) {
        value = s.real != 0.0;  // 0.4 is true: no rounding first
    } else if (s.text == "#TRUE#" || s.text == "#FALSE#") {
        value = s.text == "#TRUE#";
    } else {
        std::string lower;
        for (char c : s.text) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        const auto begin = lower.find_first_not_of(" \t");
        const auto end = lower.find_last_not_of(" \t");
        const std::string word =
            begin == std::string::npos ? std::string() : lower.substr(begin, end - begin + 1);
        if (word == "true" || word == "false") {
            value = word == "true";
        } else {
            double number;
            if (const HRESULT r = numberFromText(s.text, &number); FAILED(r)) return r;
            value = number != 0.0;
        }
    }
    out->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT toText(const VARIANT& src, const Source& s, std::uint16_t flags, VARIANT* out) {
    std::string text;
    if (src.vt == VT_BSTR) {
        BSTR copy = SysAllocStringLen(src.bstrVal, SysStringLen(src.bstrVal));
        if (!copy) return E_OUTOFMEMORY;
        out->vt = VT_BSTR;
        out->bstrVal = copy;
        return S_OK;
    }
    if (src.vt == VT_BOOL && (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)))
        text = src.boolVal ? "True" : "False";
    else if (src.vt == VT_CY)
        text = currencyText(src.llVal);
    else if (src.vt == VT_UI8)
        text = std::to_string(src.ullVal);
    else if (s.kind == Source::Integer)
        text = std::to_string(s.integer);
    else if (src.vt == VT_DATE) {
        text = formatDate(s.real);
        if (text.empty()) return DISP_E_OVERFLOW;
    } else
        text = formatReal(s.real, src.vt == VT_R4 ? 7 : 15);
    BSTR result = bstrFromAnsi(text);
    if (!result) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    out->bstrVal = result;
    return S_OK;
}

HRESULT convert(const VARIANT& src, std::uint16_t flags, VARTYPE vt, VARIANT* out) {
    IntRange range;
    // A null converts to nothing but null, not even to empty.
    if (src.vt == VT_NULL && vt != VT_NULL) return DISP_E_TYPEMISMATCH;
    if (vt == VT_EMPTY) return S_OK;
    if (src.vt == VT_NULL || vt == VT_NULL) {
        if (src.vt != vt && src.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
        out->vt = VT_NULL;
        return S_OK;
    }
    if (!isKnownVarType(vt) || !isKnownVarType(src.vt)) return DISP_E_TYPEMISMATCH;
    if (src.vt == VT_EMPTY) {
        // Nothing converts to zero, empty text or false.
        out->llVal = 0;
        if (vt == VT_BSTR) {
            out->bstrVal = SysAllocStringLen(nullptr, 0);
            if (!out->bstrVal) return E_OUTOFMEMORY;
        }
        out->vt = vt;
        return S_OK;
    }
    Source source;
    if (const HRESULT r = readSource(src, &source); FAILED(r)) return r;
    if (integerRange(vt, &range)) return toInteger(src, source, vt, out);
    switch (vt) {
        case VT_CY:
            return toCurrency(src, source, out);
        case VT_R4:
        case VT_R8:
        case VT_DATE:
            return toReal(source, vt, out);
        case VT_BOOL:
            return toBool(src, source, out);
        case VT_BSTR:
            return toText(src, source, flags, out);
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

}  // namespace

bool isKnownVarType(VARTYPE vt) {
    IntRange unused;
    return vt == VT_EMPTY || vt == VT_NULL || vt == VT_R4 || vt == VT_R8 || vt == VT_DATE || vt == VT_BOOL ||
           vt == VT_CY || vt == VT_BSTR || integerRange(vt, &unused);
}

void VariantInit(VARIANT* variant) {
    variant->vt = VT_EMPTY;
    variant->wReserved1 = variant->wReserved2 = variant->wReserved3 = 0;
    variant->llVal = 0;
}

HRESULT VariantClear(VARIANT* variant) {
    if (!variant) return E_INVALIDARG;
    if (!isDefinedVarType(variant->vt)) return DISP_E_BADVARTYPE;
    if (variant->vt == VT_BSTR) SysFreeString(variant->bstrVal);
    if (variant->vt & VT_ARRAY) SafeArrayDestroy(variant->parray);
    VariantInit(variant);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (dest == src) return S_OK;
    if (!isDefinedVarType(src->vt)) return DISP_E_BADVARTYPE;
    VARIANT copy = *src;
    if (src->vt == VT_BSTR && src->bstrVal) {
        copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
        if (!copy.bstrVal) return E_OUTOFMEMORY;
    }
    if (src->vt & VT_ARRAY) {
        if (const HRESULT r = SafeArrayCopy(src->parray, &copy.parray); FAILED(r)) return r;
    }
    if (const HRESULT r = VariantClear(dest); FAILED(r)) {
        VariantClear(&copy);
        return r;
    }
    *dest = copy;
    return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, std::uint16_t flags, VARTYPE vt) {
    if (!dest || !src) return E_INVALIDARG;
    if (!isDefinedVarType(vt) || !isDefinedVarType(src->vt) || !isDefinedVarType(dest->vt))
        return DISP_E_BADVARTYPE;
    VARIANT result;
    VariantInit(&result);
    if ((src->vt | vt) & VT_ARRAY) {
        if (src->vt != vt) return DISP_E_TYPEMISMATCH;
        if (const HRESULT r = VariantCopy(&result, src); FAILED(r)) return r;
    } else if (const HRESULT r = convert(*src, flags, vt, &result); FAILED(r)) {
        VariantClear(&result);
        return r;
    }
    // Only now may dest (possibly src itself) change: a failed conversion leaves it as it was.
    VariantClear(dest);
    *dest = result;
    return S_OK;
}

namespace {
bool realsEqual(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

bool arraysEqual(const SAFEARRAY* a, const SAFEARRAY* b) {
    if (!a || !b) return a == b;
    if (a->rgsabound[0].cElements != b->rgsabound[0].cElements ||
        a->rgsabound[0].lLbound != b->rgsabound[0].lLbound)
        return false;
    VARTYPE vt = VT_EMPTY;
    SafeArrayGetVartype(a, &vt);
    for (std::uint32_t i = 0; i < a->rgsabound[0].cElements; ++i) {
        VARIANT x, y;
        VariantInit(&x);
        VariantInit(&y);
        const auto index = static_cast<std::int32_t>(a->rgsabound[0].lLbound + static_cast<std::int64_t>(i));
        if (vt == VT_VARIANT) {
            SafeArrayGetElement(a, &index, &x);
            SafeArrayGetElement(b, &index, &y);
        } else {
            // Element by element through a variant of the element type, so that texts and reals compare
            // as values.
            x.vt = y.vt = vt;
            SafeArrayGetElement(a, &index, vt == VT_BSTR ? static_cast<void*>(&x.bstrVal) : &x.llVal);
            SafeArrayGetElement(b, &index, vt == VT_BSTR ? static_cast<void*>(&y.bstrVal) : &y.llVal);
        }
        const bool same = VariantEqual(x, y);
        VariantClear(&x);
        VariantClear(&y);
        if (!same) return false;
    }
    return true;
}
}  // namespace

bool VariantEqual(const VARIANT& a, const VARIANT& b) {
    if (a.vt != b.vt) return false;
    if (a.vt & VT_ARRAY) return arraysEqual(a.parray, b.parray);
    switch (a.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return true;
        case VT_I1:
        case VT_UI1:
            return a.bVal == b.bVal;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return a.uiVal == b.uiVal;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_ERROR:
            return a.ulVal == b.ulVal;
        case VT_R4:
            return realsEqual(a.fltVal, b.fltVal);
        case VT_R8:
        case VT_DATE:
            return realsEqual(a.dblVal, b.dblVal);
        case VT_BSTR:
            return view(a.bstrVal) == view(b.bstrVal);
        default:
            return a.ullVal == b.ullVal;
    }
}

std::uint32_t scalarByteSize(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
            return 4;
        case VT_R8:
        case VT_DATE:
        case VT_CY:
        case VT_I8:
        case VT_UI8:
            return 8;
        default:
            return 0;
    }
}

}  // namespace platform::com
