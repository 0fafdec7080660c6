// A session bus that started before the user's services folder existed watches no such folder:
// registering tells it, so a client's first call can start Ferrow at once, and unregistering tells it
// the class is gone.

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>

#include "ferrow/app/server_registration.h"
#include "platform/settings/registry_store.h"
#include "tests/pavane/private_bus.h"
#include "tests/support/test_environment.h"

namespace {

QStringList activatableNames(const QString& address) {
    const QString name = QStringLiteral("activation-reload-test");
    QStringList names;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, name);
        const QDBusReply<QStringList> reply = bus.interface()->call(QStringLiteral("ListActivatableNames"));
        if (reply.isValid()) names = reply.value();
    }
    QDBusConnection::disconnectFromBus(name);
    return names;
}

TEST(FerrowActivation, TheRunningBusKnowsTheClassRightAfterRegistering) {
    const QString folder = testsupport::freshFolder(QStringLiteral("account"));
    qputenv("XDG_DATA_HOME", (folder + QStringLiteral("/data")).toLocal8Bit());
    testsupport::PrivateBus bus({}, true);  // reads $XDG_DATA_HOME/dbus-1/services, absent at its start
    ASSERT_TRUE(bus.started());
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toLocal8Bit());
    const QString service = QStringLiteral("org.quillon.Ferrow");
    ASSERT_FALSE(activatableNames(bus.address()).contains(service));

    platform::RegistryStore store(folder + QStringLiteral("/registry.json"));
    ASSERT_TRUE(ferrow::RegisterServer(QStringLiteral("/opt/ferrow/bin/ferrow"), store));
    EXPECT_TRUE(activatableNames(bus.address()).contains(service));

    ASSERT_TRUE(ferrow::UnregisterServer(QStringLiteral("/opt/ferrow/bin/ferrow"), store));
    EXPECT_FALSE(activatableNames(bus.address()).contains(service));
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("XDG_DATA_HOME");
}

}  // namespace
