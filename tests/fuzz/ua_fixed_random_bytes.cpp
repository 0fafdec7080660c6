// The fuzz target's stand-in for the random generator: zeros, so that session tokens are known to the
// seeds.
#include <string>

#include "ferrow/ua/random_bytes.h"

namespace ferrow::ua {

std::string randomBytes(std::size_t count) { return std::string(count, '\0'); }

}  // namespace ferrow::ua
