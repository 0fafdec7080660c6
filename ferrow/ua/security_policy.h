#pragma once

#include <cstddef>
#include <string_view>

namespace ferrow::ua {

// The algorithms and key sizes one security policy fixes for a secure channel. Entries are static and
// immutable, so any thread may read them.
struct SecurityPolicy {
    std::string_view uri;
    bool secured = false;  // false only for None: no headers to sign, no keys to derive
    std::string_view asymmetricSignatureUri;
    std::string_view asymmetricEncryptionUri;
    std::string_view symmetricSignatureUri;
    std::string_view symmetricEncryptionUri;
    std::size_t signingKeyLength = 0;     // derived HMAC key
    std::size_t encryptingKeyLength = 0;  // derived AES key (16 or 32)
    std::size_t encryptionBlockSize = 0;  // AES block, also the derived IV length
    std::size_t symmetricSignatureSize = 0;
    std::size_t nonceLength = 0;
    std::size_t minAsymmetricKeyBits = 0;
    std::size_t maxAsymmetricKeyBits = 0;
};

inline constexpr std::string_view securityPolicyNoneUri = "http://opcfoundation.org/UA/SecurityPolicy#None";
inline constexpr std::string_view securityPolicyBasic256Sha256Uri =
    "http://opcfoundation.org/UA/SecurityPolicy#Basic256Sha256";
inline constexpr std::string_view securityPolicyAes128Sha256RsaOaepUri =
    "http://opcfoundation.org/UA/SecurityPolicy#Aes128_Sha256_RsaOaep";

// The policy with that URI, or nullptr when this endpoint does not implement it.
const SecurityPolicy* findSecurityPolicy(std::string_view uri);

const SecurityPolicy& securityPolicyNone();

}  // namespace ferrow::ua
