#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ferrow/ua/builtin_types.h"

// The headers every request and response carries, and the descriptions of the application and its
// endpoints that several service sets share. Each structure has a `fields` function that lists its
// fields in wire order for both the encoder and the decoder.
namespace ferrow::ua {

struct RequestHeader {
    NodeId authenticationToken;
    DateTime timestamp;
    std::uint32_t requestHandle = 0;
    std::uint32_t returnDiagnostics = 0;
    std::string auditEntryId;
    std::uint32_t timeoutHint = 0;
    ExtensionObject additionalHeader;
};
template <class Io>
void fields(Io& io, RequestHeader& v) {
    io(v.authenticationToken), io(v.timestamp), io(v.requestHandle), io(v.returnDiagnostics);
    io(v.auditEntryId), io(v.timeoutHint), io(v.additionalHeader);
}

struct ResponseHeader {
    DateTime timestamp;
    std::uint32_t requestHandle = 0;
    StatusCode serviceResult;
    DiagnosticInfo serviceDiagnostics;
    std::vector<std::string> stringTable;
    ExtensionObject additionalHeader;
};
template <class Io>
void fields(Io& io, ResponseHeader& v) {
    io(v.timestamp), io(v.requestHandle), io(v.serviceResult), io(v.serviceDiagnostics);
    io(v.stringTable), io(v.additionalHeader);
}

struct ServiceFault {
    ResponseHeader responseHeader;
};
template <class Io>
void fields(Io& io, ServiceFault& v) {
    io(v.responseHeader);
}

enum class ApplicationType : std::int32_t {
    Server = 0,
    Client = 1,
    ClientAndServer = 2,
    DiscoveryServer = 3
};
enum class MessageSecurityMode : std::int32_t { Invalid = 0, None = 1, Sign = 2, SignAndEncrypt = 3 };
enum class UserTokenType : std::int32_t { Anonymous = 0, UserName = 1, Certificate = 2, IssuedToken = 3 };

struct ApplicationDescription {
    std::string applicationUri, productUri;
    LocalizedText applicationName;
    ApplicationType applicationType = ApplicationType::Server;
    std::string gatewayServerUri, discoveryProfileUri;
    std::vector<std::string> discoveryUrls;
};
template <class Io>
void fields(Io& io, ApplicationDescription& v) {
    io(v.applicationUri), io(v.productUri), io(v.applicationName), io(v.applicationType);
    io(v.gatewayServerUri), io(v.discoveryProfileUri), io(v.discoveryUrls);
}

struct UserTokenPolicy {
    std::string policyId;
    UserTokenType tokenType = UserTokenType::Anonymous;
    std::string issuedTokenType, issuerEndpointUrl, securityPolicyUri;
};
template <class Io>
void fields(Io& io, UserTokenPolicy& v) {
    io(v.policyId), io(v.tokenType), io(v.issuedTokenType), io(v.issuerEndpointUrl), io(v.securityPolicyUri);
}

struct EndpointDescription {
    std::string endpointUrl;
    ApplicationDescription server;
    ByteString serverCertificate;
    MessageSecurityMode securityMode = MessageSecurityMode::None;
    std::string securityPolicyUri;
    std::vector<UserTokenPolicy> userIdentityTokens;
    std::string transportProfileUri;
    std::uint8_t securityLevel = 0;
};
template <class Io>
void fields(Io& io, EndpointDescription& v) {
    io(v.endpointUrl), io(v.server), io(v.serverCertificate), io(v.securityMode), io(v.securityPolicyUri);
    io(v.userIdentityTokens), io(v.transportProfileUri), io(v.securityLevel);
}

inline constexpr const char* kSecurityPolicyNone = "http://opcfoundation.org/UA/SecurityPolicy#None";
inline constexpr const char* kTransportProfileBinary =
    "http://opcfoundation.org/UA-Profile/Transport/uatcp-uasc-uabinary";

// Discovery service set.
struct GetEndpointsRequest {
    RequestHeader requestHeader;
    std::string endpointUrl;
    std::vector<std::string> localeIds, profileUris;
};
template <class Io>
void fields(Io& io, GetEndpointsRequest& v) {
    io(v.requestHeader), io(v.endpointUrl), io(v.localeIds), io(v.profileUris);
}

struct GetEndpointsResponse {
    ResponseHeader responseHeader;
    std::vector<EndpointDescription> endpoints;
};
template <class Io>
void fields(Io& io, GetEndpointsResponse& v) {
    io(v.responseHeader), io(v.endpoints);
}

struct FindServersRequest {
    RequestHeader requestHeader;
    std::string endpointUrl;
    std::vector<std::string> localeIds, serverUris;
};
template <class Io>
void fields(Io& io, FindServersRequest& v) {
    io(v.requestHeader), io(v.endpointUrl), io(v.localeIds), io(v.serverUris);
}

struct FindServersResponse {
    ResponseHeader responseHeader;
    std::vector<ApplicationDescription> servers;
};
template <class Io>
void fields(Io& io, FindServersResponse& v) {
    io(v.responseHeader), io(v.servers);
}

// Secure channel service set.
enum class SecurityTokenRequestType : std::int32_t { Issue = 0, Renew = 1 };

struct OpenSecureChannelRequest {
    RequestHeader requestHeader;
    std::uint32_t clientProtocolVersion = 0;
    SecurityTokenRequestType requestType = SecurityTokenRequestType::Issue;
    MessageSecurityMode securityMode = MessageSecurityMode::None;
    ByteString clientNonce;
    std::uint32_t requestedLifetime = 0;
};
template <class Io>
void fields(Io& io, OpenSecureChannelRequest& v) {
    io(v.requestHeader), io(v.clientProtocolVersion), io(v.requestType), io(v.securityMode);
    io(v.clientNonce), io(v.requestedLifetime);
}

struct ChannelSecurityToken {
    std::uint32_t channelId = 0, tokenId = 0;
    DateTime createdAt;
    std::uint32_t revisedLifetime = 0;
};
template <class Io>
void fields(Io& io, ChannelSecurityToken& v) {
    io(v.channelId), io(v.tokenId), io(v.createdAt), io(v.revisedLifetime);
}

struct OpenSecureChannelResponse {
    ResponseHeader responseHeader;
    std::uint32_t serverProtocolVersion = 0;
    ChannelSecurityToken securityToken;
    ByteString serverNonce;
};
template <class Io>
void fields(Io& io, OpenSecureChannelResponse& v) {
    io(v.responseHeader), io(v.serverProtocolVersion), io(v.securityToken), io(v.serverNonce);
}

struct CloseSecureChannelRequest {
    RequestHeader requestHeader;
};
template <class Io>
void fields(Io& io, CloseSecureChannelRequest& v) {
    io(v.requestHeader);
}

}  // namespace ferrow::ua
