#pragma once

#include <memory>

#include "ferrow/bus/client_books.h"
#include "platform/com/dbus/served_call.h"

namespace ferrow::bus {

// How Ferrow serves its OPC objects' methods on the bus: each client's groups and items are counted
// against its limits (E_OUTOFMEMORY past them, for that client only), and the array methods run in
// turns of a bounded number of items. Owns the books; called on the node's workers, any number at once.
class OpcCallHooks final : public platform::com::dbus::CallHooks {
  public:
    explicit OpcCallHooks(ClientLimits limits) : books_(limits) {}

    void serve(const std::shared_ptr<platform::com::dbus::ServedCall>& call) override;
    void objectExported(platform::com::IUnknown* identity) override { books_.objectExported(identity); }
    void objectLeft(platform::com::IUnknown* identity) override { books_.objectLeft(identity); }

    ClientBooks& books() { return books_; }

  private:
    void serveAddGroup(const std::shared_ptr<platform::com::dbus::ServedCall>& call);
    void serveCloneGroup(const std::shared_ptr<platform::com::dbus::ServedCall>& call);
    void serveRemoveGroup(const std::shared_ptr<platform::com::dbus::ServedCall>& call);

    ClientBooks books_;
};

}  // namespace ferrow::bus
