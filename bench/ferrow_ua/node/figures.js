// The figures bench/ferrow_ua takes of one server: Read round trip, subscription delivery and its
// processor cost, change-to-notification latency, memory per session and per monitored item, and the
// time to open a channel and a session.
"use strict";
const { performance } = require("perf_hooks");
const ua = require("node-opcua-client");
const { cpuSeconds, rssBytes, withLimit } = require("./servers");

const kCallLimitMs = 30000;
const kSettleMs = 1000;

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const nowMs = () => performance.timeOrigin + performance.now();

function median(values) {
    const sorted = [...values].sort((a, b) => a - b);
    const n = sorted.length;
    return n === 0 ? NaN : n % 2 ? sorted[(n - 1) / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

async function connect(url, security) {
    const client = ua.OPCUAClient.create({
        applicationName: "FerrowUaBench",
        endpointMustExist: false,
        securityMode: ua.MessageSecurityMode[security.mode],
        securityPolicy: ua.SecurityPolicy[security.policy],
        connectionStrategy: { maxRetry: 0, initialDelay: 100, maxDelay: 200 },
        requestedSessionTimeout: 600000,
        transportSettings: { maxMessageSize: 16 * 1024 * 1024, maxChunkCount: 1000 },
    });
    await withLimit(client.connect(url), kCallLimitMs, "connect");
    try {
        const session = await withLimit(client.createSession(), kCallLimitMs, "createSession");
        return {
            session,
            async close() {
                await withLimit(session.close(), kCallLimitMs, "closeSession");
                await client.disconnect();
            },
        };
    } catch (error) {
        await client.disconnect();
        throw error;
    }
}

async function tagIds(session, server, tags) {
    const namespaces = await session.read({ nodeId: "ns=0;i=2255", attributeId: ua.AttributeIds.Value });
    const index = (namespaces.value.value || []).indexOf(server.namespaceUri);
    if (index < 0) throw new Error(server.name + " serves no namespace " + server.namespaceUri);
    return Array.from({ length: tags }, (_, i) => `ns=${index};s=Bench.T${String(i).padStart(5, "0")}`);
}

// Round trips of one Read of `size` Values, in milliseconds, and the processor time the server and this
// client spent per Read (the round trip holds both); throws unless every value is Good.
async function readRoundTrips(session, server, ids, size, count) {
    const nodes = ids.slice(0, size).map((nodeId) => ({ nodeId, attributeId: ua.AttributeIds.Value }));
    const times = [];
    let serverCpuBefore = 0, clientCpuBefore = null;
    for (let i = 0; i < count + 10; ++i) {
        if (i === 10) {
            serverCpuBefore = cpuSeconds(server.pid);
            clientCpuBefore = process.cpuUsage();
        }
        const started = performance.now();
        const values = await withLimit(session.read(nodes), kCallLimitMs, "read");
        const took = performance.now() - started;
        const bad = values.filter((v) => v.statusCode.value !== 0).length;
        if (values.length !== nodes.length || bad > 0) throw new Error(`read: ${bad} of ${values.length} not Good`);
        if (i >= 10) times.push(took);  // the first ones warm both sides up
    }
    const client = process.cpuUsage(clientCpuBefore);
    return {
        median: median(times),
        low: Math.min(...times),
        high: Math.max(...times),
        serverCpuMs: ((cpuSeconds(server.pid) - serverCpuBefore) * 1000) / count,
        clientCpuMs: (client.user + client.system) / 1000 / count,
    };
}

// Resident memory added per session, in bytes, over `count` sessions each on a channel of its own.
async function memoryPerSession(server, security, count) {
    await server.collectGarbage();
    await sleep(kSettleMs);
    const before = rssBytes(server.pid);
    const open = [];
    try {
        for (let i = 0; i < count; ++i) open.push(await connect(server.url, security));
        await server.collectGarbage();
        await sleep(kSettleMs);
        return (rssBytes(server.pid) - before) / count;
    } finally {
        for (const connection of open) await connection.close().catch(() => {});
    }
}

// Delays in 0.1 ms buckets up to 10 s, for medians over a million notifications.
class DelayHistogram {
    constructor() {
        this.buckets = new Uint32Array(100000);
        this.count = 0;
    }
    add(ms) {
        this.buckets[Math.max(0, Math.min(this.buckets.length - 1, Math.round(ms * 10)))] += 1;
        this.count += 1;
    }
    percentile(share) {
        let below = 0;
        for (let i = 0; i < this.buckets.length; ++i) {
            below += this.buckets[i];
            if (this.count > 0 && below >= share * this.count) return i / 10;
        }
        return NaN;
    }
}

// Follows every item's values: the changes are numbered, so a gap is a lost change.
class DeliveryCounter {
    constructor(items) {
        this.last = new Float64Array(items).fill(NaN);
        this.toArrival = new DelayHistogram();  // the change to the client having it
        this.toPublish = new DelayHistogram();  // the change to the server's publish time
        this.measuring = false;
        this.notifications = 0;
        this.lost = 0;
        this.repeated = 0;
        this.seen = 0;
    }
    take(message) {
        const arrival = nowMs();
        const published = message.publishTime ? message.publishTime.getTime() : NaN;
        for (const data of message.notificationData || []) {
            for (const item of data.monitoredItems || []) this.takeOne(item, arrival, published);
        }
    }
    takeOne(item, arrival, published) {
        const index = item.clientHandle - 1;
        const value = item.value.value ? item.value.value.value : NaN;
        const before = this.last[index];
        if (Number.isNaN(before)) this.seen += 1;
        this.last[index] = value;
        if (!this.measuring) return;
        this.notifications += 1;
        if (value > before + 1) this.lost += value - before - 1;
        if (value <= before) this.repeated += 1;
        const source = item.value.sourceTimestamp;
        if (source) {
            const changedAt = source.getTime() + (item.value.sourcePicoseconds || 0) / 1e9;
            this.toArrival.add(arrival - changedAt);
            if (Number.isFinite(published)) this.toPublish.add(published - changedAt);
        }
    }
}

// Monitors every tag on one subscription and measures a window of its notifications.
async function subscriptionFigures(session, server, ids, options) {
    const subscription = await withLimit(
        session.createSubscription2({
            requestedPublishingInterval: options.periodMs,
            requestedLifetimeCount: 600,
            requestedMaxKeepAliveCount: 10,
            maxNotificationsPerPublish: 0,
            publishingEnabled: true,
            priority: 1,
        }),
        kCallLimitMs,
        "createSubscription",
    );
    const counter = new DeliveryCounter(ids.length);
    // Counted here from the raw message, then emptied so that the client does not also dispatch each
    // value to an item object: the client's own cost would otherwise be most of what is measured.
    subscription.on("raw_notification", (message) => {
        counter.take(message);
        message.notificationData = [];
    });
    try {
        await server.collectGarbage();
        await sleep(kSettleMs);
        const before = rssBytes(server.pid);
        for (let first = 0; first < ids.length; first += 1000) {
            const itemsToCreate = ids.slice(first, first + 1000).map((nodeId, i) => ({
                itemToMonitor: { nodeId, attributeId: ua.AttributeIds.Value },
                monitoringMode: ua.MonitoringMode.Reporting,
                requestedParameters: {
                    clientHandle: first + i + 1,
                    samplingInterval: options.periodMs,
                    queueSize: options.queueSize,
                    discardOldest: true,
                },
            }));
            const response = await withLimit(
                session.createMonitoredItems({
                    subscriptionId: subscription.subscriptionId,
                    timestampsToReturn: ua.TimestampsToReturn.Both,
                    itemsToCreate,
                }),
                kCallLimitMs,
                "createMonitoredItems",
            );
            const bad = response.results.filter((r) => r.statusCode.value !== 0).length;
            if (bad > 0) throw new Error(`createMonitoredItems: ${bad} items refused`);
        }
        const waitStarted = Date.now();
        while (counter.seen < ids.length) {
            if (Date.now() - waitStarted > kCallLimitMs)
                throw new Error(`only ${counter.seen} of ${ids.length} items ever notified`);
            await sleep(100);
        }
        await sleep(2 * kSettleMs);
        await server.collectGarbage();
        await sleep(kSettleMs);
        const perItem = (rssBytes(server.pid) - before) / ids.length;

        const cpuBefore = cpuSeconds(server.pid);
        const started = performance.now();
        counter.measuring = true;
        await sleep(options.windowS * 1000);
        counter.measuring = false;
        const seconds = (performance.now() - started) / 1000;
        const cpu = cpuSeconds(server.pid) - cpuBefore;
        return {
            memoryPerItem: perItem,
            notificationsPerSecond: counter.notifications / seconds,
            expectedPerSecond: (ids.length * 1000) / options.periodMs,
            lost: counter.lost,
            repeated: counter.repeated,
            notifications: counter.notifications,
            cpuPerNotificationUs: counter.notifications ? (cpu * 1e6) / counter.notifications : NaN,
            serverCpuShare: cpu / seconds,
            latencyMs: counter.toArrival.percentile(0.5),
            latencyP99Ms: counter.toArrival.percentile(0.99),
            changeToPublishMs: counter.toPublish.percentile(0.5),
        };
    } finally {
        await subscription.terminate().catch(() => {});
    }
}

// Time to open a channel and a session (and close them), median over `count`, in milliseconds.
async function connectTimes(server, security, count) {
    const times = [];
    for (let i = 0; i < count; ++i) {
        const started = performance.now();
        const connection = await connect(server.url, security);
        times.push(performance.now() - started);
        await connection.close();
    }
    return median(times);
}

async function measure(server, options) {
    const main = await connect(server.url, options.security);
    try {
        const ids = await tagIds(main.session, server, options.tags);
        const figures = {};
        figures.read = await readRoundTrips(main.session, server, ids, options.readSize, options.reads);
        figures.memoryPerSession = await memoryPerSession(server, options.security, options.sessions);
        Object.assign(figures, await subscriptionFigures(main.session, server, ids, options));
        figures.connectMs = await connectTimes(server, options.security, options.connects);
        return figures;
    } finally {
        await main.close().catch(() => {});
    }
}

module.exports = { measure, connect };
