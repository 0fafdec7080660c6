#pragma once

#include <cstddef>
#include <string>

namespace ferrow::ua {

// Bytes from OpenSSL's generator, for nonces and authentication tokens a peer must not guess.
std::string randomBytes(std::size_t count);

}  // namespace ferrow::ua
