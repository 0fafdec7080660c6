#pragma once

#include <cstdint>

#include "platform/com/variant.h"

namespace platform::com {

struct SAFEARRAYBOUND {
    std::uint32_t cElements;
    std::int32_t lLbound;
};

// One-dimensional arrays of one element type (the platform's layout; the element type is kept in front
// of the descriptor). BSTR and VARIANT elements are owned by the array.
struct SAFEARRAY {
    std::uint16_t cDims;
    std::uint16_t fFeatures;
    std::uint32_t cbElements;
    std::uint32_t cLocks;
    void* pvData;
    SAFEARRAYBOUND rgsabound[1];
};

inline constexpr std::uint16_t FADF_HAVEVARTYPE = 0x80;
inline constexpr std::uint16_t FADF_BSTR = 0x100;
inline constexpr std::uint16_t FADF_VARIANT = 0x800;

// Element types an array can hold: the scalars VariantChangeType knows, VT_I8, VT_UI8, VT_ERROR, VT_BSTR
// and VT_VARIANT.
bool isArrayElementType(VARTYPE vt);

// Zero-filled; null for an element type it cannot hold, more than one dimension, or no memory.
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, std::int32_t lowerBound, std::uint32_t count);
SAFEARRAY* SafeArrayCreate(VARTYPE vt, unsigned dims, const SAFEARRAYBOUND* bounds);
// Frees the elements it owns, then the array; DISP_E_ARRAYISLOCKED while it is accessed.
HRESULT SafeArrayDestroy(SAFEARRAY* array);
// A deep copy (strings and variants copied); E_OUTOFMEMORY leaves *copy null.
HRESULT SafeArrayCopy(const SAFEARRAY* array, SAFEARRAY** copy);
HRESULT SafeArrayGetVartype(const SAFEARRAY* array, VARTYPE* vt);
unsigned SafeArrayGetDim(const SAFEARRAY* array);
HRESULT SafeArrayGetLBound(const SAFEARRAY* array, unsigned dim, std::int32_t* bound);
HRESULT SafeArrayGetUBound(const SAFEARRAY* array, unsigned dim, std::int32_t* bound);
// Locks the array and gives its data; every access ends with SafeArrayUnaccessData.
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);
// Copies in (BSTR and VARIANT elements are copied, the old one freed); DISP_E_BADINDEX outside the bounds.
HRESULT SafeArrayPutElement(SAFEARRAY* array, const std::int32_t* index, const void* value);
// Copies out: a BSTR or VARIANT element is copied for the caller, who frees it.
HRESULT SafeArrayGetElement(const SAFEARRAY* array, const std::int32_t* index, void* value);

}  // namespace platform::com
