#include "ferrow/opc/item_enum.h"

#include <new>

#include "ferrow/opc/object_count.h"
#include "platform/com/task_memory.h"

namespace ferrow::opc {

using namespace platform::com;

void clearItemAttributes(OPCITEMATTRIBUTES* attributes) {
    CoTaskMemFree(attributes->szAccessPath);
    CoTaskMemFree(attributes->szItemID);
    VariantClear(&attributes->vEUInfo);
    *attributes = OPCITEMATTRIBUTES{};
}

ItemAttributeEnum* ItemAttributeEnum::Create(OpcGroup* group, OPCHANDLE position) {
    auto* created = new (std::nothrow) ItemAttributeEnum(group, position);
    if (created) created->AddRef();
    return created;
}

ItemAttributeEnum::ItemAttributeEnum(OpcGroup* group, OPCHANDLE position)
    : ComObject(&objectCount), groupRef_(group), group_(group), position_(position) {}

HRESULT ItemAttributeEnum::Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) {
    if (!ppItemArray) return E_INVALIDARG;
    *ppItemArray = nullptr;
    if (pceltFetched) *pceltFetched = 0;
    TaskPtr<OPCITEMATTRIBUTES> items(taskArray<OPCITEMATTRIBUTES>(celt));
    if (!items) return E_OUTOFMEMORY;
    std::lock_guard lock(positionLock_);
    const OPCHANDLE start = position_;
    ULONG fetched = 0;
    for (; fetched < celt; ++fetched) {
        const HRESULT r = group_->NextItemAttributes(&position_, &items[fetched]);
        if (r == S_FALSE) break;
        if (FAILED(r)) {
            for (ULONG i = 0; i < fetched; ++i) clearItemAttributes(&items[i]);
            position_ = start;
            return r;
        }
    }
    if (pceltFetched) *pceltFetched = fetched;
    *ppItemArray = items.release();
    return fetched == celt ? S_OK : S_FALSE;
}

HRESULT ItemAttributeEnum::Skip(ULONG celt) {
    std::lock_guard lock(positionLock_);
    for (ULONG i = 0; i < celt; ++i)
        if (!group_->SkipItem(&position_)) return S_FALSE;
    return S_OK;
}

HRESULT ItemAttributeEnum::Reset() {
    std::lock_guard lock(positionLock_);
    position_ = 0;
    return S_OK;
}

HRESULT ItemAttributeEnum::Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) {
    if (!ppEnumItemAttributes) return E_POINTER;
    *ppEnumItemAttributes = nullptr;
    OPCHANDLE position;
    {
        std::lock_guard lock(positionLock_);
        position = position_;
    }
    ItemAttributeEnum* clone = Create(group_, position);
    if (!clone) return E_OUTOFMEMORY;
    const HRESULT r =
        clone->QueryInterface(IID_IEnumOPCItemAttributes, reinterpret_cast<void**>(ppEnumItemAttributes));
    clone->Release();
    return r;
}

}  // namespace ferrow::opc
