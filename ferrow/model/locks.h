#pragma once

#include <mutex>

namespace ferrow {

// The two process-wide locks. The document lock guards the device list, the selection, device settings
// and tag lists; the value lock guards each tag's value, quality and timestamp as a set. Where both are
// held the document lock comes first. Both may be taken again by the thread that holds them.
std::recursive_mutex& documentLock();
std::recursive_mutex& valueLock();

}  // namespace ferrow
