#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/com/filetime.h"
#include "platform/com/hresult.h"

namespace ferrow::opc {

using platform::com::HRESULT;

// What Ferrow's COM server thread does with the OPC server objects. Each may be called from any thread
// while clients are calling in.

// Registers the class object of Ferrow's server class in the process class table (local server,
// multiple use); *cookie identifies the registration.
HRESULT RegisterServerClassObject(std::uint32_t* cookie);
// How long NotifyServersShutdown waits for the sinks, which it calls side by side.
inline constexpr std::chrono::milliseconds kShutdownSinkLimit{10000};
// Sends ShutdownRequest(reason) to every shutdown sink of every server in serverList, each on a thread of
// its own, so a slow client does not keep the others from hearing it; returns when all have answered or
// after kShutdownSinkLimit. A sink still in its call then is left to it: its thread owns the sink's
// reference and the text.
void NotifyServersShutdown(const std::u16string& reason);
// How long DisconnectAndDeleteServers waits for all the servers to be cut off and destroyed.
inline constexpr std::chrono::milliseconds kDisconnectAllLimit{3000};
// Server by server: cuts it off from its clients (their further calls fail with RPC_E_DISCONNECTED and
// never reach a destroyed object), destroys it whatever its reference count, then pauses. Done on a
// thread of its own that is waited for at most kDisconnectAllLimit; false when it was let go then (a
// client's call or sink held it up): it still owns the servers and may reach their devices' tags.
bool DisconnectAndDeleteServers(std::chrono::milliseconds pauseBetween);
HRESULT RevokeServerClassObject(std::uint32_t cookie);

// The process start time that GetStatus reports; the application records it at start-up. Until then it
// is the time this module was loaded.
void SetServerStartTime(const platform::com::FILETIME& time);
platform::com::FILETIME ServerStartTime();

}  // namespace ferrow::opc
