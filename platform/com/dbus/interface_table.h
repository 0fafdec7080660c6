#pragma once

#include <QString>
#include <QVariantList>
#include <memory>
#include <vector>

#include "platform/com/dbus/bus_names.h"
#include "platform/com/dbus/peer.h"

namespace platform::com::dbus {

class RemoteObject;

// One proxied interface of a remote object; the RemoteObject owns it.
class FacetBase {
  public:
    virtual ~FacetBase() = default;
    // The facet as an interface pointer of its table's interface.
    virtual IUnknown* pointer() = 0;
};

using ServeFunction = void (*)(IUnknown* object, const QVariantList& in, Peer& peer, QVariantList& out);
using FacetFactory = std::unique_ptr<FacetBase> (*)(RemoteObject& owner);

struct MethodEntry {
    QString name;
    QString inSignature;
    QString outSignature;
    bool oneWay = false;
    ServeFunction serve = nullptr;
};

// The signature table of one COM interface: its D-Bus name, its methods, and how a proxy of it is made.
struct InterfaceTable {
    QString name;  // the COM interface's name, "IOPCServer"
    IID iid;
    std::vector<MethodEntry> methods;
    FacetFactory makeFacet = nullptr;

    QString dbusName() const { return kInterfacePrefix + name; }
    const MethodEntry* find(const QString& method) const;
    // The <interface> element of the introspection data.
    QString introspection() const;
};

template <class M>
MethodEntry entryOf() {
    return {M::name(), M::inSignature(), M::outSignature(), M::kOneWay, &M::serve};
}

template <class Itf, class Facet, class... Methods>
InterfaceTable makeTable(const char* name) {
    return {QString::fromLatin1(name),
            Itf::kIid,
            {entryOf<Methods>()...},
            [](RemoteObject& owner) -> std::unique_ptr<FacetBase> { return std::make_unique<Facet>(owner); }};
}

// The tables this process knows; each registered once, alive for the process.
void registerTable(const InterfaceTable* table);
const InterfaceTable* tableFor(const IID& iid);
std::vector<const InterfaceTable*> registeredTables();

// IUnknown's own table (served by the transport itself, present on every object).
const InterfaceTable& unknownTable();

// Splits a signature into its complete types ("a(qv)u" -> "a(qv)", "u").
QStringList splitSignature(const QString& signature);

}  // namespace platform::com::dbus
