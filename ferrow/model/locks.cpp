#include "ferrow/model/locks.h"

namespace ferrow {

std::recursive_mutex& documentLock() {
    static std::recursive_mutex lock;
    return lock;
}

std::recursive_mutex& valueLock() {
    static std::recursive_mutex lock;
    return lock;
}

}  // namespace ferrow
