// The README's first UA session against the real Ferrow: a simulated device on a loopback address of its
// own, Ferrow with a configuration naming it and its endpoint on a free port, then first_session.js. The
// write must reach the device as "setdp". FERROW and DEVSIM name the programs.
"use strict";
const { spawn } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");
const { check, same } = require("./test_server");
const { firstSession, until } = require("./first_session");

const limitMs = 120000;
const work = fs.mkdtempSync(path.join(os.tmpdir(), "ferrow-ua-devsim-"));
const children = [];

// Ferrow's configuration file with one device, Device1, at `address`, in the file's own format.
function configuration(address) {
    const octets = address.split(".").map((o) => String.fromCharCode(o.length) + o).join("");
    const text = "\xff\xff\x01\x00\x04\x00CDoc\x02\x00\xff\xff\x01\x00\x09\x00OTagGroup\x05Group\x00\x01\x00\x01\x00" +
        "\xff\xff\x01\x00\x07\x00ODevice\x00\x00\x00\x00\x00\x00\x00\x00" +
        "\xff\xff\x01\x00\x0d\x00ODeviceParams" + octets +
        "\xe8\x03\x00\x00\x00\x00\x02\x80" + "\x07Device1\x00\x01\x00\x00\x00";
    const file = path.join(work, "plant.tdb");
    fs.writeFileSync(file, Buffer.from(text, "latin1"));
    return file;
}

// Starts `program`; resolves with the first match of `pattern` in its output, keeping all of it in `out`.
function startAndAwait(program, args, env, pattern, out) {
    const child = spawn(program, args, { env, stdio: ["ignore", "pipe", "pipe"] });
    children.push(child);
    return new Promise((resolve, reject) => {
        child.on("exit", (code) => reject(new Error(path.basename(program) + " ended with " + code + ":\n" + out.text)));
        const take = (data) => {
            out.text += data.toString();
            const match = out.text.match(pattern);
            if (match) resolve(match);
        };
        child.stdout.on("data", take);
        child.stderr.on("data", take);
    });
}

function stopAll() {
    for (const child of children) if (child.exitCode === null) child.kill("SIGTERM");
}

const timer = setTimeout(() => {
    console.error("ferrow_devsim: no end within " + limitMs + " ms");
    stopAll();
    process.exit(1);
}, limitMs);

async function main() {
    for (const name of ["FERROW", "DEVSIM"]) check(process.env[name], name + " names the program");
    // A loopback address of this run's own: the device's ports are fixed.
    const address = "127.83." + (1 + (process.pid % 250)) + "." + (1 + Math.floor(Math.random() * 250));
    const device = { text: "" };
    await startAndAwait(process.env.DEVSIM, ["--address", address, "--root", path.join(work, "device")],
        process.env, /device on/, device);

    const runtime = path.join(work, "run");
    fs.mkdirSync(runtime, { mode: 0o700 });
    const env = Object.assign({}, process.env, {
        HOME: work, XDG_CONFIG_HOME: path.join(work, "config"), XDG_DATA_HOME: path.join(work, "data"),
        XDG_RUNTIME_DIR: runtime, QT_QPA_PLATFORM: "offscreen",
    });
    const ferrow = { text: "" };
    const listening = await startAndAwait(process.env.FERROW,
        [configuration(address), "--ua-port", "0", "--ua-listen", "127.0.0.1"], env,
        /OPC UA endpoint listening on opc\.tcp:\/\/\S+:(\d+)/, ferrow);

    const seen = await firstSession("opc.tcp://127.0.0.1:" + listening[1], 7.5, () => {});
    check(seen.devices.includes("Device1"), "Objects holds Device1");
    for (const tag of ["Level", "Setpoint", "Counter"]) check(seen.tags.includes(tag), "Device1 holds " + tag);
    same(seen.level.value.value, 1, "Level as the device has it");
    check(seen.seen.includes(2.5), "the subscription brought Setpoint as the device has it");
    same(seen.written.name, "Good", "write Setpoint");
    await until(() => device.text.includes("< setdp/Setpoint/"), "setdp at the device");
    check(device.text.includes("< chgdp/"), "the subscription registered Setpoint with the device");
    check(ferrow.text.split("OPC UA endpoint listening").length === 2, "the endpoint said once where it listens");
}

main()
    .then(() => {
        clearTimeout(timer);
        stopAll();
        console.log("ferrow_devsim: passed");
        process.exit(0);
    })
    .catch((error) => {
        console.error("ferrow_devsim: " + (error && error.stack ? error.stack : error));
        stopAll();
        process.exit(1);
    });
