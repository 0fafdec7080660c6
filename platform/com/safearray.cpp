#include "platform/com/safearray.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace platform::com {

namespace {
// The element type lives in front of the descriptor, as the platform keeps it with FADF_HAVEVARTYPE.
struct Block {
    VARTYPE vt;
    SAFEARRAY array;
};

Block* blockOf(const SAFEARRAY* array) {
    return reinterpret_cast<Block*>(reinterpret_cast<char*>(const_cast<SAFEARRAY*>(array)) -
                                    offsetof(Block, array));
}

std::uint32_t elementSize(VARTYPE vt) {
    switch (vt) {
        case VT_BSTR:
            return sizeof(BSTR);
        case VT_VARIANT:
            return sizeof(VARIANT);
        default:
            return scalarByteSize(vt);
    }
}

char* elementAt(const SAFEARRAY* array, const std::int32_t* index) {
    if (!array || !index) return nullptr;
    const std::int64_t offset = std::int64_t{*index} - array->rgsabound[0].lLbound;
    if (offset < 0 || offset >= array->rgsabound[0].cElements) return nullptr;
    return static_cast<char*>(array->pvData) + offset * array->cbElements;
}

void clearElements(SAFEARRAY* array, VARTYPE vt) {
    for (std::uint32_t i = 0; i < array->rgsabound[0].cElements; ++i) {
        char* at = static_cast<char*>(array->pvData) + std::size_t{i} * array->cbElements;
        if (vt == VT_BSTR) {
            BSTR text;
            std::memcpy(&text, at, sizeof text);
            SysFreeString(text);
        } else if (vt == VT_VARIANT) {
            VariantClear(reinterpret_cast<VARIANT*>(at));
        }
    }
}
}  // namespace

bool isArrayElementType(VARTYPE vt) { return elementSize(vt) != 0; }

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, std::int32_t lowerBound, std::uint32_t count) {
    const std::uint32_t size = elementSize(vt);
    if (size == 0) return nullptr;
    if (count > std::numeric_limits<std::size_t>::max() / size) return nullptr;
    auto* block = static_cast<Block*>(std::calloc(1, sizeof(Block)));
    if (!block) return nullptr;
    void* data = std::calloc(count == 0 ? 1 : count, size);
    if (!data) {
        std::free(block);
        return nullptr;
    }
    block->vt = vt;
    SAFEARRAY* array = &block->array;
    array->cDims = 1;
    array->fFeatures =
        FADF_HAVEVARTYPE | (vt == VT_BSTR ? FADF_BSTR : 0) | (vt == VT_VARIANT ? FADF_VARIANT : 0);
    array->cbElements = size;
    array->pvData = data;
    array->rgsabound[0] = {count, lowerBound};
    return array;
}

SAFEARRAY* SafeArrayCreate(VARTYPE vt, unsigned dims, const SAFEARRAYBOUND* bounds) {
    if (dims != 1 || !bounds) return nullptr;
    return SafeArrayCreateVector(vt, bounds[0].lLbound, bounds[0].cElements);
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
    if (!array) return S_OK;
    if (array->cLocks) return DISP_E_ARRAYISLOCKED;
    clearElements(array, blockOf(array)->vt);
    std::free(array->pvData);
    std::free(blockOf(array));
    return S_OK;
}

HRESULT SafeArrayCopy(const SAFEARRAY* array, SAFEARRAY** copy) {
    if (!copy) return E_INVALIDARG;
    *copy = nullptr;
    if (!array) return S_OK;
    const VARTYPE vt = blockOf(array)->vt;
    SAFEARRAY* out = SafeArrayCreateVector(vt, array->rgsabound[0].lLbound, array->rgsabound[0].cElements);
    if (!out) return E_OUTOFMEMORY;
    const std::uint32_t count = array->rgsabound[0].cElements;
    for (std::uint32_t i = 0; i < count; ++i) {
        const char* from = static_cast<const char*>(array->pvData) + std::size_t{i} * array->cbElements;
        char* to = static_cast<char*>(out->pvData) + std::size_t{i} * out->cbElements;
        HRESULT r = S_OK;
        if (vt == VT_BSTR) {
            BSTR text, copied = nullptr;
            std::memcpy(&text, from, sizeof text);
            if (text && !(copied = SysAllocStringLen(text, SysStringLen(text)))) r = E_OUTOFMEMORY;
            std::memcpy(to, &copied, sizeof copied);
        } else if (vt == VT_VARIANT) {
            r = VariantCopy(reinterpret_cast<VARIANT*>(to), reinterpret_cast<const VARIANT*>(from));
        } else {
            std::memcpy(to, from, array->cbElements);
        }
        if (FAILED(r)) {
            SafeArrayDestroy(out);
            return r;
        }
    }
    *copy = out;
    return S_OK;
}

HRESULT SafeArrayGetVartype(const SAFEARRAY* array, VARTYPE* vt) {
    if (!array || !vt) return E_INVALIDARG;
    *vt = blockOf(array)->vt;
    return S_OK;
}

unsigned SafeArrayGetDim(const SAFEARRAY* array) { return array ? array->cDims : 0; }

HRESULT SafeArrayGetLBound(const SAFEARRAY* array, unsigned dim, std::int32_t* bound) {
    if (!array || !bound) return E_INVALIDARG;
    if (dim != 1) return DISP_E_BADINDEX;
    *bound = array->rgsabound[0].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(const SAFEARRAY* array, unsigned dim, std::int32_t* bound) {
    if (!array || !bound) return E_INVALIDARG;
    if (dim != 1) return DISP_E_BADINDEX;
    *bound = static_cast<std::int32_t>(std::int64_t{array->rgsabound[0].lLbound} +
                                       array->rgsabound[0].cElements - 1);
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
    if (!array || !data) return E_INVALIDARG;
    ++array->cLocks;
    *data = array->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) {
    if (!array) return E_INVALIDARG;
    if (array->cLocks == 0) return E_UNEXPECTED;
    --array->cLocks;
    return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, const std::int32_t* index, const void* value) {
    if (!array || !value) return E_INVALIDARG;
    char* at = elementAt(array, index);
    if (!at) return DISP_E_BADINDEX;
    const VARTYPE vt = blockOf(array)->vt;
    if (vt == VT_BSTR) {
        const BSTR text = static_cast<OLECHAR*>(const_cast<void*>(value));
        BSTR copied = nullptr;
        if (text && !(copied = SysAllocStringLen(text, SysStringLen(text)))) return E_OUTOFMEMORY;
        BSTR old;
        std::memcpy(&old, at, sizeof old);
        SysFreeString(old);
        std::memcpy(at, &copied, sizeof copied);
        return S_OK;
    }
    if (vt == VT_VARIANT)
        return VariantCopy(reinterpret_cast<VARIANT*>(at), static_cast<const VARIANT*>(value));
    std::memcpy(at, value, array->cbElements);
    return S_OK;
}

HRESULT SafeArrayGetElement(const SAFEARRAY* array, const std::int32_t* index, void* value) {
    if (!array || !value) return E_INVALIDARG;
    const char* at = elementAt(array, index);
    if (!at) return DISP_E_BADINDEX;
    const VARTYPE vt = blockOf(array)->vt;
    if (vt == VT_BSTR) {
        BSTR text, copied = nullptr;
        std::memcpy(&text, at, sizeof text);
        if (text && !(copied = SysAllocStringLen(text, SysStringLen(text)))) return E_OUTOFMEMORY;
        std::memcpy(value, &copied, sizeof copied);
        return S_OK;
    }
    if (vt == VT_VARIANT) {
        auto* out = static_cast<VARIANT*>(value);
        VariantInit(out);
        return VariantCopy(out, reinterpret_cast<const VARIANT*>(at));
    }
    std::memcpy(value, at, array->cbElements);
    return S_OK;
}

}  // namespace platform::com
