#include "ferrow/opc/handle_spaces.h"

namespace ferrow::opc {

// Never destroyed: tables of objects that outlive static destruction still give their handles back.
platform::com::HandleSpace& groupHandleSpace() {
    static auto* space = new platform::com::HandleSpace;
    return *space;
}

platform::com::HandleSpace& itemHandleSpace() {
    static auto* space = new platform::com::HandleSpace;
    return *space;
}

}  // namespace ferrow::opc
