// Browse from Objects to a device folder and its tags, with the NodeIds, BrowseNames and type
// definitions other programs rely on, and reads of Value, DataType, AccessLevel and NodeClass.
"use strict";
const { run, check, same } = require("./test_server");
const { connect, ua } = require("./client");

function byName(result, name) {
    return result.references.find((r) => r.browseName.name === name);
}

run("browse_read", async (server) => {
    const { session, close } = await connect(server.url);
    const objects = await session.browse("ns=0;i=85");
    same(objects.statusCode.value, 0, "browse Objects");
    check(byName(objects, "Server"), "Objects holds Server");
    const device = byName(objects, "Device1");
    check(device, "Objects holds Device1");
    same(device.nodeId.toString(), "ns=2;s=Device1", "device NodeId");
    same(device.browseName.toString(), "2:Device1", "device BrowseName");
    same(device.typeDefinition.toString(), "ns=0;i=61", "device type definition");
    same(device.referenceTypeId.toString(), "ns=0;i=35", "Organizes");
    same(device.nodeClass, ua.NodeClass.Object, "device node class");

    const tags = await session.browse("ns=2;s=Device1");
    const counter = byName(tags, "Counter");
    check(counter, "Device1 holds Counter");
    same(counter.nodeId.toString(), "ns=2;s=Device1.Counter", "tag NodeId");
    same(counter.browseName.toString(), "2:Counter", "tag BrowseName");
    same(counter.typeDefinition.toString(), "ns=0;i=63", "tag type definition");
    same(counter.referenceTypeId.toString(), "ns=0;i=47", "HasComponent");
    const line = byName(tags, "Line");
    same(line.nodeId.toString(), "ns=2;s=Device1.Line", "group NodeId");
    const group = await session.browse("ns=2;s=Device1.Line");
    same(byName(group, "Speed").nodeId.toString(), "ns=2;s=Device1.Line.Speed", "tag in a group");

    const paths = await session.translateBrowsePath(
        ua.makeBrowsePath("ns=0;i=85", "/2:Device1/2:Line/2:Speed"));
    same(paths.targets[0].targetId.toString(), "ns=2;s=Device1.Line.Speed", "browse path");

    const A = ua.AttributeIds;
    const [value, dataType, access, userAccess, nodeClass, outputAccess] = await session.read([
        { nodeId: "ns=2;s=Device1.Counter", attributeId: A.Value },
        { nodeId: "ns=2;s=Device1.Counter", attributeId: A.DataType },
        { nodeId: "ns=2;s=Device1.Counter", attributeId: A.AccessLevel },
        { nodeId: "ns=2;s=Device1.Counter", attributeId: A.UserAccessLevel },
        { nodeId: "ns=2;s=Device1.Counter", attributeId: A.NodeClass },
        { nodeId: "ns=2;s=Device1.Setpoint", attributeId: A.AccessLevel },
    ]);
    same(value.value.value, 41, "Counter value");
    same(value.value.dataType, ua.DataType.Int32, "Counter value type");
    same(value.statusCode.value, 0, "Counter status");
    check(value.sourceTimestamp instanceof Date, "source timestamp");
    same(dataType.value.value.toString(), "ns=0;i=6", "DataType Int32");
    same(access.value.value, 1, "AccessLevel of an input tag");
    same(userAccess.value.value, 1, "UserAccessLevel of an input tag");
    same(nodeClass.value.value, ua.NodeClass.Variable, "NodeClass");
    same(outputAccess.value.value, 3, "AccessLevel of an output tag");

    await server.command("set Device1.Counter 99 D8");
    const overridden = await session.read({ nodeId: "ns=2;s=Device1.Counter", attributeId: A.Value });
    same(overridden.value.value, 99, "new value");
    same(overridden.statusCode.value, 0x00960000, "local override quality");
    await close();
});
