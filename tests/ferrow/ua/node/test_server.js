// Starts ua_test_server (its path in UA_TEST_SERVER) on a port the system chooses, and sends it commands
// on its standard input: each resolves with the server's "ok" or rejects with its error.
"use strict";
const { spawn } = require("child_process");
const os = require("os");
const fs = require("fs");
const path = require("path");

// The client keeps its certificate store under the home folder: a temporary one of this run's own.
const home = fs.mkdtempSync(path.join(os.tmpdir(), "ferrow-ua-node-"));
process.env.HOME = home;
process.env.XDG_CONFIG_HOME = path.join(home, ".config");

// `args` go to the server after its port (--pki DIR, --user NAME=PASSWORD, --anonymous-write 0|1).
function startServer(args = []) {
    const program = process.env.UA_TEST_SERVER;
    if (!program) throw new Error("UA_TEST_SERVER names no program");
    const child = spawn(program, ["--port", "0", ...args], { stdio: ["pipe", "pipe", "inherit"] });
    let buffer = "";
    const waiting = [];
    let port = null;
    let onListening;
    const listening = new Promise((resolve, reject) => {
        onListening = resolve;
        child.on("exit", (code) => reject(new Error("ua_test_server ended with " + code)));
    });
    child.stdout.on("data", (data) => {
        buffer += data.toString();
        let end;
        while ((end = buffer.indexOf("\n")) >= 0) {
            const line = buffer.slice(0, end);
            buffer = buffer.slice(end + 1);
            if (port === null && line.startsWith("listening ")) {
                port = Number(line.slice(10));
                onListening(port);
            } else if (waiting.length > 0) {
                const { resolve, reject } = waiting.shift();
                line === "ok" ? resolve() : reject(new Error(line));
            }
        }
    });
    return listening.then((p) => ({
        url: "opc.tcp://127.0.0.1:" + p,
        command(line) {
            return new Promise((resolve, reject) => {
                waiting.push({ resolve, reject });
                child.stdin.write(line + "\n");
            });
        },
        stop() {
            child.stdin.end();
            return new Promise((resolve) => child.on("exit", resolve));
        },
    }));
}

// Runs `body(server)` against a fresh server; the process fails on the first failed check, a thrown
// error or a hang past `limitMs`. `serverArgs` go to the server.
function run(name, body, limitMs = 120000, serverArgs = []) {
    const timer = setTimeout(() => {
        console.error(name + ": no end within " + limitMs + " ms");
        process.exit(1);
    }, limitMs);
    let server;
    startServer(serverArgs)
        .then((s) => (server = s))
        .then(() => body(server))
        .then(() => server.stop())
        .then(() => {
            clearTimeout(timer);
            console.log(name + ": passed");
            process.exit(0);
        })
        .catch((error) => {
            console.error(name + ": " + (error && error.stack ? error.stack : error));
            process.exit(1);
        });
}

function check(condition, what) {
    if (!condition) throw new Error("check failed: " + what);
}

function same(actual, expected, what) {
    check(actual === expected, what + ": expected " + expected + ", got " + actual);
}

// Resolves once `predicate()` holds, checking at each event of `emitter`; rejects after `limitMs`.
function waitFor(predicate, what, limitMs = 20000) {
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

// A fresh folder under this run's temporary home.
function freshFolder(name) {
    return fs.mkdtempSync(path.join(home, name + "-"));
}

module.exports = { startServer, run, check, same, waitFor, freshFolder };
