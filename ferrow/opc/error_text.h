#pragma once

#include "platform/com/hresult.h"

namespace ferrow::opc {

// The server's own text of an OPC code; null for any other code.
const char* opcErrorText(platform::com::HRESULT code);
inline constexpr const char* kUnknownErrorText = "Unknown error.";

}  // namespace ferrow::opc
