#pragma once

#include <openssl/evp.h>

#include <optional>
#include <string>
#include <string_view>

namespace ferrow::ua {

struct SecurityPolicy;

// Proofs the session services exchange over a secured channel. Stateless; any thread.

// Our signature over certificate || nonce with the policy's asymmetric signature; empty for None or
// when the key cannot sign.
std::string sessionSignature(const SecurityPolicy& policy, EVP_PKEY* ourKey, std::string_view certificate,
                             std::string_view nonce);

// Whether `signature` is the peer's signature over certificate || nonce, checked with the key of its
// certificate. Always false for None (there is nothing to prove with it).
bool verifySessionSignature(const SecurityPolicy& policy, std::string_view peerCertificateDer,
                            std::string_view certificate, std::string_view nonce, std::string_view signature);

// The secret of an encrypted user name token: decrypts with our key, then expects a little-endian
// length of secret + nonce, the secret, and our server nonce. Returns nullopt for None, on a failed
// decryption, a length that does not fit, or a nonce that is not `serverNonce`.
std::optional<std::string> decryptUserTokenSecret(const SecurityPolicy& policy, EVP_PKEY* ourKey,
                                                  std::string_view encrypted, std::string_view serverNonce);

}  // namespace ferrow::ua
