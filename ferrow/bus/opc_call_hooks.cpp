#include "ferrow/bus/opc_call_hooks.h"

#include <QDBusObjectPath>

#include "ferrow/bus/array_turns.h"
#include "ferrow/opc/opc_ids.h"
#include "platform/com/dbus/bus_names.h"
#include "platform/com/task_memory.h"

namespace ferrow::bus {

using namespace platform::com;
using platform::com::dbus::ServedCall;

namespace {

HRESULT resultOf(const QVariantList& out) { return static_cast<HRESULT>(out.value(0).toUInt()); }
QVariant uintValue(HRESULT value) { return QVariant::fromValue(static_cast<uint>(value)); }
QVariant nullPath() { return QVariant::fromValue(QDBusObjectPath(platform::com::dbus::kNullPath)); }

// The handle of a group in its server's list, asked of the group itself; 0 if it does not say.
opc::OPCHANDLE serverHandleOf(IUnknown* group) {
    ComPtr<opc::IOPCGroupStateMgt> state;
    if (!group || FAILED(group->QueryInterface(opc::IID_IOPCGroupStateMgt, state.putVoid()))) return 0;
    DWORD rate = 0, lcid = 0;
    BOOL active = 0;
    LPWSTR name = nullptr;
    LONG bias = 0;
    float deadband = 0;
    opc::OPCHANDLE client = 0, server = 0;
    const HRESULT result = state->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &server);
    CoTaskMemFree(name);
    return SUCCEEDED(result) ? server : 0;
}
}  // namespace

void OpcCallHooks::serve(const std::shared_ptr<ServedCall>& call) {
    const QString& member = call->member();
    if (call->iid() == opc::IID_IOPCServer) {
        if (member == QLatin1String("AddGroup")) return serveAddGroup(call);
        if (member == QLatin1String("RemoveGroup")) return serveRemoveGroup(call);
    } else if (call->iid() == opc::IID_IOPCGroupStateMgt && member == QLatin1String("CloneGroup")) {
        return serveCloneGroup(call);
    }
    const ArrayShape* shape = arrayShapeOf(call->iid(), member);
    if (!shape) {
        call->reply(call->run(call->arguments()));
        return;
    }
    PartGuard guard;
    const QString client = call->caller();
    IUnknown* group = call->identity();
    if (call->iid() == opc::IID_IOPCItemMgt && member == QLatin1String("AddItems")) {
        guard.admit = [this, client](std::size_t count) { return books_.reserveItems(client, count); };
        guard.settle = [this, client, group](std::size_t admitted, const QVariantList& out) {
            books_.itemsAdded(client, group, admitted, succeededItems(out));
        };
    } else if (call->iid() == opc::IID_IOPCItemMgt && member == QLatin1String("RemoveItems")) {
        guard.settle = [this, client, group](std::size_t, const QVariantList& out) {
            books_.itemsRemoved(client, group, succeededItems(out));
        };
    }
    serveInTurns(call, *shape, books_.limits().itemsPerTurn, std::move(guard));
}

void OpcCallHooks::serveAddGroup(const std::shared_ptr<ServedCall>& call) {
    IUnknown* server = call->identity();
    if (!books_.reserveGroup(call->caller(), server)) {
        call->reply({uintValue(E_OUTOFMEMORY), uintValue(0), uintValue(0), nullPath()});
        return;
    }
    const QVariantList out = call->run(call->arguments());
    if (FAILED(resultOf(out)) || out.size() < 4) {
        books_.groupNotAdded(call->caller(), server);
    } else {
        const ComPtr<IUnknown> group = call->objectAt(qvariant_cast<QDBusObjectPath>(out[3]));
        books_.groupAdded(call->caller(), server, group.get(), out[1].toUInt(), group.get() != nullptr);
    }
    call->reply(out);
}

// A clone is one more group of the server the original belongs to.
void OpcCallHooks::serveCloneGroup(const std::shared_ptr<ServedCall>& call) {
    IUnknown* server = books_.serverOf(call->identity());
    if (!books_.reserveGroup(call->caller(), server)) {
        call->reply({uintValue(E_OUTOFMEMORY), nullPath()});
        return;
    }
    const QVariantList out = call->run(call->arguments());
    const ComPtr<IUnknown> group = FAILED(resultOf(out)) || out.size() < 2
                                       ? nullptr
                                       : call->objectAt(qvariant_cast<QDBusObjectPath>(out[1]));
    const opc::OPCHANDLE handle = serverHandleOf(group.get());
    if (handle == 0)
        books_.groupNotAdded(call->caller(), server);
    else
        books_.groupAdded(call->caller(), server, group.get(), handle, true);
    call->reply(out);
}

void OpcCallHooks::serveRemoveGroup(const std::shared_ptr<ServedCall>& call) {
    const QVariantList out = call->run(call->arguments());
    if (SUCCEEDED(resultOf(out))) books_.groupRemoved(call->identity(), call->arguments().value(0).toUInt());
    call->reply(out);
}

}  // namespace ferrow::bus
