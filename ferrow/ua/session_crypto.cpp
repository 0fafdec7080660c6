#include "ferrow/ua/session_crypto.h"

#include "ferrow/ua/asymmetric_crypto.h"
#include "ferrow/ua/security_policy.h"
#include "ferrow/ua/symmetric_crypto.h"

namespace ferrow::ua {

std::string sessionSignature(const SecurityPolicy& policy, EVP_PKEY* ourKey, std::string_view certificate,
                             std::string_view nonce) {
    if (!policy.secured) return {};
    std::string data(certificate);
    data.append(nonce);
    return rsaSha256Sign(ourKey, data).value_or(std::string());
}

bool verifySessionSignature(const SecurityPolicy& policy, std::string_view peerCertificateDer,
                            std::string_view certificate, std::string_view nonce,
                            std::string_view signature) {
    if (!policy.secured) return false;
    const EvpPkeyPtr peerKey = publicKeyOfCertificate(peerCertificateDer);
    std::string data(certificate);
    data.append(nonce);
    return peerKey && rsaSha256Verify(peerKey.get(), data, signature);
}

std::optional<std::string> decryptUserTokenSecret(const SecurityPolicy& policy, EVP_PKEY* ourKey,
                                                  std::string_view encrypted, std::string_view serverNonce) {
    if (!policy.secured) return std::nullopt;
    const std::optional<std::string> plain = rsaOaepDecrypt(ourKey, encrypted);
    if (!plain || plain->size() < 4) return std::nullopt;
    std::size_t length = 0;
    for (int index = 3; index >= 0; --index)
        length = (length << 8) | static_cast<unsigned char>((*plain)[static_cast<std::size_t>(index)]);
    // The length counts secret and nonce; the block padding after them is ignored.
    if (length > plain->size() - 4 || length < serverNonce.size()) return std::nullopt;
    const std::string_view content = std::string_view(*plain).substr(4, length);
    const std::string_view nonce = content.substr(content.size() - serverNonce.size());
    if (!signaturesEqual(serverNonce, nonce)) return std::nullopt;
    return std::string(content.substr(0, content.size() - serverNonce.size()));
}

}  // namespace ferrow::ua
