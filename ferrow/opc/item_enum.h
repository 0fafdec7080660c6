#pragma once

#include <mutex>

#include "ferrow/opc/opc_group.h"
#include "platform/com/com_ptr.h"

namespace ferrow::opc {

// IEnumOPCItemAttributes over a group's live item table: items added after the enumerator was made are
// seen, removed ones are not. Holds a reference on its group; counted in objectCount.
class ItemAttributeEnum final : public platform::com::ComObject<IEnumOPCItemAttributes> {
  public:
    // Null when memory runs out; otherwise the enumerator with one reference for the caller.
    static ItemAttributeEnum* Create(OpcGroup* group, OPCHANDLE position = 0);

    HRESULT Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) override;
    HRESULT Skip(ULONG celt) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) override;

  private:
    ItemAttributeEnum(OpcGroup* group, OPCHANDLE position);

    platform::com::ComPtr<IOPCGroupStateMgt> groupRef_;
    OpcGroup* group_;
    std::mutex positionLock_;  // held across one call, so that concurrent calls do not share a position
    OPCHANDLE position_;       // the handle of the last item handed out or skipped; 0 before the first
};

// Frees what one filled OPCITEMATTRIBUTES owns (its strings and EU information).
void clearItemAttributes(OPCITEMATTRIBUTES* attributes);

}  // namespace ferrow::opc
