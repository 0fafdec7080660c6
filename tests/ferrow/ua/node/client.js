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

module.exports = { connect, ua };
