// Discovery and sessions over a real socket: what GetEndpoints and FindServers describe, which requests
// need an activated session, session limits, and a session taken over by a new connection.
#include "ferrow/ua/attribute_messages.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/user_identity.h"
#include "tests/ferrow/ua/endpoint_fixture.h"

namespace ferrow::ua {
namespace {

using test::faultOf;

ReadRequest readOf(const NodeId& node, AttributeId attribute = AttributeId::Value) {
    ReadRequest request;
    request.nodesToRead.push_back(ReadValueId{node, static_cast<std::uint32_t>(attribute), {}, {}});
    return request;
}

class SessionServicesTest : public test::EndpointTest {};

TEST_F(SessionServicesTest, getEndpointsWithoutASessionOffersNoneSecurityAndAnonymousLogin) {
    GetEndpointsRequest request;
    request.endpointUrl = "opc.tcp://localhost:4840/any/path";
    const auto response =
        client.callFor<GetEndpointsResponse>(id::GetEndpointsRequest, request, id::GetEndpointsResponse);
    ASSERT_EQ(response.endpoints.size(), 1u);
    const EndpointDescription& endpoint = response.endpoints[0];
    EXPECT_EQ(endpoint.endpointUrl, "opc.tcp://testhost:" + std::to_string(this->endpoint->port()));
    EXPECT_EQ(endpoint.securityPolicyUri, kSecurityPolicyNone);
    EXPECT_EQ(endpoint.securityMode, MessageSecurityMode::None);
    EXPECT_EQ(endpoint.transportProfileUri, kTransportProfileBinary);
    ASSERT_EQ(endpoint.userIdentityTokens.size(), 1u);
    EXPECT_EQ(endpoint.userIdentityTokens[0].tokenType, UserTokenType::Anonymous);
    EXPECT_EQ(endpoint.server.applicationUri, "urn:testhost:Quillon:Ferrow");
    EXPECT_EQ(endpoint.server.productUri, "urn:quillon:ferrow");
    EXPECT_EQ(endpoint.server.applicationName.text, "Ferrow");
    EXPECT_EQ(endpoint.server.applicationName.locale, "en");
    EXPECT_EQ(endpoint.server.applicationType, ApplicationType::Server);
}

TEST_F(SessionServicesTest, findServersNamesFerrowAndNothingForAnotherUri) {
    FindServersRequest request;
    auto response =
        client.callFor<FindServersResponse>(id::FindServersRequest, request, id::FindServersResponse);
    ASSERT_EQ(response.servers.size(), 1u);
    EXPECT_EQ(response.servers[0].applicationUri, "urn:testhost:Quillon:Ferrow");
    request.serverUris = {"urn:someone:else"};
    response = client.callFor<FindServersResponse>(id::FindServersRequest, request, id::FindServersResponse);
    EXPECT_TRUE(response.servers.empty());
}

TEST_F(SessionServicesTest, readWithoutASessionOrBeforeActivationIsRefused) {
    EXPECT_EQ(faultOf(client.call(id::ReadRequest, readOf(NodeId::numericId(id::Server)))),
              status::BadSessionIdInvalid);
    CreateSessionRequest create;
    const auto created =
        client.callFor<CreateSessionResponse>(id::CreateSessionRequest, create, id::CreateSessionResponse);
    EXPECT_EQ(created.revisedSessionTimeout, 10000.0);  // raised to the minimum
    EXPECT_EQ(created.serverNonce.bytes.size(), 32u);
    client.wire.authenticationToken = created.authenticationToken;
    EXPECT_EQ(faultOf(client.call(id::ReadRequest, readOf(NodeId::numericId(id::Server)))),
              status::BadSessionNotActivated);
    ActivateSessionRequest activate;
    EXPECT_EQ(faultOf(client.call(id::ActivateSessionRequest, activate)), status::Good);
    EXPECT_EQ(faultOf(client.call(id::ReadRequest, readOf(NodeId::numericId(id::Server)))), status::Good);
}

TEST_F(SessionServicesTest, userNameLoginIsRejectedWithoutUsersAndAMalformedTokenIsInvalid) {
    CreateSessionRequest create;
    client.wire.authenticationToken =
        client.callFor<CreateSessionResponse>(id::CreateSessionRequest, create, id::CreateSessionResponse)
            .authenticationToken;
    ActivateSessionRequest activate;
    activate.userIdentityToken.typeId = NodeId::numericId(id::UserNameIdentityToken);
    activate.userIdentityToken.body = ExtensionObject::Body::Binary;
    activate.userIdentityToken.bytes = encodeBody(std::string("user"));
    EXPECT_EQ(faultOf(client.call(id::ActivateSessionRequest, activate)), status::BadIdentityTokenInvalid);

    UserNameIdentityToken token{kUserNamePolicyId, "operator", ByteString("secret"), ""};
    activate.userIdentityToken.bytes = encodeBody(token);
    EXPECT_EQ(faultOf(client.call(id::ActivateSessionRequest, activate)), status::BadIdentityTokenRejected);
}

TEST_F(SessionServicesTest, sessionActivatedAgainOnANewConnectionKeepsServing) {
    ASSERT_TRUE(client.openSession());
    test::SocketClient second;
    ASSERT_TRUE(second.connectTo(endpoint->port()));
    ASSERT_TRUE(second.openChannel());
    second.wire.authenticationToken = client.wire.authenticationToken;
    // Not before it is activated there.
    EXPECT_EQ(faultOf(second.call(id::ReadRequest, readOf(NodeId::numericId(id::Server)))),
              status::BadSecureChannelIdInvalid);
    client.socket.abort();
    ActivateSessionRequest activate;
    EXPECT_EQ(faultOf(second.call(id::ActivateSessionRequest, activate)), status::Good);
    EXPECT_EQ(faultOf(second.call(id::ReadRequest, readOf(NodeId::numericId(id::Server)))), status::Good);
    EXPECT_EQ(endpoint->sessionCount(), 1u);
}

TEST_F(SessionServicesTest, closedSessionIsGoneAndItsTokenRefused) {
    ASSERT_TRUE(client.openSession());
    CloseSessionRequest close;
    EXPECT_EQ(faultOf(client.call(id::CloseSessionRequest, close)), status::Good);
    EXPECT_EQ(endpoint->sessionCount(), 0u);
    EXPECT_EQ(faultOf(client.call(id::ReadRequest, readOf(NodeId::numericId(id::Server)))),
              status::BadSessionIdInvalid);
}

TEST_F(SessionServicesTest, sessionBeyondTheHundredthIsRefused) {
    for (int i = 0; i < 100; ++i) {
        CreateSessionRequest create;
        ASSERT_EQ(faultOf(client.call(id::CreateSessionRequest, create)), status::Good) << i;
    }
    CreateSessionRequest create;
    EXPECT_EQ(faultOf(client.call(id::CreateSessionRequest, create)), status::BadTooManySessions);
    EXPECT_EQ(endpoint->sessionCount(), 100u);
}

TEST_F(SessionServicesTest, serviceOutsideTheProfileIsUnsupportedAndTheConnectionStays) {
    ASSERT_TRUE(client.openSession());
    // A Call request: the header, then arrays the endpoint never looks at.
    RequestHeader header;
    header.authenticationToken = client.wire.authenticationToken;
    client.sendRaw(client.wire.message(712, encodeBody(header) + std::string("\0\0\0\0", 4)));
    EXPECT_EQ(faultOf(client.next()), status::BadServiceUnsupported);
    EXPECT_EQ(faultOf(client.call(id::ReadRequest, readOf(NodeId::numericId(id::Server)))), status::Good);
}

TEST_F(SessionServicesTest, secondEndpointOnATakenPortSaysWhichPort) {
    UaEndpoint::Settings settings;
    settings.addresses = {QHostAddress(QHostAddress::LocalHost)};
    settings.port = endpoint->port();
    UaEndpoint second(source, settings);
    const QString error = second.start();
    EXPECT_TRUE(error.contains(QString::number(endpoint->port()))) << error.toStdString();
    // The first goes on serving.
    EXPECT_EQ(faultOf(client.call(id::FindServersRequest, FindServersRequest())), status::Good);
}

}  // namespace
}  // namespace ferrow::ua
