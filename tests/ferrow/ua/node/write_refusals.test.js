// Writes reach the tag; the refusals carry the endpoint's documented status codes.
"use strict";
const { run, same } = require("./test_server");
const { connect, ua } = require("./client");

run("write_refusals", async (server) => {
    const { session, close } = await connect(server.url);
    const A = ua.AttributeIds;
    const write = (nodeId, dataType, value, attributeId = A.Value) =>
        session.write({ nodeId, attributeId, value: { value: { dataType, value } } });

    same((await write("ns=2;s=Device1.Setpoint", ua.DataType.Double, 12.5)).value, 0, "write Setpoint");
    const back = await session.read({ nodeId: "ns=2;s=Device1.Setpoint", attributeId: A.Value });
    same(back.value.value, 12.5, "Setpoint read back");
    same((await write("ns=2;s=Device1.Flag", ua.DataType.Boolean, true)).value, 0, "write Flag");

    same((await write("ns=2;s=Device1.Counter", ua.DataType.Int32, 5)).name, "BadNotWritable", "input tag");
    same((await write("ns=2;s=Device1.Setpoint", ua.DataType.Int32, 5)).name, "BadTypeMismatch", "wrong type");
    same((await write("ns=2;s=Device1.Nothing", ua.DataType.Double, 5)).name, "BadNodeIdUnknown", "unknown tag");
    same((await write("ns=2;s=Device1.Setpoint", ua.DataType.Double, 1, A.DisplayName)).name, "BadNotWritable",
        "other attribute");
    const stamped = await session.write({
        nodeId: "ns=2;s=Device1.Setpoint", attributeId: A.Value,
        value: { value: { dataType: ua.DataType.Double, value: 3 }, sourceTimestamp: new Date() },
    });
    same(stamped.name, "BadWriteNotSupported", "write with a timestamp");

    await server.command("refuse Device1.Setpoint");
    same((await write("ns=2;s=Device1.Setpoint", ua.DataType.Double, 99)).name, "BadDeviceFailure", "refused");
    const kept = await session.read({ nodeId: "ns=2;s=Device1.Setpoint", attributeId: A.Value });
    same(kept.value.value, 12.5, "cached value kept after a refused write");

    const isAbstract = await session.read({ nodeId: "ns=2;s=Device1.Counter", attributeId: A.IsAbstract });
    same(isAbstract.statusCode.name, "BadAttributeIdInvalid", "attribute a variable has not");
    const unknown = await session.read({ nodeId: "ns=2;s=Device9.X", attributeId: A.Value });
    same(unknown.statusCode.name, "BadNodeIdUnknown", "read of an unknown node");
    await close();
});
