// A subscription receives the tag's changes, honours an absolute deadband, turns to BadNoCommunication
// when the device drops and back when it returns, and reports a removed tag as BadNodeIdUnknown.
"use strict";
const { run, same, check, waitFor } = require("./test_server");
const { connect, ua } = require("./client");

function monitor(subscription, nodeId, filter) {
    const item = ua.ClientMonitoredItem.create(subscription, { nodeId, attributeId: ua.AttributeIds.Value },
        { samplingInterval: 10, queueSize: 10, discardOldest: true, filter }, ua.TimestampsToReturn.Both);
    const seen = [];
    item.on("changed", (dataValue) => seen.push(dataValue));
    return seen;
}

run("subscription", async (server) => {
    const { session, close } = await connect(server.url);
    const subscription = ua.ClientSubscription.create(session, {
        requestedPublishingInterval: 20, requestedLifetimeCount: 600, requestedMaxKeepAliveCount: 10,
        maxNotificationsPerPublish: 1000, publishingEnabled: true, priority: 1,
    });
    await new Promise((resolve) => subscription.on("started", resolve));

    const counter = monitor(subscription, "ns=2;s=Device1.Counter");
    const deadband = new ua.DataChangeFilter({
        trigger: ua.DataChangeTrigger.StatusValue, deadbandType: ua.DeadbandType.Absolute, deadbandValue: 5 });
    const banded = monitor(subscription, "ns=2;s=Device1.Line.Level", deadband);
    await waitFor(() => counter.length >= 1 && banded.length >= 1, "first values");
    same(counter[0].value.value, 41, "first notification carries the current value");

    await server.command("set Device1.Counter 42");
    await waitFor(() => counter.some((v) => v.value.value === 42), "change to 42");

    await server.command("set Device1.Line.Level 9");   // within 5 of 7
    await server.command("set Device1.Line.Level 20");
    await waitFor(() => banded.some((v) => v.value.value === 20), "change beyond the deadband");
    check(!banded.some((v) => v.value.value === 9), "a change within the deadband was reported");

    await server.command("set Device1.Counter 42 18");  // the device's connection dropped
    await waitFor(() => counter.some((v) => v.statusCode.name === "BadNoCommunication"), "BadNoCommunication");
    await server.command("set Device1.Counter 43");
    await waitFor(() => counter.some((v) => v.value.value === 43 && v.statusCode.value === 0), "back again");

    await server.command("remove Device1");
    await waitFor(() => counter.some((v) => v.statusCode.name === "BadNodeIdUnknown"), "tag gone");
    const percent = new ua.DataChangeFilter({
        trigger: ua.DataChangeTrigger.StatusValue, deadbandType: ua.DeadbandType.Percent, deadbandValue: 5 });
    const refused = await subscription.monitorItems([{ nodeId: "ns=2;s=Device2.Mode", attributeId: ua.AttributeIds.Value }],
        { samplingInterval: 10, queueSize: 1, filter: percent }, ua.TimestampsToReturn.Both).catch((e) => e);
    check(refused instanceof Error || /BadMonitoredItemFilterUnsupported/.test(String(refused)),
        "percent deadband accepted");
    await subscription.terminate();
    await close();
});
