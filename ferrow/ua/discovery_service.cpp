// The discovery service set: GetEndpoints and FindServers.
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/security_policy.h"
#include "ferrow/ua/server_core.h"
#include "ferrow/ua/user_identity.h"

namespace ferrow::ua {

namespace {

// Clients that pick an endpoint by its level pick encryption over signing over nothing.
std::uint8_t securityLevel(const ChannelSecurityConfig::Offer& offer) {
    switch (offer.mode) {
        case MessageSecurityMode::SignAndEncrypt:
            return 2;
        case MessageSecurityMode::Sign:
            return 1;
        default:
            return 0;
    }
}

}  // namespace

std::vector<ChannelSecurityConfig::Offer> UaServerCore::offeredSecurity() const {
    if (const ChannelSecurityConfig* security = environment_.security.get()) return security->offered;
    return {ChannelSecurityConfig::Offer{std::string(kSecurityPolicyNone), MessageSecurityMode::None}};
}

ApplicationDescription UaServerCore::applicationDescription() const {
    ApplicationDescription description;
    description.applicationUri = info_.effectiveApplicationUri();
    description.productUri = info_.productUri;
    description.applicationName = {"en", info_.productName};
    description.applicationType = ApplicationType::Server;
    description.discoveryUrls = {environment_.endpointUrl};
    return description;
}

std::vector<EndpointDescription> UaServerCore::endpoints() const {
    const ChannelSecurityConfig* security = environment_.security.get();
    const bool withUsers = environment_.users.checkPassword && security && security->privateKey;
    std::vector<EndpointDescription> list;
    for (const ChannelSecurityConfig::Offer& offer : offeredSecurity()) {
        EndpointDescription endpoint;
        endpoint.endpointUrl = environment_.endpointUrl;
        endpoint.server = applicationDescription();
        if (security) endpoint.serverCertificate = ByteString(security->certificateDer);
        endpoint.securityMode = offer.mode;
        endpoint.securityPolicyUri = offer.policyUri;
        endpoint.userIdentityTokens = {
            UserTokenPolicy{kAnonymousPolicyId, UserTokenType::Anonymous, "", "", ""}};
        // Without a secured channel the password is encrypted by a policy of its own.
        if (withUsers)
            endpoint.userIdentityTokens.push_back(UserTokenPolicy{
                kUserNamePolicyId, UserTokenType::UserName, "", "",
                offer.mode == MessageSecurityMode::None ? std::string(kUserTokenSecurityPolicy)
                                                        : std::string()});
        endpoint.transportProfileUri = kTransportProfileBinary;
        endpoint.securityLevel = securityLevel(offer);
        list.push_back(std::move(endpoint));
    }
    return list;
}

void UaServerCore::getEndpoints(RequestContext& context, GetEndpointsRequest& request) {
    GetEndpointsResponse response;
    const bool binaryAsked =
        request.profileUris.empty() || std::find(request.profileUris.begin(), request.profileUris.end(),
                                                 kTransportProfileBinary) != request.profileUris.end();
    if (binaryAsked) response.endpoints = endpoints();
    reply(context, id::GetEndpointsResponse, response);
}

void UaServerCore::findServers(RequestContext& context, FindServersRequest& request) {
    FindServersResponse response;
    const std::string uri = info_.effectiveApplicationUri();
    if (request.serverUris.empty() ||
        std::find(request.serverUris.begin(), request.serverUris.end(), uri) != request.serverUris.end())
        response.servers = {applicationDescription()};
    reply(context, id::FindServersResponse, response);
}

}  // namespace ferrow::ua
