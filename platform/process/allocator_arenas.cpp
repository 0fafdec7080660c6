#include "platform/process/allocator_arenas.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace platform::process {

namespace {

bool limitSetByUser() {
    if (std::getenv("MALLOC_ARENA_MAX")) return true;
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    return tunables && std::strstr(tunables, "glibc.malloc.arena_max");
}

}  // namespace

int allocatorArenaLimit() { return static_cast<int>(std::max(2u, std::thread::hardware_concurrency())); }

bool limitAllocatorArenas() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return false;  // the sanitizer's allocator replaces the one with arenas
#else
    if (limitSetByUser()) return false;
    return mallopt(M_ARENA_MAX, allocatorArenaLimit()) == 1;
#endif
}

}  // namespace platform::process
