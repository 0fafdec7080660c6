#include "ferrow/ua/security_policy.h"

#include <array>

namespace ferrow::ua {
namespace {

constexpr std::string_view rsaSha256Uri = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
constexpr std::string_view rsaOaepSha1Uri = "http://www.w3.org/2001/04/xmlenc#rsa-oaep";
constexpr std::string_view hmacSha256Uri = "http://www.w3.org/2000/09/xmldsig#hmac-sha256";
constexpr std::string_view aes256CbcUri = "http://www.w3.org/2001/04/xmlenc#aes256-cbc";
constexpr std::string_view aes128CbcUri = "http://www.w3.org/2001/04/xmlenc#aes128-cbc";

constexpr SecurityPolicy noneEntry = [] {
    SecurityPolicy none;
    none.uri = securityPolicyNoneUri;
    return none;
}();

// Both secured policies sign with RSA PKCS#1 v1.5 over SHA-256, encrypt asymmetrically with RSA-OAEP
// (SHA-1 mask) and sign chunks with HMAC-SHA256; they differ in the AES key length.
constexpr SecurityPolicy basic256Sha256Entry{.uri = securityPolicyBasic256Sha256Uri,
                                             .secured = true,
                                             .asymmetricSignatureUri = rsaSha256Uri,
                                             .asymmetricEncryptionUri = rsaOaepSha1Uri,
                                             .symmetricSignatureUri = hmacSha256Uri,
                                             .symmetricEncryptionUri = aes256CbcUri,
                                             .signingKeyLength = 32,
                                             .encryptingKeyLength = 32,
                                             .encryptionBlockSize = 16,
                                             .symmetricSignatureSize = 32,
                                             .nonceLength = 32,
                                             .minAsymmetricKeyBits = 2048,
                                             .maxAsymmetricKeyBits = 4096};

constexpr SecurityPolicy aes128Sha256RsaOaepEntry{.uri = securityPolicyAes128Sha256RsaOaepUri,
                                                  .secured = true,
                                                  .asymmetricSignatureUri = rsaSha256Uri,
                                                  .asymmetricEncryptionUri = rsaOaepSha1Uri,
                                                  .symmetricSignatureUri = hmacSha256Uri,
                                                  .symmetricEncryptionUri = aes128CbcUri,
                                                  .signingKeyLength = 32,
                                                  .encryptingKeyLength = 16,
                                                  .encryptionBlockSize = 16,
                                                  .symmetricSignatureSize = 32,
                                                  .nonceLength = 32,
                                                  .minAsymmetricKeyBits = 2048,
                                                  .maxAsymmetricKeyBits = 4096};

constexpr std::array policies{&noneEntry, &basic256Sha256Entry, &aes128Sha256RsaOaepEntry};

}  // namespace

const SecurityPolicy* findSecurityPolicy(std::string_view uri) {
    for (const SecurityPolicy* policy : policies)
        if (policy->uri == uri) return policy;
    return nullptr;
}

const SecurityPolicy& securityPolicyNone() { return noneEntry; }

}  // namespace ferrow::ua
