// bench/ferrow_ua: Ferrow's OPC UA endpoint (ua_bench_server) against a peer server (node-opcua-server,
// peer_server.js), both serving the same Double tags that each change once a period, measured one after
// the other in one run by the same client (node-opcua-client). Prints a table of the figures with the
// targets and the machine's load. Started by ../run.sh, which builds nothing and installs the packages.
//   node driver.js --server <ua_bench_server> [--policy None|Basic256Sha256] [--mode None|Sign|SignAndEncrypt]
//                  [--tags 10000] [--period-ms 100] [--read-size 1000] [--reads 200] [--sessions 50]
//                  [--window-s 10] [--connects 10] [--queue 2] [--spread 10] [--only Ferrow|peer]
"use strict";
const fs = require("fs");
const os = require("os");
const path = require("path");

// The client keeps its certificate store under the home folder: one of this run's own.
const home = fs.mkdtempSync(path.join(os.tmpdir(), "ferrow-ua-bench-"));
process.env.HOME = home;
process.env.XDG_CONFIG_HOME = path.join(home, ".config");

const { startFerrow, startPeer } = require("./servers");
const { measure } = require("./figures");

const kRunLimitMs = 30 * 60 * 1000;

function parseOptions(argv) {
    const options = {
        server: "", policy: "None", mode: "None", tags: 10000, periodMs: 100, readSize: 1000, reads: 200,
        sessions: 50, windowS: 10, connects: 10, queueSize: 2, spread: 10, only: "", home,
    };
    const names = {
        "--server": "server", "--policy": "policy", "--mode": "mode", "--tags": "tags", "--period-ms": "periodMs",
        "--read-size": "readSize", "--reads": "reads", "--sessions": "sessions", "--window-s": "windowS",
        "--connects": "connects", "--queue": "queueSize", "--spread": "spread", "--only": "only",
    };
    for (let i = 0; i < argv.length; i += 2) {
        const key = names[argv[i]];
        if (!key || i + 1 >= argv.length) throw new Error("unknown option or missing value: " + argv[i]);
        options[key] = typeof options[key] === "number" ? Number(argv[i + 1]) : argv[i + 1];
        if (typeof options[key] === "number" && !(options[key] > 0)) throw new Error(argv[i] + " wants a positive number");
    }
    if (!["None", "Basic256Sha256"].includes(options.policy)) throw new Error("--policy: None or Basic256Sha256");
    if (!["None", "Sign", "SignAndEncrypt"].includes(options.mode)) throw new Error("--mode: None, Sign or SignAndEncrypt");
    if ((options.policy === "None") !== (options.mode === "None"))
        throw new Error("--policy None goes with --mode None and only with it");
    if (options.readSize > options.tags) throw new Error("--read-size is more than --tags");
    if (!Number.isInteger(options.spread) || options.periodMs % options.spread)
        throw new Error("--spread wants a whole number dividing --period-ms");
    if (!options.server && options.only !== "peer") throw new Error("--server names no ua_bench_server");
    options.security = { policy: options.policy, mode: options.mode };
    return options;
}

const loadAverage = () => fs.readFileSync("/proc/loadavg", "utf8").split(" ").slice(0, 3).join(" ");

async function figuresOf(start, options) {
    let server;
    try {
        server = await start(options);
        console.error(`measuring ${server.name} at ${server.url} ...`);
        return await measure(server, options);
    } catch (error) {
        return { error: error && error.message ? error.message : String(error) };
    } finally {
        if (server) await server.stop();
    }
}

function fixed(value, digits) {
    return Number.isFinite(value) ? value.toFixed(digits) : "-";
}

function printTable(ferrow, peer, options) {
    const interval = options.periodMs;
    const rows = [
        ["Read of " + options.readSize + " Values, median ms", (f) => f.read && f.read.median, 2, "Ferrow <= 0.5 x peer",
            (a, b) => a <= 0.5 * b],
        ["  range ms", (f) => f.read && `${fixed(f.read.low, 2)}..${fixed(f.read.high, 2)}`],
        ["  server CPU per Read, ms (changes included)", (f) => f.read && f.read.serverCpuMs, 2],
        ["  client CPU per Read, ms", (f) => f.read && f.read.clientCpuMs, 2],
        ["Notifications per second (" + (options.tags * 1000) / interval + " changes/s)", (f) => f.notificationsPerSecond, 0,
            "every change"],
        ["  changes lost in " + options.windowS + " s", (f) => f.lost, 0, "0", (a) => a === 0],
        ["  values repeated", (f) => f.repeated, 0],
        ["Server CPU per notification, us", (f) => f.cpuPerNotificationUs, 2, "Ferrow <= peer / 3", (a, b) => a <= b / 3],
        ["  server CPU, share of one core", (f) => f.serverCpuShare, 2],
        ["Change to notification, median ms", (f) => f.latencyMs, 1, `<= ${interval + 2} ms`, (a) => a <= interval + 2],
        ["  99th percentile ms", (f) => f.latencyP99Ms, 1],
        ["  change to publish time, median ms", (f) => f.changeToPublishMs, 1],
        ["Memory per session, KiB (" + options.sessions + " sessions)", (f) => f.memoryPerSession / 1024, 1],
        ["Memory per monitored item, bytes", (f) => f.memoryPerItem, 0, "< 1024 bytes", (a) => a < 1024],
        [`Open channel + session (${options.policy}/${options.mode}), median ms`, (f) => f.connectMs, 2],
    ];
    const table = [["figure", "Ferrow", "peer", "ratio", "target"]];
    // A target is Ferrow's alone (checked without the peer) or a ratio to the peer.
    for (const [name, take, digits, target, meets] of rows) {
        const a = ferrow.error ? undefined : take(ferrow);
        const b = peer.error ? undefined : take(peer);
        const show = (v) => (typeof v === "number" ? fixed(v, digits) : v === undefined ? "-" : String(v));
        const ratio = typeof a === "number" && typeof b === "number" && b !== 0 ? a / b : NaN;
        let targetText = target || "";
        const judged = meets && typeof a === "number" && (meets.length < 2 || typeof b === "number");
        if (judged) targetText += meets(a, b) ? "  met" : "  MISSED";
        table.push([name, show(a), show(b), fixed(ratio, 2), targetText]);
    }
    const widths = table[0].map((_, c) => Math.max(...table.map((row) => String(row[c]).length)));
    for (const row of table) console.log(row.map((cell, c) => String(cell).padEnd(widths[c])).join("  "));
    if (ferrow.error) console.log("Ferrow: not measured: " + ferrow.error);
    if (peer.error) console.log("peer: not measured: " + peer.error);
}

async function main() {
    const options = parseOptions(process.argv.slice(2));
    const loadBefore = loadAverage();
    const skipped = { error: "left out (--only)" };
    const ferrow = options.only && options.only !== "Ferrow" ? skipped : await figuresOf(startFerrow, options);
    const peer = options.only && options.only !== "peer" ? skipped : await figuresOf(startPeer, options);
    console.log(
        `ferrow_ua: ${options.tags} Double tags changing every ${options.periodMs} ms, security ` +
            `${options.policy}/${options.mode}, servers measured one after the other by node-opcua-client`,
    );
    printTable(ferrow, peer, options);
    console.log(`load average ${loadBefore} before, ${loadAverage()} after; ${os.cpus().length} cores`);
}

// Every way out removes this run's home folder (the client's and the peer's certificate stores).
function exit(code) {
    fs.rmSync(home, { recursive: true, force: true });
    process.exit(code);
}

setTimeout(() => {
    console.error("ferrow_ua: no end within " + kRunLimitMs / 60000 + " minutes");
    exit(1);
}, kRunLimitMs);
main()
    .then(() => exit(0))
    .catch((error) => {
        console.error("ferrow_ua: " + (error && error.message ? error.message : error));
        exit(1);
    });
