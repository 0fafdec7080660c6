// A first OPC UA session with Ferrow and its demo device: connect, browse to Device1's tags, read Level,
// watch Setpoint, write it and see the change come back. Run it against a running Ferrow:
//   node first_session.js [opc.tcp://localhost:4840]
"use strict";
const { connect, ua } = require("./client");

// Resolves once `predicate()` holds; rejects after `limitMs`, which only bounds a hang.
function until(predicate, what, limitMs = 20000) {
    return new Promise((resolve, reject) => {
        const started = Date.now();
        const poll = () => {
            if (predicate()) return resolve();
            if (Date.now() - started > limitMs) return reject(new Error("never happened: " + what));
            setTimeout(poll, 20);
        };
        poll();
    });
}

// What the session saw, for the caller to check; `say` prints each step.
async function firstSession(url, setpoint = 7.5, say = console.log) {
    const { session, close } = await connect(url);
    say("connected to " + url);
    const names = async (nodeId) => (await session.browse(nodeId)).references.map((r) => r.browseName.name);

    // The device's tags arrive once it has connected and sent its datapoint list.
    let tags = [];
    for (const started = Date.now(); !tags.includes("Setpoint") && Date.now() - started < 20000;) {
        tags = await names("ns=2;s=Device1").catch(() => []);
        if (!tags.includes("Setpoint")) await new Promise((r) => setTimeout(r, 100));
    }
    const devices = await names("ns=0;i=85");
    say("Objects: " + devices.join(", "));
    say("Device1: " + tags.join(", "));

    const level = await session.read({ nodeId: "ns=2;s=Device1.Level", attributeId: ua.AttributeIds.Value });
    say("Device1.Level = " + level.value.value + " (" + level.statusCode.name + ")");

    const subscription = ua.ClientSubscription.create(session, {
        requestedPublishingInterval: 100, requestedLifetimeCount: 600, requestedMaxKeepAliveCount: 10,
        maxNotificationsPerPublish: 100, publishingEnabled: true, priority: 1,
    });
    await new Promise((resolve) => subscription.on("started", resolve));
    const item = ua.ClientMonitoredItem.create(subscription,
        { nodeId: "ns=2;s=Device1.Setpoint", attributeId: ua.AttributeIds.Value },
        { samplingInterval: 100, queueSize: 10, discardOldest: true }, ua.TimestampsToReturn.Both);
    const seen = [];
    item.on("changed", (dataValue) => {
        seen.push(dataValue.value.value);
        say("Device1.Setpoint changed: " + dataValue.value.value + " (" + dataValue.statusCode.name + ")");
    });
    // Until the device's value has come (a tag nobody has read yet starts empty).
    await until(() => seen.some((v) => v !== null && v !== undefined), "Setpoint's value");

    const written = await session.write({ nodeId: "ns=2;s=Device1.Setpoint", attributeId: ua.AttributeIds.Value,
        value: { value: { dataType: ua.DataType.Float, value: setpoint } } });
    say("write Device1.Setpoint = " + setpoint + ": " + written.name);
    await until(() => seen.includes(setpoint), "Setpoint's change to " + setpoint);

    await subscription.terminate();
    await close();
    return { devices, tags, level, written, seen };
}

module.exports = { firstSession, until };

if (require.main === module) {
    firstSession(process.argv[2] || "opc.tcp://localhost:4840")
        .then(() => process.exit(0))
        .catch((error) => {
            console.error(String(error && error.stack ? error.stack : error));
            process.exit(1);
        });
}
