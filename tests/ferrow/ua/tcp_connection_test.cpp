// UA TCP and the secure channel on one connection, driven byte by byte with a clock of the test's own:
// the handshake and its limits, chunk assembly and response chunking, token renewal and lifetime, and
// malformed traffic ending the connection with the right ERR.
#include "ferrow/ua/tcp_connection.h"

#include <gtest/gtest.h>

#include "ferrow/ua/attribute_messages.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/transport_limits.h"
#include "tests/ferrow/ua/wire_client.h"

namespace ferrow::ua {
namespace {

using namespace std::chrono_literals;

class RecordingPeer : public ConnectionSink, public RequestHandler {
  public:
    void send(std::string bytes) override { received += bytes; }
    void closeConnection() override { closed = true; }
    void onRequest(UaConnection&, AssembledRequest request) override {
        requests.push_back(std::move(request));
    }
    void onChannelEnded(UaConnection&) override { ++channelsEnded; }

    std::string received;
    bool closed = false;
    int channelsEnded = 0;
    std::vector<AssembledRequest> requests;
};

class UaConnectionTest : public ::testing::Test {
  protected:
    void feed(const std::string& bytes) { connection.onBytes(bytes, now); }
    std::vector<test::WireClient::Reply> replies() { return client.read(peer.received); }
    void openChannel(std::uint32_t receiveBuffer = 65535) {
        feed(client.hello(receiveBuffer));
        feed(client.open());
        const auto r = replies();
        ASSERT_EQ(r.size(), 2u);
        ASSERT_EQ(r[0].type, "ACK");
        ASSERT_EQ(r[1].type, "OPN");
    }
    void expectError(std::uint32_t status) {
        const auto r = replies();
        ASSERT_FALSE(r.empty());
        EXPECT_EQ(r.back().type, "ERR");
        EXPECT_EQ(r.back().error, status) << std::hex << r.back().error << " " << r.back().body;
        EXPECT_TRUE(peer.closed);
        EXPECT_TRUE(connection.isClosed());
    }

    Clock::time_point now = Clock::time_point() + 1000h;
    RecordingPeer peer;
    UaConnection connection{1, 77, peer, peer, now};
    test::WireClient client;
};

TEST_F(UaConnectionTest, helloIsAnsweredWithTheSmallerBuffersAndTheMessageLimits) {
    feed(client.hello(20000, 100000, 0, 0));
    const auto r = replies();
    ASSERT_EQ(r.size(), 1u);
    ASSERT_EQ(r[0].type, "ACK");
    BinaryDecoder decoder(r[0].body);
    AcknowledgeMessage ack;
    decoder(ack);
    EXPECT_EQ(ack.protocolVersion, 0u);
    EXPECT_EQ(ack.receiveBufferSize, 65535u);
    EXPECT_EQ(ack.sendBufferSize, 20000u);
    EXPECT_EQ(ack.maxMessageSize, limits::kMaxMessageSize);
    EXPECT_EQ(ack.maxChunkCount, 257u);  // what a 16 MiB message takes in 64 KiB chunks
    EXPECT_FALSE(peer.closed);
}

TEST_F(UaConnectionTest, helloArrivingOneByteAtATimeIsStillOneHello) {
    for (char c : client.hello()) feed(std::string(1, c));
    EXPECT_EQ(replies().at(0).type, "ACK");
}

TEST_F(UaConnectionTest, garbageBeforeHelloEndsTheConnectionWithMessageTypeInvalid) {
    feed("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    expectError(status::BadTcpMessageTypeInvalid);
}

TEST_F(UaConnectionTest, helloWithBuffersBelowTheMinimumIsRefused) {
    feed(client.hello(1024, 1024));
    expectError(status::BadTcpMessageTooLarge);
}

TEST_F(UaConnectionTest, helloWithAnOverlongEndpointUrlIsRefused) {
    feed(client.hello(65535, 65535, 0, 0, std::string(5000, 'u')));
    expectError(status::BadTcpMessageTooLarge);  // a HEL that long is over its size limit already
}

TEST_F(UaConnectionTest, noHelloWithinTheLimitClosesWithoutAnError) {
    feed("HEL");
    connection.onTimer(now + limits::kHelloLimit - 1ms);
    EXPECT_FALSE(peer.closed);
    connection.onTimer(now + limits::kHelloLimit);
    EXPECT_TRUE(peer.closed);
    EXPECT_TRUE(peer.received.empty());
}

TEST_F(UaConnectionTest, chunkLargerThanTheReceiveBufferIsRefusedBeforeItArrives) {
    openChannel();
    std::string header = "MSGF";
    const std::uint32_t size = 70000;
    header.append(reinterpret_cast<const char*>(&size), 4);
    feed(header);
    expectError(status::BadTcpMessageTooLarge);
}

TEST_F(UaConnectionTest, messageBeforeAnOpenChannelIsRefused) {
    feed(client.hello());
    replies();
    feed(client.message(id::ReadRequest, encodeBody(ReadRequest())));
    expectError(status::BadTcpSecureChannelUnknown);
}

TEST_F(UaConnectionTest, channelWithASecurityPolicyOtherThanNoneIsRefused) {
    feed(client.hello());
    feed(client.open(false, 60000, "http://opcfoundation.org/UA/SecurityPolicy#Basic256Sha256"));
    expectError(status::BadSecurityPolicyRejected);
}

TEST_F(UaConnectionTest, openedChannelCarriesItsIdTokenAndRevisedLifetime) {
    feed(client.hello());
    feed(client.open(false, 5));
    const auto r = replies();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].typeId, id::OpenSecureChannelResponse);
    const auto response = test::WireClient::decode<OpenSecureChannelResponse>(r[1]);
    EXPECT_EQ(response.securityToken.channelId, 77u);
    EXPECT_EQ(client.channelId, 77u);
    EXPECT_NE(response.securityToken.tokenId, 0u);
    EXPECT_EQ(response.securityToken.revisedLifetime, 10000u);  // raised to the 10 s minimum
}

TEST_F(UaConnectionTest, requestInChunksIsAssembledIntoOne) {
    openChannel();
    ReadRequest read;
    read.nodesToRead.resize(300);
    feed(client.request(id::ReadRequest, read, 1000));
    ASSERT_EQ(peer.requests.size(), 1u);
    EXPECT_EQ(peer.requests[0].typeId, id::ReadRequest);
    EXPECT_EQ(peer.requests[0].requestId, client.requestId);
    BinaryDecoder decoder(peer.requests[0].body);
    ReadRequest back;
    decoder(back);
    EXPECT_EQ(back.nodesToRead.size(), 300u);
}

TEST_F(UaConnectionTest, abortedRequestIsDroppedAndTheNextOneServed) {
    openChannel();
    std::string chunks = client.request(id::ReadRequest, ReadRequest(), 10);
    // Replace the final chunk of the first request by an abort chunk.
    const std::size_t last = chunks.rfind("MSGF");
    chunks[last + 3] = 'A';
    feed(chunks);
    EXPECT_TRUE(peer.requests.empty());
    feed(client.request(id::ReadRequest, ReadRequest()));
    ASSERT_EQ(peer.requests.size(), 1u);
    EXPECT_FALSE(peer.closed);
}

TEST_F(UaConnectionTest, requestOverTheChunkCountIsMarkedTooLargeWithItsHeaderKept) {
    openChannel();
    ReadRequest read;
    read.requestHeader.requestHandle = 99;
    read.nodesToRead.resize(2000);
    feed(client.message(id::ReadRequest, encodeBody(read), 20));  // far more than 256 chunks
    ASSERT_EQ(peer.requests.size(), 1u);
    EXPECT_TRUE(peer.requests[0].tooLarge);
    BinaryDecoder decoder(peer.requests[0].body);
    RequestHeader header;
    decoder(header);
    EXPECT_EQ(header.requestHandle, 99u);
}

TEST_F(UaConnectionTest, responseIsCutIntoChunksThePeerBufferTakes) {
    openChannel(8192);
    const std::string body(30000, 'x');
    connection.sendResponse(5, 1, id::ReadResponse, body);
    const auto r = replies();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].chunks, 4u);
    EXPECT_EQ(r[0].body, body);
    EXPECT_EQ(r[0].requestId, 5u);
}

TEST_F(UaConnectionTest, responseOverThePeersMessageLimitBecomesResponseTooLarge) {
    feed(client.hello(8192, 8192, 10000, 0));
    feed(client.open());
    replies();
    connection.sendResponse(5, 44, id::ReadResponse, std::string(20000, 'x'));
    const auto r = replies();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].typeId, id::ServiceFault);
    const auto fault = test::WireClient::decode<ServiceFault>(r[0]);
    EXPECT_EQ(fault.responseHeader.serviceResult.code, status::BadResponseTooLarge);
    EXPECT_EQ(fault.responseHeader.requestHandle, 44u);
}

TEST_F(UaConnectionTest, peerWhoseMessageLimitTakesNoResponseIsToldWithAnError) {
    feed(client.hello(8192, 8192, 1, 0));
    feed(client.open());
    replies();
    connection.sendResponse(5, 44, id::ReadResponse, std::string(100, 'x'));
    expectError(status::BadResponseTooLarge);
}

TEST_F(UaConnectionTest, renewedTokenReplacesTheOldOneOnceUsed) {
    openChannel();
    const std::uint32_t oldToken = client.tokenId;
    feed(client.open(true));
    ASSERT_EQ(replies().at(0).type, "OPN");
    const std::uint32_t newToken = client.tokenId;
    EXPECT_NE(newToken, oldToken);
    client.tokenId = oldToken;  // still good until the new one has been used
    feed(client.request(id::ReadRequest, ReadRequest()));
    client.tokenId = newToken;
    feed(client.request(id::ReadRequest, ReadRequest()));
    EXPECT_EQ(peer.requests.size(), 2u);
    client.tokenId = oldToken;
    feed(client.request(id::ReadRequest, ReadRequest()));
    expectError(status::BadSecureChannelTokenUnknown);
}

TEST_F(UaConnectionTest, channelNotRenewedWithinItsLifetimeIsClosed) {
    feed(client.hello());
    feed(client.open(false, 20000));
    replies();
    connection.onTimer(now + 20s);
    EXPECT_FALSE(peer.closed);  // clients renew at three quarters; a quarter past is the grace
    connection.onTimer(now + 25s);
    expectError(status::BadSecureChannelClosed);
}

TEST_F(UaConnectionTest, sequenceNumberOutOfOrderEndsTheConnection) {
    openChannel();
    client.sequenceNumber += 5;
    feed(client.request(id::ReadRequest, ReadRequest()));
    expectError(status::BadSequenceNumberInvalid);
}

TEST_F(UaConnectionTest, messageEndingMidStructureIsADecodingError) {
    openChannel();
    std::string bytes = client.request(id::ReadRequest, ReadRequest());
    // Cut the security header short while keeping the message size consistent.
    bytes = frameMessage("MSG", 'F', bytes.substr(8, 10));
    feed(bytes);
    expectError(status::BadDecodingError);
}

TEST_F(UaConnectionTest, closeSecureChannelEndsTheConnectionQuietly) {
    openChannel();
    feed(client.close());
    EXPECT_TRUE(peer.closed);
    EXPECT_EQ(peer.channelsEnded, 1);
    EXPECT_TRUE(replies().empty());
}

TEST_F(UaConnectionTest, unknownMessageTypeAfterTheHandshakeIsRefused) {
    openChannel();
    feed(frameMessage("XYZ", 'F', "12345678"));
    expectError(status::BadTcpMessageTypeInvalid);
}

}  // namespace
}  // namespace ferrow::ua
