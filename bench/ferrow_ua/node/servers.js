// The two servers bench/ferrow_ua compares, started one at a time, and what /proc says of them: processor
// time and resident memory.
"use strict";
const { spawn, execFileSync } = require("child_process");
const fs = require("fs");
const net = require("net");
const path = require("path");

const kStartLimitMs = 120000;  // the peer builds its address space and, once, its certificate
const kCommandLimitMs = 30000;

const clockTicksPerSecond = (() => {
    try {
        return Number(execFileSync("getconf", ["CLK_TCK"]).toString().trim()) || 100;
    } catch {
        return 100;
    }
})();

// Processor time (user and system) of a process in seconds.
function cpuSeconds(pid) {
    const stat = fs.readFileSync(`/proc/${pid}/stat`, "utf8");
    const fields = stat.slice(stat.lastIndexOf(")") + 2).split(" ");
    return (Number(fields[11]) + Number(fields[12])) / clockTicksPerSecond;  // utime, stime
}

// Resident memory of a process in bytes.
function rssBytes(pid) {
    const match = /VmRSS:\s+(\d+) kB/.exec(fs.readFileSync(`/proc/${pid}/status`, "utf8"));
    return match ? Number(match[1]) * 1024 : NaN;
}

function freePort() {
    return new Promise((resolve, reject) => {
        const probe = net.createServer();
        probe.on("error", reject);
        probe.listen(0, "127.0.0.1", () => {
            const { port } = probe.address();
            probe.close(() => resolve(port));
        });
    });
}

function withLimit(promise, ms, what) {
    let timer;
    const limit = new Promise((_, reject) => {
        timer = setTimeout(() => reject(new Error(what + ": no answer within " + ms + " ms")), ms);
    });
    return Promise.race([promise, limit]).finally(() => clearTimeout(timer));
}

// Starts a server program that prints "listening <port>" and may answer commands with "ok".
async function startProgram(name, program, args, namespaceUri) {
    const child = spawn(program, args, { stdio: ["pipe", "pipe", "inherit"] });
    let buffer = "";
    let onListening;
    const waiting = [];
    const listening = new Promise((resolve, reject) => {
        onListening = resolve;
        child.on("error", reject);
        child.on("exit", (code) => reject(new Error(name + " ended with " + code)));
    });
    child.stdout.on("data", (data) => {
        buffer += data.toString();
        let end;
        while ((end = buffer.indexOf("\n")) >= 0) {
            const line = buffer.slice(0, end).trim();
            buffer = buffer.slice(end + 1);
            if (line.startsWith("listening ")) onListening(Number(line.slice(10)));
            else if (line === "ok" && waiting.length > 0) waiting.shift()();
        }
    });
    const port = await withLimit(listening, kStartLimitMs, name + " start");
    const exited = new Promise((resolve) => child.on("exit", resolve));
    return {
        name,
        pid: child.pid,
        url: "opc.tcp://127.0.0.1:" + port,
        namespaceUri,
        // Memory is compared after garbage collection where the server has any.
        collectGarbage() {
            if (name !== "peer") return Promise.resolve();
            const done = new Promise((resolve) => waiting.push(resolve));
            child.stdin.write("gc\n");
            return withLimit(done, kCommandLimitMs, name + " gc");
        },
        async stop() {
            child.stdin.write("quit\n");
            child.stdin.end();
            try {
                await withLimit(exited, kCommandLimitMs, name + " stop");
            } catch {
                child.kill("SIGKILL");
            }
        },
    };
}

// With a secure policy Ferrow keeps its trust store in the run's home: the bench client's certificate is
// refused once, kept in rejected/certs, and trusted by moving it, as a user would.
async function startFerrow(options) {
    const args = ["--port", "0", "--tags", String(options.tags), "--period-ms", String(options.periodMs),
        "--spread", String(options.spread)];
    const secured = options.security && options.security.policy !== "None";
    const pki = path.join(options.home, "ferrow-pki");
    if (secured) args.push("--pki", pki);
    const server = await startProgram("Ferrow", options.server, args, "urn:quillon:ferrow:devices");
    if (secured) {
        const { connect } = require("./figures");
        await connect(server.url, options.security).then((c) => c.close(), () => {});
        const rejected = path.join(pki, "rejected", "certs");
        for (const name of fs.readdirSync(rejected))
            fs.renameSync(path.join(rejected, name), path.join(pki, "trusted", "certs", name));
    }
    return server;
}

async function startPeer(options) {
    const port = await freePort();
    return startProgram(
        "peer",
        process.execPath,
        [
            "--expose-gc",
            path.join(__dirname, "peer_server.js"),
            "--port", String(port),
            "--tags", String(options.tags),
            "--period-ms", String(options.periodMs),
            "--spread", String(options.spread),
            "--pki", path.join(options.home, "peer-pki"),
        ],
        "urn:ferrow:bench:peer",
    );
}

module.exports = { startFerrow, startPeer, cpuSeconds, rssBytes, withLimit };
