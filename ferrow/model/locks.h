#pragma once

#include <mutex>

namespace ferrow {

// The two process-wide locks. The document lock guards the device list, the selection, device settings
// and tag lists; the value lock guards each tag's value, quality and timestamp as a set. Both may be
// taken again by the thread that holds them.
//
// Lock order for the whole server, written here once: a thread that needs more than one of these
// locks takes them in this order and never the other way round:
//   1. the document lock (item-ID resolution; never taken while holding a lock below),
//   2. a device link's write lock (taken with no OPC lock held),
//   3. the OPC server's lock, then a group's lock (and the data-access core's watch locks, in the same
//      place: a front end's own lock comes before the core's),
//   4. the value lock,
//   5. a device's tag-list lock (ODevice, guards its m_tags against the notification worker),
//   6. a port's own locks (requester, state, socket), which are held only inside the port.
// A port exchange (Execute) may be waited for while holding 1 to 4, never while holding 5. The object
// lock of a connection point, a server's client lock, the lock of a handle space (the process's group
// and item handles), the inner lock of a group's send gate (not the gate itself, held across a delivery)
// and the two locks of a group's request pool (its queue, its threads) are leaves: nothing is taken
// while one is held.
// No lock is held while calling into a client's sink without a time limit.
std::recursive_mutex& documentLock();
std::recursive_mutex& valueLock();

}  // namespace ferrow
