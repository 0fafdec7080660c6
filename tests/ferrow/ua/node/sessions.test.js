// Twenty sessions at once, each reading; closing them leaves the endpoint serving a new one.
"use strict";
const { run, same } = require("./test_server");
const { connect, ua } = require("./client");

run("sessions", async (server) => {
    const clients = await Promise.all(Array.from({ length: 20 }, () => connect(server.url)));
    const values = await Promise.all(clients.map(({ session }) =>
        session.read({ nodeId: "ns=2;s=Device1.Counter", attributeId: ua.AttributeIds.Value })));
    values.forEach((v, i) => same(v.value.value, 41, "session " + i + " reads"));
    await Promise.all(clients.map((c) => c.close()));
    const last = await connect(server.url);
    const state = await last.session.read({ nodeId: "ns=0;i=2259", attributeId: ua.AttributeIds.Value });
    same(state.value.value, 0, "served after the others closed");
    await last.close();
});
