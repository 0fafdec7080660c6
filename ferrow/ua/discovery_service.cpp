// The discovery service set: GetEndpoints and FindServers.
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/server_core.h"

namespace ferrow::ua {

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
    EndpointDescription endpoint;
    endpoint.endpointUrl = environment_.endpointUrl;
    endpoint.server = applicationDescription();
    endpoint.securityMode = MessageSecurityMode::None;
    endpoint.securityPolicyUri = kSecurityPolicyNone;
    endpoint.userIdentityTokens = {UserTokenPolicy{"anonymous", UserTokenType::Anonymous, "", "", ""}};
    endpoint.transportProfileUri = kTransportProfileBinary;
    endpoint.securityLevel = 0;
    return {endpoint};
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
