#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "ferrow/ua/certificate.h"

namespace ferrow::ua {

// What a peer's certificate is checked against: the trusted certificates (trust anchors, CAs or the
// peers' own certificates), the issuers (CAs that may complete a chain but are not trusted by
// themselves) and the revocation lists of either.
struct TrustMaterial {
    std::vector<Certificate> trusted;
    std::vector<Certificate> issuers;
    std::vector<std::shared_ptr<X509_CRL>> revocationLists;
};

// Checks `chain` (the peer's certificate first, then any CAs it sent) with OpenSSL and names the first
// failure in the order a UA peer expects them: chain incomplete, signature, trust, validity, use,
// revocation. 0 (Good) when the certificate may be used. A CA without a revocation list here is not
// checked for revocation. Pure: reads nothing but its arguments; any thread.
std::uint32_t verifyChain(const std::vector<Certificate>& chain, const TrustMaterial& material);

}  // namespace ferrow::ua
