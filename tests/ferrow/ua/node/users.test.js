// User names and rights: anonymous sessions read but may not write while anonymous writes are off; a
// known user with the right password writes, over a channel without security (the password encrypted
// by the token's own policy) and over an encrypted one; a wrong password is refused.
"use strict";
const fs = require("fs");
const path = require("path");
const { run, same, freshFolder } = require("./test_server");
const { connect, secureClient, refusal, ua } = require("./client");

const pki = freshFolder("server-pki");
const A = ua.AttributeIds;
const setpoint = "ns=2;s=Device1.Setpoint";

async function writeSetpoint(session, value) {
    return (await session.write({
        nodeId: setpoint, attributeId: A.Value, value: { value: { dataType: ua.DataType.Double, value } },
    })).name;
}

async function userAccessLevel(session) {
    return (await session.read({ nodeId: setpoint, attributeId: A.UserAccessLevel })).value.value;
}

async function userSession(client, url, userName, password) {
    await client.connect(url);
    try {
        return await client.createSession({ type: ua.UserTokenType.UserName, userName, password });
    } catch (error) {
        await client.disconnect();
        throw error;
    }
}

run("users", async (server) => {
    const anonymous = await connect(server.url);
    same((await anonymous.session.read({ nodeId: setpoint, attributeId: A.Value })).statusCode.name, "Good",
        "anonymous read");
    same(await writeSetpoint(anonymous.session, 1), "BadUserAccessDenied", "anonymous write");
    same(await userAccessLevel(anonymous.session), 1, "anonymous UserAccessLevel: read only");
    await anonymous.close();

    const plain = () => ua.OPCUAClient.create({ endpointMustExist: false, connectionStrategy: { maxRetry: 0 } });
    const alice = plain();
    const session = await userSession(alice, server.url, "alice", "s3cret words");
    same(await writeSetpoint(session, 7.5), "Good", "alice writes over a channel without security");
    same(await userAccessLevel(session), 3, "alice's UserAccessLevel: read and write");
    await session.close();
    await alice.disconnect();

    let refused = null;
    await userSession(plain(), server.url, "alice", "wrong").catch((error) => (refused = refusal(error)));
    same(refused, "BadUserAccessDenied", "a wrong password");
    refused = null;
    await userSession(plain(), server.url, "mallory", "s3cret words").catch((error) => (refused = refusal(error)));
    same(refused, "BadUserAccessDenied", "an unknown user");

    // Over an encrypted channel, once the client's certificate is trusted.
    const folder = freshFolder("client-pki");
    const mode = ua.MessageSecurityMode.SignAndEncrypt;
    await userSession(await secureClient(folder, ua.SecurityPolicy.Aes128_Sha256_RsaOaep, mode), server.url,
        "alice", "s3cret words").catch(() => {});
    for (const name of fs.readdirSync(path.join(pki, "rejected", "certs")))
        fs.renameSync(path.join(pki, "rejected", "certs", name), path.join(pki, "trusted", "certs", name));
    const secured = await secureClient(folder, ua.SecurityPolicy.Aes128_Sha256_RsaOaep, mode);
    const securedSession = await userSession(secured, server.url, "alice", "s3cret words");
    same(await writeSetpoint(securedSession, 8.5), "Good", "alice writes over an encrypted channel");
    await securedSession.close();
    await secured.disconnect();
}, 180000, ["--pki", pki, "--user", "alice=s3cret words", "--anonymous-write", "0"]);
