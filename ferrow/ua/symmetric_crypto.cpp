#include "ferrow/ua/symmetric_crypto.h"

#include <openssl/crypto.h>

#include <stdexcept>

#include "ferrow/ua/openssl_handles.h"

namespace ferrow::ua {
namespace {

const unsigned char* bytes(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

constexpr std::size_t aesBlock = 16;

std::optional<std::string> aesCbc(std::string_view key, std::string_view iv, std::string_view input,
                                  bool encrypt) {
    const EVP_CIPHER* cipher = key.size() == 16   ? EVP_aes_128_cbc()
                               : key.size() == 32 ? EVP_aes_256_cbc()
                                                  : nullptr;
    if (!cipher || iv.size() != aesBlock || input.size() % aesBlock != 0) return std::nullopt;
    EvpCipherCtxPtr context(EVP_CIPHER_CTX_new());
    if (!context ||
        EVP_CipherInit_ex(context.get(), cipher, nullptr, bytes(key), bytes(iv), encrypt ? 1 : 0) != 1)
        return std::nullopt;
    EVP_CIPHER_CTX_set_padding(context.get(), 0);
    std::string output(input.size() + aesBlock, '\0');
    int written = 0;
    int finalWritten = 0;
    auto* out = reinterpret_cast<unsigned char*>(output.data());
    if (EVP_CipherUpdate(context.get(), out, &written, bytes(input), static_cast<int>(input.size())) != 1 ||
        EVP_CipherFinal_ex(context.get(), out + written, &finalWritten) != 1)
        return std::nullopt;
    output.resize(static_cast<std::size_t>(written + finalWritten));
    return output;
}

}  // namespace

std::string hmacSha256(std::string_view key, std::string_view data) {
    std::string out(32, '\0');
    std::size_t outLength = 0;
    if (!EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, key.data(), key.size(), bytes(data),
                   data.size(), reinterpret_cast<unsigned char*>(out.data()), out.size(), &outLength) ||
        outLength != out.size())
        throw std::runtime_error("HMAC-SHA256 failed in OpenSSL");
    return out;
}

bool signaturesEqual(std::string_view expected, std::string_view actual) {
    return expected.size() == actual.size() &&
           CRYPTO_memcmp(expected.data(), actual.data(), expected.size()) == 0;
}

std::optional<std::string> aesCbcEncrypt(std::string_view key, std::string_view iv, std::string_view plain) {
    return aesCbc(key, iv, plain, true);
}

std::optional<std::string> aesCbcDecrypt(std::string_view key, std::string_view iv, std::string_view cipher) {
    return aesCbc(key, iv, cipher, false);
}

}  // namespace ferrow::ua
