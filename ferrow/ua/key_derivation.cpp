#include "ferrow/ua/key_derivation.h"

#include "ferrow/ua/security_policy.h"
#include "ferrow/ua/symmetric_crypto.h"

namespace ferrow::ua {
namespace {

ChannelKeys splitKeys(const SecurityPolicy& policy, std::string_view secret, std::string_view seed) {
    const std::size_t total =
        policy.signingKeyLength + policy.encryptingKeyLength + policy.encryptionBlockSize;
    const std::string material = pSha256(secret, seed, total);
    ChannelKeys keys;
    keys.signingKey = material.substr(0, policy.signingKeyLength);
    keys.encryptingKey = material.substr(policy.signingKeyLength, policy.encryptingKeyLength);
    keys.initializationVector = material.substr(policy.signingKeyLength + policy.encryptingKeyLength);
    return keys;
}

}  // namespace

std::string pSha256(std::string_view secret, std::string_view seed, std::size_t length) {
    // A(0) = seed, A(i) = HMAC(secret, A(i-1)); output = HMAC(secret, A(1) + seed) | HMAC(secret, A(2) +
    // seed) ...
    std::string output;
    output.reserve(length + 32);
    std::string chain(seed);
    while (output.size() < length) {
        chain = hmacSha256(secret, chain);
        std::string block = chain;
        block.append(seed);
        output += hmacSha256(secret, block);
    }
    output.resize(length);
    return output;
}

ChannelKeySet deriveChannelKeys(const SecurityPolicy& policy, std::string_view clientNonce,
                                std::string_view serverNonce) {
    return {splitKeys(policy, serverNonce, clientNonce), splitKeys(policy, clientNonce, serverNonce)};
}

}  // namespace ferrow::ua
