// What a secured endpoint refuses: an expired certificate, one whose ApplicationUri is not the
// client's, a chunk altered on the way, and a chunk sent twice.
"use strict";
const fs = require("fs");
const path = require("path");
const { run, same, check, waitFor, freshFolder } = require("./test_server");
const { secureClient, refusal, ua } = require("./client");
const { startProxy } = require("./tamper_proxy");
const { readCertificate } = require("node-opcua-crypto");

const pki = freshFolder("server-pki");
const day = 24 * 3600 * 1000;

// A certificate of the client's own key, trusted by the server before it is used.
async function trustedCertificate(folder, name, applicationUri, startDate, validity) {
    const client = await secureClient(folder, ua.SecurityPolicy.Basic256Sha256, ua.MessageSecurityMode.Sign);
    const file = path.join(folder, name + ".pem");
    await client.clientCertificateManager.createSelfSignedCertificate({
        applicationUri, subject: "/CN=" + name, dns: ["localhost"], startDate, validity, outputFile: file,
    });
    fs.mkdirSync(path.join(pki, "trusted", "certs"), { recursive: true });
    fs.writeFileSync(path.join(pki, "trusted", "certs", name + ".der"), readCertificate(file));
    return { certificateFile: file, privateKeyFile: path.join(folder, "own", "private", "private_key.pem") };
}

async function client(folder, files, applicationUri, mode) {
    const c = await secureClient(folder, ua.SecurityPolicy.Basic256Sha256, mode, { ...files, applicationUri });
    // This client names itself by its certificate's URI whatever it is told; a client that does not is
    // what the refusal is for, so this one is made to name `applicationUri`.
    c._getApplicationUri = () => applicationUri;
    return c;
}

async function session(folder, files, applicationUri, mode, url) {
    const c = await client(folder, files, applicationUri, mode);
    await c.connect(url);
    return { client: c, session: await c.createSession() };
}

// The status refusing the session: from the server's ERR when it ended the channel (the client reports
// those in words of its own), else from the refused call.
async function refusedSession(folder, files, applicationUri, url) {
    const relay = await startProxy(url, (message) => [message]);
    const c = await client(folder, files, applicationUri, ua.MessageSecurityMode.SignAndEncrypt);
    let refused = null;
    try {
        await c.connect(relay.url);
        await c.createSession();
    } catch (error) {
        refused = refusal(error);
    }
    await c.disconnect();
    await relay.close();
    return relay.errors[0] || refused;
}

run("certificate_refusals", async (server) => {
    const folder = freshFolder("client-pki");
    const expired = await trustedCertificate(folder, "expired", "urn:test:expired", new Date(Date.now() - 400 * day), 10);
    same(await refusedSession(folder, expired, "urn:test:expired", server.url), "BadCertificateTimeInvalid", "expired");

    const good = await trustedCertificate(folder, "good", "urn:test:good", new Date(Date.now() - day), 365);
    same(await refusedSession(folder, good, "urn:test:somebody-else", server.url), "BadCertificateUriInvalid",
        "an ApplicationUri the certificate does not carry");

    // One byte flipped in a signed request: the server ends the channel and says why.
    // The relays alter the first request after the session is open.
    let armed = false;
    const flip = await startProxy(server.url, (message) => {
        if (armed && message.subarray(0, 3).toString() === "MSG") {
            armed = false;
            message[message.length - 5] ^= 0x01;
        }
        return [message];
    });
    const tampered = await session(folder, good, "urn:test:good", ua.MessageSecurityMode.Sign, flip.url);
    armed = true;
    // The read never gets an answer: the server ends the channel instead, which is what is awaited.
    tampered.session.read({ nodeId: "ns=2;s=Device1.Counter", attributeId: 13 }).catch(() => {});
    await waitFor(() => flip.errors.length > 0, "an ERR for the altered chunk");
    same(flip.errors[0], "BadSecurityChecksFailed", "altered chunk");
    await tampered.client.disconnect().catch(() => {});
    await flip.close();

    // A signed request sent twice: the copy's sequence number is refused.
    const replay = await startProxy(server.url, (message) => {
        if (!armed || message.subarray(0, 3).toString() !== "MSG") return [message];
        armed = false;
        return [message, message];
    });
    const replayed = await session(folder, good, "urn:test:good", ua.MessageSecurityMode.Sign, replay.url);
    armed = true;
    replayed.session.read({ nodeId: "ns=2;s=Device1.Counter", attributeId: 13 }).catch(() => {});
    await waitFor(() => replay.errors.length > 0, "an ERR for the replayed chunk");
    same(replay.errors[0], "BadSequenceNumberInvalid", "replayed chunk");
    await replayed.client.disconnect().catch(() => {});
    await replay.close();
    check(true, "done");
}, 180000, ["--pki", pki]);
