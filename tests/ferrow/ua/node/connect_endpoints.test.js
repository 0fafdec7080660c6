// Connect and GetEndpoints: the one endpoint with security None and anonymous login, Ferrow's
// application description, and a session that reads the server's state.
"use strict";
const { run, check, same } = require("./test_server");
const { connect, ua } = require("./client");

run("connect_endpoints", async (server) => {
    const client = ua.OPCUAClient.create({ endpointMustExist: false, connectionStrategy: { maxRetry: 0 } });
    await client.connect(server.url);
    const endpoints = await client.getEndpoints();
    same(endpoints.length, 1, "endpoints");
    const endpoint = endpoints[0];
    same(endpoint.securityMode, ua.MessageSecurityMode.None, "security mode");
    same(endpoint.securityPolicyUri, ua.SecurityPolicy.None, "security policy");
    same(endpoint.userIdentityTokens.length, 1, "token policies");
    same(endpoint.userIdentityTokens[0].tokenType, ua.UserTokenType.Anonymous, "token type");
    check(/^urn:.+:Quillon:Ferrow$/.test(endpoint.server.applicationUri), "application URI " + endpoint.server.applicationUri);
    same(endpoint.server.productUri, "urn:quillon:ferrow", "product URI");
    same(endpoint.server.applicationName.text, "Ferrow", "application name");
    same(endpoint.server.applicationType, ua.ApplicationType.Server, "application type");
    await client.disconnect();

    const { session, close } = await connect(server.url);
    const state = await session.read({ nodeId: "ns=0;i=2259", attributeId: ua.AttributeIds.Value });
    same(state.statusCode.value, 0, "ServerStatus.State status");
    same(state.value.value, 0, "ServerStatus.State is Running");
    const namespaces = await session.read({ nodeId: "ns=0;i=2255", attributeId: ua.AttributeIds.Value });
    same(namespaces.value.value[2], "urn:quillon:ferrow:devices", "namespace 2");
    await close();
});
