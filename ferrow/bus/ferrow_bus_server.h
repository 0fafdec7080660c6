#pragma once

#include <QString>
#include <chrono>
#include <memory>

#include "ferrow/bus/client_books.h"
#include "platform/com/dbus/bus_node.h"

namespace ferrow::bus {

class OpcCallHooks;

inline const QString kFerrowBusName = QStringLiteral("org.quillon.Ferrow");
// A client's sink that does not answer a callback within this time counts as failing.
inline constexpr std::chrono::milliseconds kCallbackLimit{10000};
// How long the objects of a client that left the bus are kept before they are released.
inline constexpr std::chrono::milliseconds kDepartedClientGrace{30000};

// Ferrow on the session bus while its COM server thread runs: the class object registered for Ferrow's
// class exported at /org/quillon/com/ClassObject, every object handed out below it, and the well-known
// name. Start and Stop run on the COM server thread.
class FerrowBusServer {
  public:
    FerrowBusServer() = default;
    ~FerrowBusServer();
    FerrowBusServer(const FerrowBusServer&) = delete;
    FerrowBusServer& operator=(const FerrowBusServer&) = delete;

    // The limits each client meets from the next Start on (tests shrink them; Ferrow keeps the defaults).
    void setClientLimits(const ClientLimits& limits) { limits_ = limits; }
    // False (with the reason) when there is no session bus or the name is taken; Ferrow then serves
    // only its own process.
    bool Start(QString* error = nullptr);
    // Gives the name up first (so that a new activation starts a new Ferrow), then stops serving.
    void Stop();
    bool IsServing() const { return node_ != nullptr; }
    std::shared_ptr<platform::com::dbus::BusNode> node() const { return node_; }
    // What each client holds now, as its limits count it; null while not serving.
    ClientBooks* books() const;

  private:
    ClientLimits limits_;
    std::shared_ptr<OpcCallHooks> hooks_;
    QString connectionName_;
    std::shared_ptr<platform::com::dbus::BusNode> node_;
    bool ownsName_ = false;
};

// Whether this process has a session bus to reach (without starting one).
bool SessionBusAvailable();

}  // namespace ferrow::bus
