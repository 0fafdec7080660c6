#include "ferrow/opc/object_count.h"

namespace ferrow {

std::atomic<long> objectCount{0};

}  // namespace ferrow
