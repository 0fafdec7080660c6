// The channel's crypto primitives against the openssl command line: P_SHA256 against the TLS 1.2 PRF with
// an empty label, the key split per policy, HMAC and AES-CBC against dgst/enc, and RSA round trips with a
// certificate made for the test.
#include <gtest/gtest.h>

#include "ferrow/ua/asymmetric_crypto.h"
#include "ferrow/ua/key_derivation.h"
#include "ferrow/ua/security_policy.h"
#include "ferrow/ua/session_crypto.h"
#include "ferrow/ua/symmetric_crypto.h"
#include "openssl_tool.h"

namespace ferrow::ua {
namespace {

using test::fromHex;
using test::runOpenssl;
using test::toHex;

std::string tlsPrf(std::string_view secret, std::string_view seed, std::size_t length) {
    return fromHex(runOpenssl({"kdf", "-keylen", QString::number(length), "-kdfopt", "digest:SHA256",
                               "-kdfopt", QString::fromStdString("hexsecret:" + toHex(secret)), "-kdfopt",
                               QString::fromStdString("hexseed:" + toHex(seed)), "TLS1-PRF"}));
}

TEST(KeyDerivation, PSha256MatchesOpensslPrfAtBlockEdges) {
    const std::string secret = "channel secret bytes";
    const std::string seed = "seed that is not the secret";
    for (const std::size_t length : {std::size_t{1}, std::size_t{31}, std::size_t{32}, std::size_t{33},
                                     std::size_t{64}, std::size_t{80}, std::size_t{100}}) {
        SCOPED_TRACE(length);
        EXPECT_EQ(toHex(pSha256(secret, seed, length)), toHex(tlsPrf(secret, seed, length)));
    }
}

TEST(KeyDerivation, ChannelKeysSplitEachDirectionsOutput) {
    const std::string clientNonce(32, '\x11');
    const std::string serverNonce = std::string(16, '\x22') + std::string(16, '\x33');
    for (const std::string_view uri :
         {securityPolicyBasic256Sha256Uri, securityPolicyAes128Sha256RsaOaepUri}) {
        SCOPED_TRACE(uri);
        const SecurityPolicy& policy = *findSecurityPolicy(uri);
        const ChannelKeySet keys = deriveChannelKeys(policy, clientNonce, serverNonce);
        const std::size_t total = 32 + policy.encryptingKeyLength + 16;
        const std::string clientMaterial = tlsPrf(serverNonce, clientNonce, total);
        const std::string serverMaterial = tlsPrf(clientNonce, serverNonce, total);
        EXPECT_EQ(
            toHex(keys.client.signingKey + keys.client.encryptingKey + keys.client.initializationVector),
            toHex(clientMaterial));
        EXPECT_EQ(
            toHex(keys.server.signingKey + keys.server.encryptingKey + keys.server.initializationVector),
            toHex(serverMaterial));
        EXPECT_EQ(keys.client.signingKey.size(), 32u);
        EXPECT_EQ(keys.client.initializationVector.size(), 16u);
    }
    EXPECT_EQ(findSecurityPolicy(securityPolicyBasic256Sha256Uri)->encryptingKeyLength, 32u);
    EXPECT_EQ(findSecurityPolicy(securityPolicyAes128Sha256RsaOaepUri)->encryptingKeyLength, 16u);
    EXPECT_EQ(findSecurityPolicy("http://opcfoundation.org/UA/SecurityPolicy#Basic128Rsa15"), nullptr);
}

TEST(SymmetricCrypto, HmacAndAesMatchOpenssl) {
    const std::string key = fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    const std::string data = "a chunk's header and body, signed as one";
    EXPECT_EQ(toHex(hmacSha256(key, data)),
              toHex(runOpenssl({"dgst", "-sha256", "-mac", "HMAC", "-macopt",
                                QString::fromStdString("hexkey:" + toHex(key)), "-binary"},
                               data)));

    const std::string iv = fromHex("f0e0d0c0b0a090807060504030201000");
    const std::string plain(64, 'p');
    for (const std::size_t keyLength : {std::size_t{16}, std::size_t{32}}) {
        SCOPED_TRACE(keyLength);
        const std::string aesKey = key.substr(0, keyLength);
        const QString cipherName =
            keyLength == 16 ? QStringLiteral("-aes-128-cbc") : QStringLiteral("-aes-256-cbc");
        const auto encrypted = aesCbcEncrypt(aesKey, iv, plain);
        ASSERT_TRUE(encrypted);
        EXPECT_EQ(toHex(*encrypted),
                  toHex(runOpenssl({"enc", cipherName, "-K", QString::fromStdString(toHex(aesKey)), "-iv",
                                    QString::fromStdString(toHex(iv)), "-nopad"},
                                   plain)));
        EXPECT_EQ(aesCbcDecrypt(aesKey, iv, *encrypted), plain);
    }
}

TEST(SymmetricCrypto, RefusesWrongLengths) {
    const std::string key(32, 'k');
    const std::string iv(16, 'i');
    EXPECT_FALSE(aesCbcEncrypt(key, iv, std::string(17, 'x')));
    EXPECT_FALSE(aesCbcDecrypt(key, iv, std::string(15, 'x')));
    EXPECT_FALSE(aesCbcEncrypt(std::string(24, 'k'), iv, std::string(16, 'x')));
    EXPECT_FALSE(aesCbcDecrypt(key, std::string(8, 'i'), std::string(16, 'x')));
    EXPECT_TRUE(signaturesEqual("same", "same"));
    EXPECT_FALSE(signaturesEqual("same", "sane"));
    EXPECT_FALSE(signaturesEqual("same", "sam"));
}

class AsymmetricCrypto : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { identity = new test::TestIdentity(test::makeTestIdentity()); }
    static void TearDownTestSuite() { delete identity; }
    static test::TestIdentity* identity;
};
test::TestIdentity* AsymmetricCrypto::identity = nullptr;

TEST_F(AsymmetricCrypto, SignatureVerifiesWithTheCertificateKeyOnly) {
    const EvpPkeyPtr publicKey = publicKeyOfCertificate(identity->certificateDer);
    ASSERT_TRUE(publicKey);
    const std::string data = "certificate bytes followed by a nonce";
    const auto signature = rsaSha256Sign(identity->privateKey.get(), data);
    ASSERT_TRUE(signature);
    EXPECT_EQ(signature->size(), 256u);
    EXPECT_TRUE(rsaSha256Verify(publicKey.get(), data, *signature));

    std::string tampered = *signature;
    tampered[100] = static_cast<char>(tampered[100] ^ 1);
    EXPECT_FALSE(rsaSha256Verify(publicKey.get(), data, tampered));
    EXPECT_FALSE(rsaSha256Verify(publicKey.get(), data + "x", *signature));
    EXPECT_FALSE(rsaSha256Verify(publicKey.get(), data, signature->substr(1)));
    EXPECT_FALSE(rsaSha256Sign(publicKey.get(), data));
}

TEST_F(AsymmetricCrypto, OaepEncryptsBlockwiseAndRefusesDamage) {
    const EvpPkeyPtr publicKey = publicKeyOfCertificate(identity->certificateDer);
    ASSERT_TRUE(publicKey);
    EXPECT_EQ(rsaOaepPlainBlockSize(publicKey.get()), 256u - 42u);

    std::string plain;
    for (int index = 0; index < 500; ++index) plain += static_cast<char>(index * 7);
    const auto encrypted = rsaOaepEncrypt(publicKey.get(), plain);
    ASSERT_TRUE(encrypted);
    EXPECT_EQ(encrypted->size(), 3u * 256u);
    EXPECT_EQ(rsaOaepDecrypt(identity->privateKey.get(), *encrypted), plain);

    std::string tampered = *encrypted;
    tampered[300] = static_cast<char>(tampered[300] ^ 0x40);
    EXPECT_FALSE(rsaOaepDecrypt(identity->privateKey.get(), tampered));
    EXPECT_FALSE(rsaOaepDecrypt(identity->privateKey.get(), encrypted->substr(0, 300)));
}

TEST_F(AsymmetricCrypto, CertificateThumbprintAndParsing) {
    EXPECT_EQ(toHex(certificateThumbprint(identity->certificateDer)),
              toHex(runOpenssl({"dgst", "-sha1", "-binary"}, identity->certificateDer)));
    EXPECT_FALSE(publicKeyOfCertificate("not a certificate"));
    EXPECT_FALSE(publicKeyOfCertificate(identity->certificateDer.substr(0, 40)));
}

std::string littleEndian32(std::size_t value) {
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((value >> shift) & 0xFF);
    return bytes;
}

TEST_F(AsymmetricCrypto, SessionProofsAndUserTokenSecret) {
    const SecurityPolicy& policy = *findSecurityPolicy(securityPolicyBasic256Sha256Uri);
    const std::string nonce(32, 'n');
    const std::string signature =
        sessionSignature(policy, identity->privateKey.get(), identity->certificateDer, nonce);
    EXPECT_TRUE(
        verifySessionSignature(policy, identity->certificateDer, identity->certificateDer, nonce, signature));
    EXPECT_FALSE(verifySessionSignature(policy, identity->certificateDer, identity->certificateDer,
                                        std::string(32, 'm'), signature));
    EXPECT_FALSE(
        verifySessionSignature(policy, "no certificate", identity->certificateDer, nonce, signature));
    EXPECT_TRUE(sessionSignature(securityPolicyNone(), identity->privateKey.get(), "c", nonce).empty());

    const EvpPkeyPtr publicKey = publicKeyOfCertificate(identity->certificateDer);
    const std::string secret = "pass word";
    const auto tokenFor = [&](std::size_t declaredLength, std::string_view tokenNonce) {
        return *rsaOaepEncrypt(publicKey.get(),
                               littleEndian32(declaredLength) + secret + std::string(tokenNonce));
    };
    EXPECT_EQ(decryptUserTokenSecret(policy, identity->privateKey.get(), tokenFor(secret.size() + 32, nonce),
                                     nonce),
              secret);
    EXPECT_FALSE(decryptUserTokenSecret(policy, identity->privateKey.get(),
                                        tokenFor(secret.size() + 32, std::string(32, 'x')), nonce));
    EXPECT_FALSE(
        decryptUserTokenSecret(policy, identity->privateKey.get(), tokenFor(0xFFFFFFF0u, nonce), nonce));
    EXPECT_FALSE(decryptUserTokenSecret(policy, identity->privateKey.get(), tokenFor(4, nonce), nonce));
    EXPECT_FALSE(decryptUserTokenSecret(policy, identity->privateKey.get(), "short", nonce));
}

}  // namespace
}  // namespace ferrow::ua
