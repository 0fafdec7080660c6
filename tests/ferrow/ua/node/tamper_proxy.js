// A TCP relay between a UA client and the server that cuts the client's byte stream into UA TCP messages,
// lets a test alter them on the way, and records the status of every ERR message the server sends.
"use strict";
const net = require("net");
const { ua } = require("./client");

function statusName(code) {
    const known = Object.values(ua.StatusCodes).find((s) => s && s.value === code);
    return known ? known.name : "0x" + code.toString(16);
}

// `alter(message, index)` gets each whole client message (header included) and its number, and returns
// the buffers to send on in its place.
function startProxy(serverUrl, alter) {
    const target = new URL(serverUrl.replace("opc.tcp:", "http:"));
    const errors = [];
    const relay = net.createServer((client) => {
        const server = net.connect(Number(target.port), target.hostname);
        let pending = Buffer.alloc(0);
        let index = 0;
        client.on("data", (data) => {
            pending = Buffer.concat([pending, data]);
            while (pending.length >= 8 && pending.length >= pending.readUInt32LE(4)) {
                const size = pending.readUInt32LE(4);
                const message = pending.subarray(0, size);
                pending = pending.subarray(size);
                for (const out of alter(Buffer.from(message), index++)) server.write(out);
            }
        });
        let answer = Buffer.alloc(0);
        server.on("data", (data) => {
            answer = Buffer.concat([answer, data]);
            while (answer.length >= 8 && answer.length >= answer.readUInt32LE(4)) {
                const size = answer.readUInt32LE(4);
                if (answer.subarray(0, 3).toString() === "ERR") errors.push(statusName(answer.readUInt32LE(8)));
                answer = answer.subarray(size);
            }
            client.write(data);
        });
        const end = () => {
            client.destroy();
            server.destroy();
        };
        client.on("close", end).on("error", end);
        server.on("close", end).on("error", end);
    });
    return new Promise((resolve) =>
        relay.listen(0, "127.0.0.1", () =>
            resolve({
                url: "opc.tcp://127.0.0.1:" + relay.address().port,
                errors,
                close: () => new Promise((done) => relay.close(done)),
            })));
}

module.exports = { startProxy };
