#pragma once

#include "ferrow/ua/address_space.h"
#include "ferrow/ua/server_info.h"

namespace ferrow::ua {

// Adds the base model of namespace 0 a generic client browses and reads: the standard folders, the
// Server object with its status, capabilities and operation limits, and the reference, object, variable
// and data types these nodes and the device nodes use. `info` must outlive the address space.
void addBaseNodes(AddressSpace& space, const ServerInfo& info);

}  // namespace ferrow::ua
