#pragma once

#include "platform/com/hresult.h"

namespace ferrow::opc {

// Ferrow's own codes for a write that did not reach its device (above the range OPC reserves).
inline constexpr platform::com::HRESULT kDeviceNotConnected = platform::com::hr(0xC0040401);
inline constexpr platform::com::HRESULT kDeviceNoAnswer = platform::com::hr(0xC0040402);
inline constexpr platform::com::HRESULT kDeviceRefused = platform::com::hr(0xC0040403);

// The server's own text of an OPC code or one of Ferrow's; null for any other code.
const char* opcErrorText(platform::com::HRESULT code);
inline constexpr const char* kUnknownErrorText = "Unknown error.";

}  // namespace ferrow::opc
