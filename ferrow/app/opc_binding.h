#pragma once

#include "ferrow/app/com_server_thread.h"

namespace ferrow {

// The COM server thread's work bound to Ferrow's OPC server objects.
ComServerHooks opcServerHooks();

}  // namespace ferrow
