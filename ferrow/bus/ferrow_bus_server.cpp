#include "ferrow/bus/ferrow_bus_server.h"

#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <atomic>

#include "ferrow/bus/opc_call_hooks.h"
#include "ferrow/bus/opc_tables.h"
#include "ferrow/opc/opc_ids.h"
#include "platform/com/class_table.h"
#include "platform/ui/time_scale.h"

namespace ferrow::bus {

using namespace platform::com;

bool SessionBusAvailable() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

FerrowBusServer::~FerrowBusServer() { Stop(); }

bool FerrowBusServer::Start(QString* error) {
    if (node_) return true;
    auto fail = [error](const QString& why) {
        if (error) *error = why;
        return false;
    };
    if (!SessionBusAvailable()) return fail(QStringLiteral("No session bus"));
    registerOpcTables();
    static std::atomic<int> serial{0};
    connectionName_ = QStringLiteral("ferrow-com-%1").arg(++serial);
    // By the address when one is given: the bus library keeps the first session address it read, and the
    // environment is what the bus that activated Ferrow (or a test) set.
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    QDBusConnection connection =
        address.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_)
                          : QDBusConnection::connectToBus(address, connectionName_);
    if (!connection.isConnected()) {
        QDBusConnection::disconnectFromBus(connectionName_);
        return fail(connection.lastError().message());
    }
    ComPtr<IUnknown> classObject;
    // The class object this process registered; never the route to another process.
    if (FAILED(CoGetClassObject(opc::CLSID_FerrowServer, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, nullptr,
                                IID_IUnknown, classObject.putVoid()))) {
        QDBusConnection::disconnectFromBus(connectionName_);
        return fail(QStringLiteral("Ferrow's class object is not registered"));
    }
    platform::com::dbus::BusNode::Options options;
    options.callLimit = platform::scaled(kCallbackLimit);
    options.departedGrace = platform::scaled(kDepartedClientGrace);
    hooks_ = std::make_shared<OpcCallHooks>(limits_);
    options.hooks = hooks_;
    node_ = platform::com::dbus::BusNode::start(connection, options);
    if (!node_) {
        hooks_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
        return fail(QStringLiteral("The object tree could not be registered"));
    }
    node_->setClassObject(classObject.get());
    const auto reply =
        connection.interface()->registerService(kFerrowBusName, QDBusConnectionInterface::DontQueueService,
                                                QDBusConnectionInterface::DontAllowReplacement);
    ownsName_ = reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
    if (!ownsName_) {
        Stop();
        return fail(QStringLiteral("The name %1 is taken").arg(kFerrowBusName));
    }
    return true;
}

void FerrowBusServer::Stop() {
    if (!node_) return;
    QDBusConnection connection = node_->connection();
    if (ownsName_) connection.interface()->unregisterService(kFerrowBusName);
    ownsName_ = false;
    node_->setClassObject(nullptr);
    node_->stop();
    node_.reset();
    hooks_.reset();
    QDBusConnection::disconnectFromBus(connectionName_);
}

ClientBooks* FerrowBusServer::books() const { return hooks_ ? &hooks_->books() : nullptr; }

}  // namespace ferrow::bus
