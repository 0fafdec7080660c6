// What `ferrow -RegServer` writes for clients on the bus: the bus name a client's CoCreateInstance looks
// up, the same Ferrow owns; -UnregServer takes it away again.

#include <gtest/gtest.h>

#include "ferrow/app/server_registration.h"
#include "ferrow/bus/ferrow_bus_server.h"
#include "ferrow/opc/opc_ids.h"
#include "platform/com/dbus/local_server.h"
#include "platform/settings/registry_store.h"
#include "tests/support/test_environment.h"

namespace {

using platform::RegistryStore;

TEST(FerrowBusRegistration, RegServerEntersTheNameFerrowOwnsWhereClientsLookItUp) {
    qputenv("XDG_DATA_HOME", testsupport::freshFolder(QStringLiteral("data")).toLocal8Bit());
    // The current user's store, which clients read.
    RegistryStore store;
    const QString key =
        QStringLiteral("CLSID\\%1\\LocalServer32")
            .arg(QString::fromStdString(platform::com::formatGuid(ferrow::opc::CLSID_FerrowServer)));
    ASSERT_TRUE(ferrow::RegisterServer(QStringLiteral("/opt/ferrow/bin/ferrow"), store));
    const auto entry =
        store.queryValue(RegistryStore::Root::ClassesRoot, key, platform::com::dbus::kBusNameValue);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->type, RegistryStore::kString);
    EXPECT_EQ(entry->text, ferrow::bus::kFerrowBusName);
    EXPECT_EQ(platform::com::dbus::localServerName(ferrow::opc::CLSID_FerrowServer),
              ferrow::bus::kFerrowBusName);
    // The rest of the class's local-server key is as before.
    EXPECT_EQ(store.queryValue(RegistryStore::Root::ClassesRoot, key, QString())->text,
              QStringLiteral("/opt/ferrow/bin/ferrow"));
    EXPECT_EQ(store.queryValue(RegistryStore::Root::ClassesRoot, key, QStringLiteral("ThreadingModel"))->text,
              QStringLiteral("both"));

    ASSERT_TRUE(ferrow::UnregisterServer(QStringLiteral("/opt/ferrow/bin/ferrow"), store));
    EXPECT_FALSE(store.queryValue(RegistryStore::Root::ClassesRoot, key, platform::com::dbus::kBusNameValue));
    qunsetenv("XDG_DATA_HOME");
}

}  // namespace
