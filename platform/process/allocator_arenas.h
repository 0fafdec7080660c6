#pragma once

namespace platform::process {

// By default the C library's allocator gives each new thread an arena of its own, up to eight per
// processor. A server whose pool threads serve bursts of clients then keeps, in each arena, the
// high-water mark of whatever burst its threads last served, and resident memory climbs for as long as
// new mixes of threads and arenas turn up. One arena per processor (at least two) is as many as can be
// busy at once, and lets the memory one thread freed serve the next.
//
// The number of arenas limitAllocatorArenas() allows.
int allocatorArenaLimit();

// Sets that limit for the whole process: call it first in main, before any thread starts. Leaves a limit
// the user set in the environment (MALLOC_ARENA_MAX, or arena_max in GLIBC_TUNABLES) alone. False when
// nothing was set: the user's own limit, or an allocator that has no arenas (a sanitizer's).
bool limitAllocatorArenas();

}  // namespace platform::process
