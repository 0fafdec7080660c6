// Signed and encrypted channels with a client's own certificate: refused and kept aside while the
// certificate is not trusted, served under each policy and mode once it is.
"use strict";
const fs = require("fs");
const path = require("path");
const { run, check, same, freshFolder } = require("./test_server");
const { secureClient, ua } = require("./client");
const { startProxy } = require("./tamper_proxy");

const pki = freshFolder("server-pki");
const policies = [ua.SecurityPolicy.Basic256Sha256, ua.SecurityPolicy.Aes128_Sha256_RsaOaep];
const modes = [ua.MessageSecurityMode.Sign, ua.MessageSecurityMode.SignAndEncrypt];

async function readCounter(client, url) {
    await client.connect(url);
    const session = await client.createSession();
    const value = await session.read({ nodeId: "ns=2;s=Device1.Counter", attributeId: ua.AttributeIds.Value });
    await session.close();
    await client.disconnect();
    return value.value.value;
}

run("secure_connect", async (server) => {
    const clientFolder = freshFolder("client-pki");
    // The refusal comes as an ERR, which the client reports in words of its own: the relay reads it.
    const relay = await startProxy(server.url, (message) => [message]);
    const first = await secureClient(clientFolder, policies[0], modes[1]);
    let refused = false;
    await readCounter(first, relay.url).catch(() => (refused = true));
    await first.disconnect();
    await relay.close();
    check(refused, "an unknown client certificate is refused");
    same(relay.errors[0], "BadCertificateUntrusted", "the status refusing it");
    const rejected = fs.readdirSync(path.join(pki, "rejected", "certs"));
    same(rejected.length, 1, "certificates kept in rejected/certs");

    // Trusting it is moving the file; the next connection is served.
    fs.renameSync(path.join(pki, "rejected", "certs", rejected[0]), path.join(pki, "trusted", "certs", rejected[0]));
    for (const policy of policies)
        for (const mode of modes) {
            const client = await secureClient(clientFolder, policy, mode);
            same(await readCounter(client, server.url), 41, policy + " " + ua.MessageSecurityMode[mode]);
        }

    // Every endpoint carries the server's certificate; None is offered on loopback.
    const discovery = ua.OPCUAClient.create({ endpointMustExist: false, connectionStrategy: { maxRetry: 0 } });
    await discovery.connect(server.url);
    const endpoints = await discovery.getEndpoints();
    await discovery.disconnect();
    same(endpoints.length, 5, "endpoints offered");
    check(endpoints.every((e) => e.serverCertificate && e.serverCertificate.length > 0), "server certificate");
    const own = fs.readdirSync(path.join(pki, "own", "certs"));
    same(own.length, 1, "the server's own certificate made at first start");
}, 180000, ["--pki", pki]);
