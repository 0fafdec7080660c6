#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "ferrow/ua/openssl_handles.h"

namespace ferrow::ua {

// RSA operations of the secured policies: PKCS#1 v1.5 signatures over SHA-256 and RSA-OAEP (SHA-1)
// encryption, block by block. Stateless; callable from any thread.

// The certificate's public key, or an empty handle when the DER does not parse.
EvpPkeyPtr publicKeyOfCertificate(std::string_view certificateDer);

// SHA-1 of the DER certificate: the thumbprint a peer names our certificate with.
std::string certificateThumbprint(std::string_view certificateDer);

std::size_t rsaKeyBytes(EVP_PKEY* key);
// Plain text bytes one OAEP block carries: key bytes minus the SHA-1 OAEP overhead (42).
std::size_t rsaOaepPlainBlockSize(EVP_PKEY* key);

// Signature, or nullopt when OpenSSL refuses (e.g. no private key).
std::optional<std::string> rsaSha256Sign(EVP_PKEY* privateKey, std::string_view data);
bool rsaSha256Verify(EVP_PKEY* publicKey, std::string_view data, std::string_view signature);

// Encrypts `plain` in blocks of rsaOaepPlainBlockSize; the output is whole key-size blocks.
std::optional<std::string> rsaOaepEncrypt(EVP_PKEY* publicKey, std::string_view plain);
// Decrypts whole key-size blocks; nullopt on a length that is not whole blocks or a block that fails.
std::optional<std::string> rsaOaepDecrypt(EVP_PKEY* privateKey, std::string_view cipher);

}  // namespace ferrow::ua
