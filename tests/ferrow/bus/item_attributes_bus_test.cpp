// A group's item enumerator across the bus: each attribute a remote client fetches with Next is the one
// the group holds, the server's and the client's handle each in its own place.

#include <QDBusConnection>

#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/com_ptr.h"
#include "platform/com/task_memory.h"
#include "tests/ferrow/bus/in_process_ferrow.h"

namespace {

using namespace platform::com;
using namespace ferrow::opc;

void clearAttributes(OPCITEMATTRIBUTES& a) {
    CoTaskMemFree(a.szAccessPath);
    CoTaskMemFree(a.szItemID);
    CoTaskMemFree(a.pBlob);
    VariantClear(&a.vEUInfo);
}

using FerrowBusItemAttributes = bustest::InProcessFerrowTest;

TEST_F(FerrowBusItemAttributes, NextAcrossTheBusKeepsTheServerAndClientHandlesApart) {
    QDBusConnection connection = startServing(QStringLiteral("item-attributes-client"));
    ComPtr<IOPCServer> server = createServer();
    ASSERT_TRUE(server);
    ComPtr<IOPCItemMgt> group;
    OPCHANDLE groupHandle = 0;
    DWORD rate = 0;
    ASSERT_EQ(server->AddGroup(u"Items", 1, 100, 9, nullptr, nullptr, 0, &groupHandle, &rate, IID_IOPCItemMgt,
                               reinterpret_cast<IUnknown**>(group.put())),
              S_OK);
    // Client handles far from any server handle the group hands out.
    OPCITEMDEF defs[2] = {};
    defs[0].szItemID = const_cast<char16_t*>(u"Device1.Setpoint");
    defs[0].bActive = 1;
    defs[0].hClient = 0xC0DE01;
    defs[1].szItemID = const_cast<char16_t*>(u"Device1.Setpoint");
    defs[1].bActive = 0;
    defs[1].hClient = 0xC0DE02;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(group->AddItems(2, defs, &results, &errors), S_OK);
    const OPCHANDLE serverHandles[2] = {results[0].hServer, results[1].hServer};
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    ASSERT_NE(serverHandles[0], serverHandles[1]);

    // The client reaches the group through its proxy, and the enumerator it makes is one too.
    ComPtr<IOPCItemMgt> remote;
    const QDBusObjectPath path = busServer->node()->exportFor(group.get(), connection.baseService());
    ASSERT_EQ(platform::com::dbus::clientNode()->importObject(busServer->node()->connection().baseService(),
                                                              path, IID_IOPCItemMgt, true, remote.putVoid()),
              S_OK);
    ComPtr<IEnumOPCItemAttributes> items;
    ASSERT_EQ(remote->CreateEnumerator(IID_IEnumOPCItemAttributes, reinterpret_cast<IUnknown**>(items.put())),
              S_OK);
    OPCITEMATTRIBUTES* fetched = nullptr;
    ULONG count = 0;
    ASSERT_EQ(items->Next(2, &fetched, &count), S_OK);
    ASSERT_EQ(count, 2u);
    for (ULONG i = 0; i < count; ++i) {
        // The enumerator may list the items in any order: the client handle tells them apart.
        const int which = fetched[i].hClient == 0xC0DE02 ? 1 : 0;
        EXPECT_EQ(fetched[i].hClient, defs[which].hClient);
        EXPECT_EQ(fetched[i].hServer, serverHandles[which]);
        EXPECT_EQ(fetched[i].bActive, defs[which].bActive);
        EXPECT_EQ(std::u16string(fetched[i].szItemID), u"Device1.Setpoint");
        clearAttributes(fetched[i]);
    }
    CoTaskMemFree(fetched);
}

}  // namespace
