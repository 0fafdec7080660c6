// The peer server for bench/ferrow_ua: node-opcua-server serving the same Double tags as ua_bench_server
// ("Bench.T00000" ... as string node IDs in its own namespace), each changed once a period on a timer of
// their own, in the same slices as ua_bench_server's, and stamped with the change's time. Prints
// "listening <port>" once it serves; ends on "quit" or when standard input closes; "gc" collects garbage
// (when node runs with --expose-gc) and answers "ok", so that memory is compared after collection.
//   node --expose-gc peer_server.js --port N [--tags 10000] [--period-ms 100] [--spread 10] [--pki folder]
"use strict";
const path = require("path");
const os = require("os");
const ua = require("node-opcua-server");
// The data types, status codes and security names, which the server package does not export.
const { DataType, StatusCodes, SecurityPolicy, MessageSecurityMode } = require("node-opcua-client");
const { OPCUACertificateManager } = require("node-opcua-certificate-manager");

const kNamespaceUri = "urn:ferrow:bench:peer";

function option(name, fallback) {
    const at = process.argv.indexOf(name);
    return at >= 0 && at + 1 < process.argv.length ? process.argv[at + 1] : fallback;
}

async function main() {
    const port = Number(option("--port", "0"));
    const tags = Number(option("--tags", "10000"));
    const periodMs = Number(option("--period-ms", "100"));
    const spread = Number(option("--spread", "10"));
    const pki = option("--pki", path.join(os.tmpdir(), "ferrow-ua-bench-peer-pki"));
    const spreadFits = Number.isInteger(spread) && spread > 0 && periodMs % spread === 0;
    if (!(port > 0) || !(tags > 0) || !(periodMs > 0) || !spreadFits) {
        console.error(
            "usage: peer_server.js --port N [--tags N] [--period-ms N] [--spread N dividing the period] [--pki folder]",
        );
        process.exit(2);
    }
    // One publish response may carry every change of a cycle, as ours does; its default of 1000 would
    // make it need ten responses per cycle for 10 000 items.
    ua.Subscription.maxNotificationPerPublishHighLimit = 1000000;

    const serverCertificateManager = new OPCUACertificateManager({
        rootFolder: path.join(pki, "server"),
        automaticallyAcceptUnknownCertificate: true,
    });
    const server = new ua.OPCUAServer({
        port,
        hostname: "127.0.0.1",
        serverCertificateManager,
        securityPolicies: [SecurityPolicy.None, SecurityPolicy.Basic256Sha256],
        securityModes: [MessageSecurityMode.None, MessageSecurityMode.Sign, MessageSecurityMode.SignAndEncrypt],
        allowAnonymous: true,
        maxConnectionsPerEndpoint: 200,
        serverCapabilities: {
            maxSessions: 200,
            maxMonitoredItems: 1000000,
            maxMonitoredItemsPerSubscription: 1000000,
            operationLimits: { maxNodesPerRead: 10000, maxMonitoredItemsPerCall: 10000 },
        },
    });
    await server.initialize();
    const addressSpace = server.engine.addressSpace;
    const namespace = addressSpace.registerNamespace(kNamespaceUri);
    const device = namespace.addObject({ organizedBy: addressSpace.rootFolder.objects, browseName: "Bench" });
    const variables = [];
    for (let i = 0; i < tags; ++i) {
        const name = "T" + String(i).padStart(5, "0");
        variables.push(
            namespace.addVariable({
                componentOf: device,
                browseName: name,
                nodeId: "s=Bench." + name,
                dataType: "Double",
                minimumSamplingInterval: 0,
            }),
        );
    }
    let tick = 0; // slice tick % spread makes its change number floor(tick / spread)
    const changeSlice = () => {
        const now = new Date();
        const change = Math.floor(tick / spread);
        for (let i = tick % spread; i < variables.length; i += spread)
            variables[i].setValueFromSource({ dataType: DataType.Double, value: change }, StatusCodes.Good, now);
        tick += 1;
    };
    while (tick < spread) changeSlice();
    await server.start();
    setInterval(changeSlice, periodMs / spread);
    console.log("listening " + port);

    let pending = "";
    process.stdin.on("data", (data) => {
        pending += data.toString();
        let end;
        while ((end = pending.indexOf("\n")) >= 0) {
            const line = pending.slice(0, end).trim();
            pending = pending.slice(end + 1);
            if (line === "quit") process.exit(0);
            if (line === "gc") {
                if (global.gc) global.gc();
                console.log("ok");
            }
        }
    });
    process.stdin.on("end", () => process.exit(0));
}

main().catch((error) => {
    console.error("peer_server: " + (error && error.stack ? error.stack : error));
    process.exit(1);
});
