#include "ferrow/ua/random_bytes.h"

#include <openssl/rand.h>

#include <stdexcept>

namespace ferrow::ua {

std::string randomBytes(std::size_t count) {
    std::string out(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(count)) != 1)
        throw std::runtime_error("the system's random generator failed");
    return out;
}

}  // namespace ferrow::ua
