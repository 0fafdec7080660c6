#include "ferrow/ua/asymmetric_crypto.h"

#include <openssl/rsa.h>
#include <openssl/sha.h>

namespace ferrow::ua {
namespace {

const unsigned char* bytes(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

constexpr std::size_t oaepSha1Overhead = 2 * 20 + 2;

EvpPkeyCtxPtr oaepContext(EVP_PKEY* key, bool encrypt) {
    EvpPkeyCtxPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!context) return nullptr;
    const int initialised =
        encrypt ? EVP_PKEY_encrypt_init(context.get()) : EVP_PKEY_decrypt_init(context.get());
    if (initialised != 1 || EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_OAEP_PADDING) != 1 ||
        EVP_PKEY_CTX_set_rsa_oaep_md(context.get(), EVP_sha1()) != 1)
        return nullptr;
    return context;
}

}  // namespace

EvpPkeyPtr publicKeyOfCertificate(std::string_view certificateDer) {
    const unsigned char* cursor = bytes(certificateDer);
    X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(certificateDer.size())));
    if (!certificate) return nullptr;
    return EvpPkeyPtr(X509_get_pubkey(certificate.get()));
}

std::string certificateThumbprint(std::string_view certificateDer) {
    std::string digest(SHA_DIGEST_LENGTH, '\0');
    unsigned int length = 0;
    EVP_Digest(certificateDer.data(), certificateDer.size(), reinterpret_cast<unsigned char*>(digest.data()),
               &length, EVP_sha1(), nullptr);
    digest.resize(length);
    return digest;
}

std::size_t rsaKeyBytes(EVP_PKEY* key) {
    const int size = key ? EVP_PKEY_get_size(key) : 0;
    return size > 0 ? static_cast<std::size_t>(size) : 0;
}

std::size_t rsaOaepPlainBlockSize(EVP_PKEY* key) {
    const std::size_t keyBytes = rsaKeyBytes(key);
    return keyBytes > oaepSha1Overhead ? keyBytes - oaepSha1Overhead : 0;
}

std::optional<std::string> rsaSha256Sign(EVP_PKEY* privateKey, std::string_view data) {
    EvpMdCtxPtr context(EVP_MD_CTX_new());
    std::size_t length = 0;
    if (!context || !privateKey ||
        EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, privateKey) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, bytes(data), data.size()) != 1)
        return std::nullopt;
    std::string signature(length, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       bytes(data), data.size()) != 1)
        return std::nullopt;
    signature.resize(length);
    return signature;
}

bool rsaSha256Verify(EVP_PKEY* publicKey, std::string_view data, std::string_view signature) {
    EvpMdCtxPtr context(EVP_MD_CTX_new());
    return context && publicKey &&
           EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, publicKey) == 1 &&
           EVP_DigestVerify(context.get(), bytes(signature), signature.size(), bytes(data), data.size()) == 1;
}

std::optional<std::string> rsaOaepEncrypt(EVP_PKEY* publicKey, std::string_view plain) {
    const std::size_t plainBlock = rsaOaepPlainBlockSize(publicKey);
    const std::size_t cipherBlock = rsaKeyBytes(publicKey);
    EvpPkeyCtxPtr context = plainBlock ? oaepContext(publicKey, true) : nullptr;
    if (!context) return std::nullopt;
    std::string output;
    output.reserve((plain.size() / plainBlock + 1) * cipherBlock);
    for (std::size_t offset = 0; offset < plain.size(); offset += plainBlock) {
        const std::string_view block = plain.substr(offset, plainBlock);
        std::string encrypted(cipherBlock, '\0');
        std::size_t length = encrypted.size();
        if (EVP_PKEY_encrypt(context.get(), reinterpret_cast<unsigned char*>(encrypted.data()), &length,
                             bytes(block), block.size()) != 1 ||
            length != cipherBlock)
            return std::nullopt;
        output += encrypted;
    }
    return output;
}

std::optional<std::string> rsaOaepDecrypt(EVP_PKEY* privateKey, std::string_view cipher) {
    const std::size_t cipherBlock = rsaKeyBytes(privateKey);
    if (cipherBlock == 0 || cipher.size() % cipherBlock != 0) return std::nullopt;
    EvpPkeyCtxPtr context = oaepContext(privateKey, false);
    if (!context) return std::nullopt;
    std::string output;
    output.reserve(cipher.size());
    for (std::size_t offset = 0; offset < cipher.size(); offset += cipherBlock) {
        std::string decrypted(cipherBlock, '\0');
        std::size_t length = decrypted.size();
        if (EVP_PKEY_decrypt(context.get(), reinterpret_cast<unsigned char*>(decrypted.data()), &length,
                             bytes(cipher.substr(offset, cipherBlock)), cipherBlock) != 1)
            return std::nullopt;
        output.append(decrypted, 0, length);
    }
    return output;
}

}  // namespace ferrow::ua
