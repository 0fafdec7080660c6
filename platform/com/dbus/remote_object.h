#pragma once

#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/com/dbus/interface_table.h"
#include "platform/com/dbus/marshal.h"

namespace platform::com::dbus {

class BusNode;
class NodePeer;

// The proxy of one object of a peer (one path at one unique name): the identity a local caller holds,
// answering QueryInterface by asking the peer once per interface and handing out one facet per
// interface. It keeps exactly one of the peer's references while it lives and gives it back (without
// waiting) when its own count reaches zero. Any thread.
class RemoteObject final : public IUnknown {
  public:
    RemoteObject(std::shared_ptr<BusNode> node, QString peer, QString path);
    ~RemoteObject();
    RemoteObject(const RemoteObject&) = delete;
    RemoteObject& operator=(const RemoteObject&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    // A reference only while the count is not zero (the node's proxy table sees dying proxies).
    bool tryAddRef();

    // The facet of `iid` with one reference, the peer having said it offers it; E_NOINTERFACE when this
    // process has no table for it.
    HRESULT knownFacet(REFIID iid, void** ppv);
    // The tables of the interfaces the peer has confirmed.
    std::vector<const InterfaceTable*> knownTables();

    // Its peer has left the bus: calls fail at once with RPC_E_DISCONNECTED and nothing is sent to it.
    void markDeparted() { departed_ = true; }

    CallTarget target(const QString& interface);
    const QString& peer() const { return peer_; }
    const QString& path() const { return path_; }

  private:
    // Null when the facet is not there yet.
    IUnknown* findFacet(const IID& iid);

    std::shared_ptr<BusNode> node_;
    QString peer_;
    QString path_;
    std::unique_ptr<NodePeer> link_;  // how this proxy's calls reach the peer
    std::atomic<ULONG> refs_{0};
    std::atomic<bool> departed_{false};
    std::mutex lock_;
    std::vector<std::pair<const InterfaceTable*, std::unique_ptr<FacetBase>>> facets_;
};

// The proxy of one interface: every method is one line that hands its arguments to the interface's
// signature table.
template <class Itf>
class Facet : public Itf, public FacetBase {
  public:
    explicit Facet(RemoteObject& owner) : owner_(owner), interface_(kInterfacePrefix + tableName()) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override { return owner_.QueryInterface(riid, ppv); }
    ULONG AddRef() override { return owner_.AddRef(); }
    ULONG Release() override { return owner_.Release(); }
    IUnknown* pointer() override { return static_cast<Itf*>(this); }

  protected:
    template <class M, class... X>
    HRESULT forward(X&&... args) {
        return M::call(owner_.target(interface_), std::forward<X>(args)...);
    }

  private:
    static QString tableName() {
        const InterfaceTable* table = tableFor(Itf::kIid);
        return table ? table->name : QString();
    }
    RemoteObject& owner_;
    QString interface_;
};

}  // namespace platform::com::dbus
