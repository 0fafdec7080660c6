// Hostile and broken peers on real sockets: each ends its own connection with the ERR the protocol names,
// while a well-behaved client on another connection goes on being served.
#include "ferrow/ua/attribute_messages.h"
#include "ferrow/ua/status_codes.h"
#include "tests/ferrow/ua/endpoint_fixture.h"

namespace ferrow::ua {
namespace {

using test::faultOf;

class MalformedTrafficTest : public test::EndpointTest {
  protected:
    void SetUp() override {
        EndpointTest::SetUp();
        ASSERT_TRUE(client.openSession());
        ASSERT_TRUE(peer.connectTo(endpoint->port()));
    }
    // The peer got ERR with `status` and was disconnected; the good client still reads.
    void expectPeerCutOffWith(std::uint32_t status) {
        const auto reply = peer.next();
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->type, "ERR");
        EXPECT_EQ(reply->error, status) << std::hex << reply->error << " " << reply->body;
        EXPECT_TRUE(peer.waitClosed());
        ReadRequest read;
        read.nodesToRead.push_back({NodeId::numericId(id::ServerStatusState), 13, {}, {}});
        EXPECT_EQ(faultOf(client.call(id::ReadRequest, read)), status::Good);
    }

    test::SocketClient peer;
};

TEST_F(MalformedTrafficTest, peerStuckInTheMiddleOfAMessageHoldsUpNobody) {
    ASSERT_TRUE(peer.openChannel());
    const std::string request = peer.wire.message(id::ReadRequest, encodeBody(ReadRequest()));
    peer.sendRaw(request.substr(0, request.size() / 2));
    test::SocketClient silent;  // connected, never a byte
    ASSERT_TRUE(silent.connectTo(endpoint->port()));
    for (int i = 0; i < 3; ++i) {
        ReadRequest read;
        read.nodesToRead.push_back({NodeId::numericId(id::ServerStatusState), 13, {}, {}});
        EXPECT_EQ(faultOf(client.call(id::ReadRequest, read)), status::Good);
    }
}

TEST_F(MalformedTrafficTest, garbageBeforeHello) {
    peer.sendRaw(std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11));  // a TLS greeting
    expectPeerCutOffWith(status::BadTcpMessageTypeInvalid);
}

TEST_F(MalformedTrafficTest, chunkOverTheReceiveBuffer) {
    ASSERT_TRUE(peer.openChannel());
    std::string header = "MSGF";
    const std::uint32_t size = 16 * 1024 * 1024;
    header.append(reinterpret_cast<const char*>(&size), 4);
    peer.sendRaw(header + std::string(1000, 'x'));
    expectPeerCutOffWith(status::BadTcpMessageTooLarge);
}

TEST_F(MalformedTrafficTest, messageEndingMidStructure) {
    ASSERT_TRUE(peer.openChannel());
    ReadRequest read;
    read.nodesToRead.resize(3);
    std::string body = encodeBody(read);
    body.resize(body.size() - 5);
    peer.sendRaw(peer.wire.message(id::ReadRequest, body));
    expectPeerCutOffWith(status::BadDecodingError);
}

TEST_F(MalformedTrafficTest, hugeArrayLength) {
    ASSERT_TRUE(peer.openChannel());
    std::string body = encodeBody(RequestHeader()) + encodeBody(0.0) + encodeBody(std::int32_t{2});
    body += std::string("\xFF\xFF\xFF\x7F", 4);  // two billion nodes to read
    peer.sendRaw(peer.wire.message(id::ReadRequest, body));
    expectPeerCutOffWith(status::BadDecodingError);
}

TEST_F(MalformedTrafficTest, unknownEncodingOfTheBody) {
    ASSERT_TRUE(peer.openChannel());
    std::string bytes = peer.wire.message(id::ReadRequest, encodeBody(ReadRequest()));
    bytes[24] = 0x07;  // the body's NodeId encoding byte, right after the 24 bytes of headers
    peer.sendRaw(bytes);
    expectPeerCutOffWith(status::BadDecodingError);
}

}  // namespace
}  // namespace ferrow::ua
