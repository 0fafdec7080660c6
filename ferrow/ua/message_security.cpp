#include "ferrow/ua/message_security.h"

#include "ferrow/ua/asymmetric_crypto.h"
#include "ferrow/ua/key_derivation.h"
#include "ferrow/ua/secure_channel.h"
#include "ferrow/ua/security_policy.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/symmetric_crypto.h"
#include "ferrow/ua/tcp_messages.h"

namespace ferrow::ua {
namespace {

constexpr std::size_t kSequenceHeaderSize = 8;
constexpr std::size_t kSymmetricFixedHeader = kTcpHeaderSize + kSymmetricSecurityHeaderSize;

[[noreturn]] void securityFault(const char* reason) {
    throw ChannelFault{status::BadSecurityChecksFailed, reason};
}

// Keys over 2048 bits encrypt blocks large enough that the padding count needs a second byte.
bool needsExtraPadding(std::size_t cipherBlockSize) { return cipherBlockSize > 256; }

// PaddingSize byte, that many bytes of the same value, then ExtraPaddingSize when the block is large.
// `total` counts all of them.
std::string paddingBytes(std::size_t total, bool extra) {
    const std::size_t count = total - (extra ? 2 : 1);
    std::string padding(total, static_cast<char>(count & 0xFF));
    if (extra) padding.back() = static_cast<char>((count >> 8) & 0xFF);
    return padding;
}

// Size of padding needed so that `unpadded` plus padding fills whole blocks; at least the count byte(s).
std::size_t paddingFor(std::size_t unpadded, std::size_t block, bool extra) {
    const std::size_t minimum = extra ? 2 : 1;
    const std::size_t remainder = (unpadded + minimum) % block;
    return minimum + (remainder == 0 ? 0 : block - remainder);
}

// Length of the payload in `plain` (which ends just before the signature) once its padding is checked.
std::size_t stripPadding(std::string_view plain, bool extra) {
    const std::size_t countBytes = extra ? 2 : 1;
    if (plain.size() < kSequenceHeaderSize + countBytes) securityFault("a chunk too short for its padding");
    std::size_t count = static_cast<unsigned char>(plain[plain.size() - countBytes]);
    if (extra) count |= static_cast<std::size_t>(static_cast<unsigned char>(plain.back())) << 8;
    if (count > plain.size() - kSequenceHeaderSize - countBytes)
        securityFault("padding longer than the chunk");
    const std::size_t payloadSize = plain.size() - countBytes - count;
    for (std::size_t index = payloadSize; index < payloadSize + count; ++index)
        if (static_cast<unsigned char>(plain[index]) != (count & 0xFF))
            securityFault("padding bytes that do not match their count");
    return payloadSize;
}

// The transport header with the final size of a chunk of `type`/`chunkType`.
std::string transportHeader(std::string_view type, char chunkType, std::size_t totalSize) {
    std::string framed = frameMessage(type, chunkType, std::string(totalSize - kTcpHeaderSize, '\0'));
    framed.resize(kTcpHeaderSize);
    return framed;
}

}  // namespace

std::size_t maxSymmetricBodySize(const SecurityPolicy& policy, MessageSecurityMode mode,
                                 std::size_t chunkSize) {
    if (chunkSize <= kSymmetricFixedHeader + kSequenceHeaderSize + policy.symmetricSignatureSize + 1)
        return 0;
    std::size_t room = chunkSize - kSymmetricFixedHeader;
    if (!policy.secured || mode == MessageSecurityMode::None) return room - kSequenceHeaderSize;
    if (mode == MessageSecurityMode::Sign) return room - kSequenceHeaderSize - policy.symmetricSignatureSize;
    room -= room % policy.encryptionBlockSize;
    return room - kSequenceHeaderSize - policy.symmetricSignatureSize - 1;
}

std::string protectSymmetricChunk(const SecurityPolicy& policy, MessageSecurityMode mode,
                                  const ChannelKeys& keys, std::string_view type, char chunkType,
                                  std::string_view securityHeader, std::string_view payload) {
    const bool encrypt = mode == MessageSecurityMode::SignAndEncrypt;
    std::string plain(payload);
    if (encrypt)
        plain += paddingBytes(
            paddingFor(plain.size() + policy.symmetricSignatureSize, policy.encryptionBlockSize, false),
            false);
    const std::size_t total =
        kTcpHeaderSize + securityHeader.size() + plain.size() + policy.symmetricSignatureSize;
    std::string chunk = transportHeader(type, chunkType, total);
    chunk.append(securityHeader);
    chunk.append(plain);
    chunk += hmacSha256(keys.signingKey, chunk);
    if (!encrypt) return chunk;
    const std::size_t protectedStart = kTcpHeaderSize + securityHeader.size();
    const auto encrypted = aesCbcEncrypt(keys.encryptingKey, keys.initializationVector,
                                         std::string_view(chunk).substr(protectedStart));
    if (!encrypted) throw ChannelFault{status::BadInternalError, "chunk encryption failed"};
    chunk.replace(protectedStart, std::string::npos, *encrypted);
    return chunk;
}

std::string unprotectSymmetricChunk(const SecurityPolicy& policy, MessageSecurityMode mode,
                                    const ChannelKeys& keys, std::string_view chunk) {
    const std::size_t signatureSize = policy.symmetricSignatureSize;
    if (chunk.size() < kSymmetricFixedHeader + kSequenceHeaderSize + signatureSize)
        securityFault("a chunk too short for its signature");
    const bool encrypt = mode == MessageSecurityMode::SignAndEncrypt;
    std::string signedPart(chunk.substr(0, kSymmetricFixedHeader));
    if (encrypt) {
        const auto decrypted =
            aesCbcDecrypt(keys.encryptingKey, keys.initializationVector, chunk.substr(kSymmetricFixedHeader));
        if (!decrypted) securityFault("an encrypted part that is not whole cipher blocks");
        signedPart += *decrypted;
    } else {
        signedPart.append(chunk.substr(kSymmetricFixedHeader));
    }
    const std::string_view whole(signedPart);
    const std::string_view signature = whole.substr(whole.size() - signatureSize);
    const std::string_view signedData = whole.substr(0, whole.size() - signatureSize);
    if (!signaturesEqual(hmacSha256(keys.signingKey, signedData), signature))
        securityFault("a chunk whose signature does not match");
    const std::string_view plain = signedData.substr(kSymmetricFixedHeader);
    if (plain.size() < kSequenceHeaderSize) securityFault("a chunk without its sequence header");
    return std::string(plain.substr(0, encrypt ? stripPadding(plain, false) : plain.size()));
}

std::size_t maxAsymmetricBodySize(std::size_t chunkSize, std::size_t headerSize, EVP_PKEY* ourKey,
                                  EVP_PKEY* receiverKey) {
    const std::size_t cipherBlock = rsaKeyBytes(receiverKey);
    const std::size_t plainBlock = rsaOaepPlainBlockSize(receiverKey);
    const std::size_t signatureSize = rsaKeyBytes(ourKey);
    const std::size_t countBytes = needsExtraPadding(cipherBlock) ? 2 : 1;
    if (plainBlock == 0 || chunkSize <= headerSize) return 0;
    const std::size_t plainRoom = (chunkSize - headerSize) / cipherBlock * plainBlock;
    if (plainRoom < kSequenceHeaderSize + signatureSize + countBytes) return 0;
    return plainRoom - kSequenceHeaderSize - signatureSize - countBytes;
}

std::string protectAsymmetricChunk(EVP_PKEY* ourKey, EVP_PKEY* receiverKey, std::string_view securityHeader,
                                   std::string_view payload) {
    const std::size_t cipherBlock = rsaKeyBytes(receiverKey);
    const std::size_t plainBlock = rsaOaepPlainBlockSize(receiverKey);
    const std::size_t signatureSize = rsaKeyBytes(ourKey);
    if (plainBlock == 0 || signatureSize == 0)
        throw ChannelFault{status::BadSecurityChecksFailed, "no usable RSA key for the opening message"};
    const bool extra = needsExtraPadding(cipherBlock);
    std::string plain(payload);
    plain += paddingBytes(paddingFor(plain.size() + signatureSize, plainBlock, extra), extra);
    const std::size_t encryptedSize = (plain.size() + signatureSize) / plainBlock * cipherBlock;
    std::string chunk = transportHeader("OPN", 'F', kTcpHeaderSize + securityHeader.size() + encryptedSize);
    chunk.append(securityHeader);
    chunk.append(plain);
    const auto signature = rsaSha256Sign(ourKey, chunk);
    if (!signature) throw ChannelFault{status::BadInternalError, "signing the opening message failed"};
    const std::size_t protectedStart = kTcpHeaderSize + securityHeader.size();
    const auto encrypted = rsaOaepEncrypt(receiverKey, plain + *signature);
    if (!encrypted || encrypted->size() != encryptedSize)
        throw ChannelFault{status::BadInternalError, "encrypting the opening message failed"};
    chunk.replace(protectedStart, std::string::npos, *encrypted);
    return chunk;
}

std::string unprotectAsymmetricChunk(EVP_PKEY* ourKey, EVP_PKEY* senderKey, std::string_view chunk,
                                     std::size_t headerEnd) {
    if (headerEnd > chunk.size()) securityFault("an opening message shorter than its header");
    const auto decrypted = rsaOaepDecrypt(ourKey, chunk.substr(headerEnd));
    if (!decrypted) securityFault("an opening message that does not decrypt with our key");
    const std::size_t signatureSize = rsaKeyBytes(senderKey);
    if (signatureSize == 0 || decrypted->size() < signatureSize + kSequenceHeaderSize)
        securityFault("an opening message too short for its signature");
    const std::string_view plain = std::string_view(*decrypted).substr(0, decrypted->size() - signatureSize);
    std::string signedData(chunk.substr(0, headerEnd));
    signedData.append(plain);
    if (!rsaSha256Verify(senderKey, signedData, std::string_view(*decrypted).substr(plain.size())))
        securityFault("an opening message whose signature does not match the sender's certificate");
    return std::string(plain.substr(0, stripPadding(plain, needsExtraPadding(rsaKeyBytes(ourKey)))));
}

}  // namespace ferrow::ua
