// Activation of a local server: which bus name a class is reached at (the registry store's entry, else
// the name registered in the process), and CoCreateInstance reaching the server that owns it.

#include "platform/com/dbus/local_server.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include "platform/com/class_table.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dbus/bus_node.h"
#include "platform/com/dbus/platform_tables.h"
#include "platform/settings/registry_store.h"
#include "tests/platform/com/dbus/notebook.h"
#include "tests/platform/com/dbus/test_bus.h"

namespace bustest {
namespace {

using namespace platform::com::dbus;
using platform::RegistryStore;

const CLSID kNotebookClass{0x5e1f0a27, 0x3c4d, 0x4b8e, {0x9a, 0x61, 0x2f, 0x70, 0x18, 0xd3, 0x44, 0xc5}};
const QString kFixedName = QStringLiteral("org.quillon.test.Fixed");
const QString kRegisteredName = QStringLiteral("org.quillon.test.Registered");

QString serverKey() {
    return QStringLiteral("CLSID\\%1\\LocalServer32").arg(QString::fromStdString(formatGuid(kNotebookClass)));
}

// The current user's registry store (the test's own settings folder) without the class's entry.
class LocalServerName : public ::testing::Test {
  protected:
    void SetUp() override {
        registerLocalServer(kNotebookClass, kFixedName);
        forget();
    }
    void TearDown() override { forget(); }
    void forget() {
        if (store.keyExists(RegistryStore::Root::ClassesRoot, QStringLiteral("CLSID")))
            store.deleteKey(RegistryStore::Root::ClassesRoot, QStringLiteral("CLSID"));
    }
    bool enter(const QString& name) {
        return store.setString(RegistryStore::Root::ClassesRoot, serverKey(), kBusNameValue, name);
    }
    RegistryStore store;
};

TEST_F(LocalServerName, TheRegistryEntryWinsOverTheFixedName) {
    EXPECT_EQ(localServerName(kNotebookClass), kFixedName);
    ASSERT_TRUE(enter(kRegisteredName));
    EXPECT_EQ(localServerName(kNotebookClass), kRegisteredName);
    // Key and value names compare ignoring case, as the registration may spell them either way.
    forget();
    ASSERT_TRUE(store.setString(RegistryStore::Root::ClassesRoot, serverKey().toLower(),
                                QStringLiteral("busname"), kRegisteredName));
    EXPECT_EQ(localServerName(kNotebookClass), kRegisteredName);
    forget();
    EXPECT_EQ(localServerName(kNotebookClass), kFixedName);
}

TEST_F(LocalServerName, AnEntryThatIsNoWellKnownBusNameIsPassedOver) {
    for (const QString& bad :
         {QString(), QStringLiteral(":1.42"), QStringLiteral("Ferrow"), QStringLiteral("org..x"),
          QStringLiteral(".org.x"), QStringLiteral("org.x."), QStringLiteral("org.1x"),
          QStringLiteral("org.quillon Ferrow"), QStringLiteral("org.quillon/Ferrow"),
          QStringLiteral("org.qu\u00e9llon.x"), QStringLiteral("org.") + QString(260, QLatin1Char('x'))}) {
        ASSERT_TRUE(enter(bad));
        EXPECT_EQ(localServerName(kNotebookClass), kFixedName) << bad.toStdString();
    }
    forget();
    ASSERT_TRUE(store.setDword(RegistryStore::Root::ClassesRoot, serverKey(), kBusNameValue, 7));
    EXPECT_EQ(localServerName(kNotebookClass), kFixedName);
    EXPECT_TRUE(isWellKnownBusName(QStringLiteral("org.quillon.Ferrow")));
    EXPECT_TRUE(isWellKnownBusName(QStringLiteral("a-b._c.D9")));
}

TEST_F(LocalServerName, AClassNeitherRegisteredNorEnteredHasNoServer) {
    const CLSID unknown{0x5e1f0a28, 0x3c4d, 0x4b8e, {0x9a, 0x61, 0x2f, 0x70, 0x18, 0xd3, 0x44, 0xc5}};
    EXPECT_TRUE(localServerName(unknown).isEmpty());
    void* object = nullptr;
    enableLocalServerActivation();
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
}

// Two servers of the notebook class on a bus of the test's own, one at the fixed name, one at the name the
// registry store gives; CoCreateInstance reaches the one the lookup names.
class LocalServerActivation : public LocalServerName {
  protected:
    struct Server {
        std::shared_ptr<BusNode> node;
        NotebookFactory* factory = nullptr;
    };

    void SetUp() override {
        LocalServerName::SetUp();
        ASSERT_TRUE(bus.started());
        registerPlatformTables();
        fixed = serve(kFixedName);
        registered = serve(kRegisteredName);
        ASSERT_TRUE(fixed.node && registered.node);
        setClientConnection(connect(QStringLiteral("client")));
        enableLocalServerActivation();
    }
    void TearDown() override {
        shutdownClientNode();
        for (Server* s : {&fixed, &registered}) {
            if (s->node) s->node->stop();
            if (s->factory) s->factory->Release();
        }
        for (const QString& name : connections) QDBusConnection::disconnectFromBus(name);
        LocalServerName::TearDown();
    }

    QDBusConnection connect(const QString& role) {
        static int serial = 0;
        const QString name = QStringLiteral("activation-%1-%2").arg(role).arg(++serial);
        connections << name;
        return QDBusConnection::connectToBus(bus.address(), name);
    }
    Server serve(const QString& busName) {
        Server s;
        QDBusConnection c = connect(QStringLiteral("server"));
        if (c.interface()->registerService(busName).value() != QDBusConnectionInterface::ServiceRegistered)
            return s;
        s.node = BusNode::start(c);
        s.factory = new NotebookFactory;
        s.factory->AddRef();
        if (s.node) s.node->setClassObject(s.factory);
        return s;
    }
    // Which server made the new notebook; null when none did.
    NotebookFactory* create() {
        fixed.factory->last = nullptr;
        registered.factory->last = nullptr;
        ComPtr<IEnumString> notebook;
        if (FAILED(CoCreateInstance(kNotebookClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IEnumString,
                                    notebook.putVoid())))
            return nullptr;
        if (fixed.factory->last.load()) return fixed.factory;
        if (registered.factory->last.load()) return registered.factory;
        return nullptr;
    }

    TestBus bus;
    QStringList connections;
    Server fixed;
    Server registered;
};

TEST_F(LocalServerActivation, CoCreateInstanceReachesTheServerAtTheRegisteredNameElseTheFixedOne) {
    EXPECT_EQ(create(), fixed.factory);
    ASSERT_TRUE(enter(kRegisteredName));
    EXPECT_EQ(create(), registered.factory);
    ASSERT_TRUE(enter(QStringLiteral("not a bus name")));
    EXPECT_EQ(create(), fixed.factory);
}

}  // namespace
}  // namespace bustest
