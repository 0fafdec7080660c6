#pragma once

#include <mutex>

namespace ferrow {

// The two process-wide locks. The document lock guards the device list, the selection, device settings
// and tag lists; the value lock guards each tag's value, quality and timestamp as a set. Both may be
// taken again by the thread that holds them.
//
// Lock order for the whole server: a thread that needs more than one of these takes them in this order
// and never the other way round:
//   1. the document lock,
//   2. a device's write lock (taken with no OPC lock held), then the OPC server's and group's own
//      locks (server, group),
//   3. the value lock,
//   4. a device's tag-list lock (ODevice, guards its m_tags against the notification worker),
//   5. a port's own locks (requester, state, socket), which are held only inside the port.
// A port exchange (Execute) may be waited for while holding 1 to 3, never while holding 4. No lock is
// held while calling into a client's sink without a time limit.
std::recursive_mutex& documentLock();
std::recursive_mutex& valueLock();

}  // namespace ferrow
