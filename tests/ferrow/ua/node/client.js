// One UA client as a generic tool would connect: security None, anonymous, no retries.
"use strict";
let ua;
try {
    ua = require("node-opcua-client");
} catch (error) {
    console.error("node-opcua-client is not installed: run scripts/setup.sh (npm ci in tests/ferrow/ua/node)");
    process.exit(1);
}

async function connect(url) {
    const client = ua.OPCUAClient.create({
        applicationName: "FerrowTestClient",
        endpointMustExist: false,
        securityMode: ua.MessageSecurityMode.None,
        securityPolicy: ua.SecurityPolicy.None,
        connectionStrategy: { maxRetry: 0, initialDelay: 100, maxDelay: 200 },
        requestedSessionTimeout: 60000,
    });
    await client.connect(url);
    const session = await client.createSession();
    return {
        client,
        session,
        async close() {
            await session.close();
            await client.disconnect();
        },
    };
}

// A client with a certificate store of its own under `folder` (its certificate made there at first use,
// any server certificate accepted), for `policy` and `mode`. Options: applicationUri, certificateFile,
// privateKeyFile.
async function secureClient(folder, policy, mode, options = {}) {
    const { OPCUACertificateManager } = require("node-opcua-certificate-manager");
    const clientCertificateManager = new OPCUACertificateManager({
        rootFolder: folder,
        automaticallyAcceptUnknownCertificate: true,
    });
    await clientCertificateManager.initialize();
    return ua.OPCUAClient.create({
        applicationName: "FerrowSecureTestClient",
        endpointMustExist: false,
        securityMode: mode,
        securityPolicy: policy,
        clientCertificateManager,
        connectionStrategy: { maxRetry: 0, initialDelay: 100, maxDelay: 200 },
        requestedSessionTimeout: 60000,
        ...options,
    });
}

// The status name a refused connect or call carries in its message, or the message itself.
function refusal(error) {
    const match = /Bad[A-Za-z]+/.exec(String(error && error.message));
    return match ? match[0] : String(error && error.message);
}

module.exports = { connect, secureClient, refusal, ua };
