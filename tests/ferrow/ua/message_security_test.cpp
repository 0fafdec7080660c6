// Chunk protection: symmetric chunks checked against openssl enc/dgst run here, asymmetric chunks
// between two test identities (one with a 4096-bit key for the two-byte padding count), and every kind
// of damage (flipped byte, truncation, wrong padding under a valid signature) refused.
#include "ferrow/ua/message_security.h"

#include <gtest/gtest.h>

#include "ferrow/ua/asymmetric_crypto.h"
#include "ferrow/ua/key_derivation.h"
#include "ferrow/ua/secure_channel.h"
#include "ferrow/ua/security_policy.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/symmetric_crypto.h"
#include "ferrow/ua/tcp_messages.h"
#include "openssl_tool.h"

namespace ferrow::ua {
namespace {

using test::fromHex;
using test::runOpenssl;
using test::toHex;

constexpr std::size_t kFixedHeader = kTcpHeaderSize + kSymmetricSecurityHeaderSize;

std::uint32_t refusalOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ChannelFault& fault) {
        return fault.status;
    }
    return 0;
}

std::string payloadOf(std::size_t bodySize) {
    std::string payload = "SEQNREQI";
    for (std::size_t index = 0; index < bodySize; ++index) payload += static_cast<char>(index * 13 + 5);
    return payload;
}

std::uint32_t sizeField(std::string_view chunk) {
    std::uint32_t size = 0;
    for (int index = 7; index >= 4; --index)
        size = (size << 8) | static_cast<unsigned char>(chunk[static_cast<std::size_t>(index)]);
    return size;
}

struct SymmetricCase {
    std::string_view policyUri;
    MessageSecurityMode mode;
};

class SymmetricChunks : public ::testing::TestWithParam<SymmetricCase> {
  protected:
    const SecurityPolicy& policy = *findSecurityPolicy(GetParam().policyUri);
    MessageSecurityMode mode = GetParam().mode;
    ChannelKeys keys = deriveChannelKeys(policy, std::string(32, 'c'), std::string(32, 's')).server;
    std::string securityHeader = std::string("\x07\0\0\0\x02\0\0\0", 8);
};

TEST_P(SymmetricChunks, ProtectedChunkMatchesOpensslAndRoundTrips) {
    for (const std::size_t bodySize : {std::size_t{0}, std::size_t{1}, std::size_t{23}, std::size_t{100}}) {
        SCOPED_TRACE(bodySize);
        const std::string payload = payloadOf(bodySize);
        const std::string chunk =
            protectSymmetricChunk(policy, mode, keys, "MSG", 'F', securityHeader, payload);
        EXPECT_EQ(sizeField(chunk), chunk.size());
        std::string plain = chunk.substr(kFixedHeader);
        if (mode == MessageSecurityMode::SignAndEncrypt) {
            const QString cipher = policy.encryptingKeyLength == 16 ? "-aes-128-cbc" : "-aes-256-cbc";
            plain = runOpenssl({"enc", "-d", cipher, "-K", QString::fromStdString(toHex(keys.encryptingKey)),
                                "-iv", QString::fromStdString(toHex(keys.initializationVector)), "-nopad"},
                               plain);
            ASSERT_EQ(plain.size() % 16, 0u);
        }
        ASSERT_GE(plain.size(), payload.size() + 32);
        const std::string signedData = chunk.substr(0, kFixedHeader) + plain.substr(0, plain.size() - 32);
        EXPECT_EQ(toHex(plain.substr(plain.size() - 32)),
                  toHex(runOpenssl({"dgst", "-sha256", "-mac", "HMAC", "-macopt",
                                    QString::fromStdString("hexkey:" + toHex(keys.signingKey)), "-binary"},
                                   signedData)));
        EXPECT_EQ(plain.substr(0, payload.size()), payload);
        if (mode == MessageSecurityMode::SignAndEncrypt) {
            const std::size_t paddingCount = static_cast<unsigned char>(plain[plain.size() - 33]);
            EXPECT_EQ(payload.size() + paddingCount + 1 + 32, plain.size());
        }
        EXPECT_EQ(unprotectSymmetricChunk(policy, mode, keys, chunk), payload);
    }
}

TEST_P(SymmetricChunks, DamageIsRefused) {
    const std::string chunk =
        protectSymmetricChunk(policy, mode, keys, "MSG", 'F', securityHeader, payloadOf(40));
    for (std::size_t index = 0; index < chunk.size(); index += 7) {
        std::string damaged = chunk;
        damaged[index] = static_cast<char>(damaged[index] ^ 0x01);
        SCOPED_TRACE(index);
        EXPECT_EQ(refusalOf([&] { unprotectSymmetricChunk(policy, mode, keys, damaged); }),
                  status::BadSecurityChecksFailed);
    }
    for (const std::size_t length : {std::size_t{0}, std::size_t{10}, kFixedHeader + 39, chunk.size() - 1}) {
        SCOPED_TRACE(length);
        EXPECT_EQ(refusalOf([&] { unprotectSymmetricChunk(policy, mode, keys, chunk.substr(0, length)); }),
                  status::BadSecurityChecksFailed);
    }
    ChannelKeys otherKeys = keys;
    otherKeys.signingKey[0] = static_cast<char>(otherKeys.signingKey[0] ^ 1);
    EXPECT_EQ(refusalOf([&] { unprotectSymmetricChunk(policy, mode, otherKeys, chunk); }),
              status::BadSecurityChecksFailed);
}

TEST_P(SymmetricChunks, LargestBodyFillsTheChunk) {
    for (const std::size_t chunkSize : {std::size_t{8192}, std::size_t{8195}, std::size_t{100}}) {
        SCOPED_TRACE(chunkSize);
        const std::size_t body = maxSymmetricBodySize(policy, mode, chunkSize);
        const std::string chunk =
            protectSymmetricChunk(policy, mode, keys, "MSG", 'C', securityHeader, payloadOf(body));
        EXPECT_LE(chunk.size(), chunkSize);
        const std::string bigger =
            protectSymmetricChunk(policy, mode, keys, "MSG", 'C', securityHeader, payloadOf(body + 1));
        EXPECT_GT(bigger.size(), chunkSize);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Policies, SymmetricChunks,
    ::testing::Values(SymmetricCase{securityPolicyBasic256Sha256Uri, MessageSecurityMode::Sign},
                      SymmetricCase{securityPolicyBasic256Sha256Uri, MessageSecurityMode::SignAndEncrypt},
                      SymmetricCase{securityPolicyAes128Sha256RsaOaepUri, MessageSecurityMode::Sign},
                      SymmetricCase{securityPolicyAes128Sha256RsaOaepUri,
                                    MessageSecurityMode::SignAndEncrypt}));

TEST(SymmetricPadding, WrongPaddingUnderAValidSignatureIsRefused) {
    const SecurityPolicy& policy = *findSecurityPolicy(securityPolicyBasic256Sha256Uri);
    const ChannelKeys keys = deriveChannelKeys(policy, std::string(32, 'a'), std::string(32, 'b')).client;
    const std::string header = frameMessage("MSG", 'F', std::string(8 + 48 + 32, '\0')).substr(0, 8) +
                               std::string(kSymmetricSecurityHeaderSize, '\x01');
    // 48 bytes before the signature whose last byte claims more padding than there is, or whose padding
    // bytes disagree with the count.
    for (const std::string& plain :
         {std::string(47, 'x') + '\xF0', std::string(40, 'x') + "\x05\x05\x05\x04\x05\x05\x05\x07"}) {
        const std::string signedPart = header + plain;
        const std::string protectedPart = plain + hmacSha256(keys.signingKey, signedPart);
        const std::string chunk =
            header + *aesCbcEncrypt(keys.encryptingKey, keys.initializationVector, protectedPart);
        EXPECT_EQ(refusalOf([&] {
                      unprotectSymmetricChunk(policy, MessageSecurityMode::SignAndEncrypt, keys, chunk);
                  }),
                  status::BadSecurityChecksFailed);
    }
}

class AsymmetricChunks : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        server = new test::TestIdentity(test::makeTestIdentity(2048));
        client = new test::TestIdentity(test::makeTestIdentity(4096));
    }
    static void TearDownTestSuite() {
        delete server;
        delete client;
    }
    static test::TestIdentity* server;
    static test::TestIdentity* client;
};
test::TestIdentity* AsymmetricChunks::server = nullptr;
test::TestIdentity* AsymmetricChunks::client = nullptr;

TEST_F(AsymmetricChunks, RoundTripBothWaysAndDamageRefused) {
    const EvpPkeyPtr serverPublic = publicKeyOfCertificate(server->certificateDer);
    const EvpPkeyPtr clientPublic = publicKeyOfCertificate(client->certificateDer);
    const std::string securityHeader = "channel id and asymmetric security header";
    struct Direction {
        EVP_PKEY *senderPrivate, *senderPublic, *receiverPrivate, *receiverPublic;
    };
    for (const Direction& direction : {Direction{server->privateKey.get(), serverPublic.get(),
                                                 client->privateKey.get(), clientPublic.get()},
                                       Direction{client->privateKey.get(), clientPublic.get(),
                                                 server->privateKey.get(), serverPublic.get()}}) {
        for (const std::size_t bodySize : {std::size_t{0}, std::size_t{150}, std::size_t{1000}}) {
            SCOPED_TRACE(bodySize);
            const std::string payload = payloadOf(bodySize);
            const std::string chunk = protectAsymmetricChunk(
                direction.senderPrivate, direction.receiverPublic, securityHeader, payload);
            EXPECT_EQ(sizeField(chunk), chunk.size());
            const std::size_t headerEnd = kTcpHeaderSize + securityHeader.size();
            EXPECT_EQ(
                unprotectAsymmetricChunk(direction.receiverPrivate, direction.senderPublic, chunk, headerEnd),
                payload);

            std::string damaged = chunk;
            damaged[12] = static_cast<char>(damaged[12] ^ 0x10);  // in the signed, unencrypted header
            EXPECT_EQ(refusalOf([&] {
                          unprotectAsymmetricChunk(direction.receiverPrivate, direction.senderPublic, damaged,
                                                   headerEnd);
                      }),
                      status::BadSecurityChecksFailed);
            damaged = chunk;
            damaged[chunk.size() - 5] = static_cast<char>(damaged[chunk.size() - 5] ^ 0x10);
            EXPECT_EQ(refusalOf([&] {
                          unprotectAsymmetricChunk(direction.receiverPrivate, direction.senderPublic, damaged,
                                                   headerEnd);
                      }),
                      status::BadSecurityChecksFailed);
            EXPECT_EQ(refusalOf([&] {
                          unprotectAsymmetricChunk(direction.receiverPrivate, direction.senderPublic,
                                                   chunk.substr(0, chunk.size() - 1), headerEnd);
                      }),
                      status::BadSecurityChecksFailed);
            EXPECT_EQ(refusalOf([&] {
                          unprotectAsymmetricChunk(direction.receiverPrivate, direction.receiverPublic, chunk,
                                                   headerEnd);
                      }),
                      status::BadSecurityChecksFailed);
            EXPECT_EQ(refusalOf([&] {
                          unprotectAsymmetricChunk(direction.receiverPrivate, direction.senderPublic, chunk,
                                                   chunk.size() + 1);
                      }),
                      status::BadSecurityChecksFailed);
        }
        const std::size_t body = maxAsymmetricBodySize(8192, kTcpHeaderSize + securityHeader.size(),
                                                       direction.senderPrivate, direction.receiverPublic);
        EXPECT_LE(protectAsymmetricChunk(direction.senderPrivate, direction.receiverPublic, securityHeader,
                                         payloadOf(body))
                      .size(),
                  8192u);
    }
}

}  // namespace
}  // namespace ferrow::ua
