#pragma once

#include <QDBusConnection>
#include <QString>
#include <chrono>
#include <memory>

#include "platform/com/dbus/bus_node.h"

namespace platform::com::dbus {

// The client side of activation: CoGetClassObject and CoCreateInstance with CLSCTX_LOCAL_SERVER reach a
// class whose server is another process on the session bus. The first call starts that process through
// the bus's activation if it is not running; a server that cannot be reached gives
// RPC_S_SERVER_UNAVAILABLE.

// The bus name that serves `clsid`: the one its registration wrote to the registry store
// (HKEY_CLASSES_ROOT\CLSID\{clsid}\LocalServer32, string value BusName) when that is a well-known bus
// name, else the one registered here; empty when neither is known.
void registerLocalServer(const CLSID& clsid, const QString& busName);
QString localServerName(const CLSID& clsid);
inline const QString kBusNameValue = QStringLiteral("BusName");
// A name a server can own and be activated by: dot-separated elements of letters, digits, "_" and "-",
// at least two, none empty or starting with a digit, 255 characters at most.
bool isWellKnownBusName(const QString& name);

// Installs the route in the process's class table (idempotent).
void enableLocalServerActivation();

// The node of this process's proxies and of the sinks it hands to servers: started on first use, on
// `connection` when one was given, else on a connection of its own to the session bus. Null without a bus.
std::shared_ptr<BusNode> clientNode();
void setClientConnection(const QDBusConnection& connection);
// Stops the client node (its sinks are no longer served) once what it sent has reached the bus; a later
// clientNode() starts a new one. A process need not call it before it ends: the releases its proxies
// sent reach the bus before its QCoreApplication goes (or at exit, when it ends with one still there),
// so a server frees the objects of a client that ends normally at once.
void shutdownClientNode();

inline constexpr int kActivationLimitMs = 30000;
// How long the end of a client waits for the bus to take what the client sent.
inline constexpr std::chrono::milliseconds kClientFlushLimit{2000};

}  // namespace platform::com::dbus
