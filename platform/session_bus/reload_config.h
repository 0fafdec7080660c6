#pragma once

#include <chrono>

namespace platform {

// Asks the session bus to read its configuration and activation files again, so that an activation
// file just written is known at once: a bus watches only the service folders that existed when it
// started, and a fresh account's ~/.local/share/dbus-1/services usually did not. Waits for the bus's
// answer at most `limit`; false when there is no bus or it did not answer in time (the file is then
// found at the bus's next start).
bool reloadSessionBusConfig(std::chrono::milliseconds limit = std::chrono::milliseconds{3000});

}  // namespace platform
