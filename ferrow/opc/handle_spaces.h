#pragma once

#include "platform/com/handle_table.h"

namespace ferrow::opc {

// Server group handles are unique among all servers of the process and server item handles among all
// groups, as the objects' identities are: a handle that belongs to another server or group is refused,
// never taken for one of one's own.
platform::com::HandleSpace& groupHandleSpace();
platform::com::HandleSpace& itemHandleSpace();

}  // namespace ferrow::opc
