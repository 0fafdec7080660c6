// The secure channel under the secured policies, driven message by message with a client built from the
// primitives: opening, requests and chunked responses per policy and mode, damaged and replayed chunks,
// token renewal with new keys, and the refusals of unoffered policies, modes, nonces and certificates.
#include <gtest/gtest.h>

#include "ferrow/ua/binary_encoder.h"
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/secure_channel.h"
#include "ferrow/ua/status_codes.h"
#include "secured_test_client.h"

namespace ferrow::ua {
namespace {

using test::SecuredTestClient;
using test::TestIdentity;

constexpr std::uint32_t kCertificateUntrusted = 0x801A0000;

struct Identities {
    TestIdentity server = test::makeTestIdentity();
    TestIdentity client = test::makeTestIdentity();
};

Identities& identities() {
    static Identities made;
    return made;
}

std::shared_ptr<ChannelSecurityConfig> configOffering(std::vector<ChannelSecurityConfig::Offer> offered) {
    auto config = std::make_shared<ChannelSecurityConfig>();
    config->certificateDer = identities().server.certificateDer;
    EVP_PKEY_up_ref(identities().server.privateKey.get());
    config->privateKey = std::shared_ptr<EVP_PKEY>(identities().server.privateKey.get(), EVP_PKEY_free);
    config->offered = std::move(offered);
    return config;
}

SecureChannel::Negotiated negotiated() { return {8192, 0, 0, 64}; }

ChannelEvent deliver(SecureChannel& channel, std::string_view message) {
    return channel.onMessage(*peekTcpHeader(message), message, Clock::time_point{});
}

std::uint32_t refusalOf(SecureChannel& channel, std::string_view message) {
    try {
        deliver(channel, message);
    } catch (const ChannelFault& fault) {
        return fault.status;
    }
    return 0;
}

std::string requestBody(std::string_view content) {
    return encodeBody(NodeId::numericId(id::GetEndpointsRequest)) + std::string(content);
}

struct Case {
    std::string_view policyUri;
    MessageSecurityMode mode;
};

class SecuredChannel : public ::testing::TestWithParam<Case> {
  protected:
    const SecurityPolicy& policy = *findSecurityPolicy(GetParam().policyUri);
    std::shared_ptr<ChannelSecurityConfig> config =
        configOffering({{std::string(GetParam().policyUri), GetParam().mode}});
    SecureChannel channel{7, negotiated(), config};
    SecuredTestClient client{policy, GetParam().mode, identities().client,
                             identities().server.certificateDer};

    void open() {
        const ChannelEvent opened = deliver(channel, client.openRequest(SecurityTokenRequestType::Issue));
        ASSERT_EQ(opened.kind, ChannelEvent::Kind::Opened);
        ASSERT_TRUE(client.acceptOpenResponse(opened.reply));
    }
};

TEST_P(SecuredChannel, OpensAndExchangesChunkedMessages) {
    open();
    EXPECT_EQ(channel.securityPolicy().uri, policy.uri);
    EXPECT_EQ(channel.securityMode(), GetParam().mode);
    EXPECT_EQ(channel.peerCertificate(), identities().client.certificateDer);

    const ChannelEvent request = deliver(channel, client.message(requestBody("request content")));
    ASSERT_EQ(request.kind, ChannelEvent::Kind::Request);
    EXPECT_EQ(request.request.typeId, id::GetEndpointsRequest);
    EXPECT_EQ(request.request.body, "request content");

    std::string response;
    for (int index = 0; index < 20000; ++index) response += static_cast<char>(index * 31);
    const auto chunks = channel.chunkResponse(request.request.requestId, response);
    ASSERT_TRUE(chunks);
    EXPECT_GT(chunks->size(), 2u);
    std::string received;
    for (const std::string& chunk : *chunks) {
        EXPECT_LE(chunk.size(), 8192u);
        received += client.readMessage(chunk);
    }
    EXPECT_EQ(received, response);
}

TEST_P(SecuredChannel, RefusesDamagedAndReplayedChunks) {
    open();
    const std::string message = client.message(requestBody("once"));
    std::string damaged = message;
    damaged[damaged.size() - 40] = static_cast<char>(damaged[damaged.size() - 40] ^ 0x01);
    EXPECT_EQ(refusalOf(channel, damaged), status::BadSecurityChecksFailed);

    SecureChannel second{8, negotiated(), config};
    SecuredTestClient other{policy, GetParam().mode, identities().client, identities().server.certificateDer};
    const ChannelEvent opened = deliver(second, other.openRequest(SecurityTokenRequestType::Issue));
    ASSERT_TRUE(other.acceptOpenResponse(opened.reply));
    const std::string replayed = other.message(requestBody("twice"));
    EXPECT_EQ(deliver(second, replayed).kind, ChannelEvent::Kind::Request);
    EXPECT_EQ(refusalOf(second, replayed), status::BadSequenceNumberInvalid);
}

TEST_P(SecuredChannel, RenewalDerivesNewKeysAndRetiresTheOldOnes) {
    open();
    const std::uint32_t firstToken = client.tokenId;
    const ChannelEvent renewed = deliver(channel, client.openRequest(SecurityTokenRequestType::Renew));
    ASSERT_EQ(renewed.kind, ChannelEvent::Kind::Renewed);
    ASSERT_TRUE(client.acceptOpenResponse(renewed.reply));
    EXPECT_NE(client.tokenId, firstToken);

    // Until the client uses the new token, both work and answers come under the old one.
    EXPECT_EQ(deliver(channel, client.message(requestBody("old keys"), true)).request.body, "old keys");
    const auto answer = channel.chunkResponse(1, "answer");
    ASSERT_TRUE(answer);
    EXPECT_EQ(client.readMessage(answer->front()), "answer");

    EXPECT_EQ(deliver(channel, client.message(requestBody("new keys"))).request.body, "new keys");
    EXPECT_EQ(refusalOf(channel, client.message(requestBody("old again"), true)),
              status::BadSecureChannelTokenUnknown);
}

INSTANTIATE_TEST_SUITE_P(
    PoliciesAndModes, SecuredChannel,
    ::testing::Values(Case{securityPolicyBasic256Sha256Uri, MessageSecurityMode::Sign},
                      Case{securityPolicyBasic256Sha256Uri, MessageSecurityMode::SignAndEncrypt},
                      Case{securityPolicyAes128Sha256RsaOaepUri, MessageSecurityMode::Sign},
                      Case{securityPolicyAes128Sha256RsaOaepUri, MessageSecurityMode::SignAndEncrypt}));

TEST(SecuredChannelRefusals, UnofferedPolicyModeNonceAndCertificate) {
    const auto config =
        configOffering({{std::string(securityPolicyBasic256Sha256Uri), MessageSecurityMode::SignAndEncrypt}});
    const auto attempt = [&](std::string_view uri, MessageSecurityMode mode, std::size_t nonceLength) {
        SecureChannel channel{1, negotiated(), config};
        SecuredTestClient client{*findSecurityPolicy(uri), mode, identities().client,
                                 identities().server.certificateDer};
        return refusalOf(channel, client.openRequest(SecurityTokenRequestType::Issue, nonceLength));
    };
    EXPECT_EQ(attempt(securityPolicyAes128Sha256RsaOaepUri, MessageSecurityMode::SignAndEncrypt, 32),
              status::BadSecurityPolicyRejected);
    EXPECT_EQ(attempt(securityPolicyBasic256Sha256Uri, MessageSecurityMode::Sign, 32),
              status::BadSecurityModeRejected);
    EXPECT_EQ(attempt(securityPolicyBasic256Sha256Uri, MessageSecurityMode::SignAndEncrypt, 16),
              status::BadNonceInvalid);
    EXPECT_EQ(attempt(securityPolicyBasic256Sha256Uri, MessageSecurityMode::SignAndEncrypt, 32), 0u);

    std::string offeredCertificate;
    config->validateCertificate = [&](const std::string& certificate) {
        offeredCertificate = certificate;
        return kCertificateUntrusted;
    };
    EXPECT_EQ(attempt(securityPolicyBasic256Sha256Uri, MessageSecurityMode::SignAndEncrypt, 32),
              kCertificateUntrusted);
    EXPECT_EQ(offeredCertificate, identities().client.certificateDer);
}

}  // namespace
}  // namespace ferrow::ua
