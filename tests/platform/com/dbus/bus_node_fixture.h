#pragma once

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QXmlStreamReader>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "platform/com/class_table.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dbus/bus_node.h"
#include "platform/com/dbus/platform_tables.h"
#include "tests/platform/com/dbus/notebook.h"
#include "tests/platform/com/dbus/test_bus.h"

namespace bustest {

using namespace platform::com::dbus;
using namespace std::chrono_literals;

inline const QString kEnumString = QStringLiteral("{00000101-0000-0000-C000-000000000046}");

// Polls `done` until it holds, at most 30 s.
inline bool eventually(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// method -> (in signature, out signature) per interface, as the object introspects.
using Introspection = std::map<QString, std::map<QString, std::pair<QString, QString>>>;

inline Introspection parseIntrospection(const QString& xml) {
    Introspection result;
    QXmlStreamReader reader(xml);
    QString interface, method;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement) continue;
        const auto a = reader.attributes();
        if (reader.name() == QLatin1String("interface")) {
            interface = a.value(QLatin1String("name")).toString();
            result[interface];
        } else if (reader.name() == QLatin1String("method")) {
            method = a.value(QLatin1String("name")).toString();
            result[interface][method];
        } else if (reader.name() == QLatin1String("arg")) {
            auto& sig = result[interface][method];
            (a.value(QLatin1String("direction")) == QLatin1String("out") ? sig.second : sig.first) +=
                a.value(QLatin1String("type")).toString();
        }
    }
    return result;
}

// A server node with the notebook class and a client node, each on its own connection to a bus of the
// test's own, both in this process.
class BusNodeTest : public ::testing::Test {
  protected:
    // The server node's limits.
    virtual BusNode::Options serverOptions() const { return {}; }
    // The client node's: it answers only the server on its sinks, as a client program's does.
    virtual BusNode::Options clientOptions() const {
        BusNode::Options options;
        options.onlyHolders = true;
        return options;
    }

    void SetUp() override {
        ASSERT_TRUE(bus.started()) << "dbus-daemon did not start";
        registerPlatformTables();
        server = BusNode::start(connect(QStringLiteral("server")), serverOptions());
        client = BusNode::start(connect(QStringLiteral("client")), clientOptions());
        ASSERT_TRUE(server && client);
        factory = new NotebookFactory;
        factory->AddRef();
        server->setClassObject(factory);
        serverName = server->connection().baseService();
    }
    void TearDown() override {
        if (client) client->stop();
        if (server) server->stop();
        if (factory) factory->Release();
        for (const QString& name : connections) QDBusConnection::disconnectFromBus(name);
        EXPECT_TRUE(eventually([] { return Notebook::live.load() == 0; })) << Notebook::live.load();
    }

    QDBusConnection connect(const QString& role) {
        static int serial = 0;
        const QString name = QStringLiteral("%1-%2").arg(role).arg(++serial);
        connections << name;
        return QDBusConnection::connectToBus(bus.address(), name);
    }
    ComPtr<IClassFactory> classObject() {
        ComPtr<IClassFactory> cf;
        EXPECT_EQ(client->importObject(serverName, QDBusObjectPath(kClassObjectPath), IID_IClassFactory, true,
                                       cf.putVoid()),
                  S_OK);
        return cf;
    }
    ComPtr<IEnumString> createNotebook() {
        ComPtr<IEnumString> notebook;
        EXPECT_EQ(classObject()->CreateInstance(nullptr, IID_IEnumString, notebook.putVoid()), S_OK);
        return notebook;
    }
    QDBusMessage raw(QDBusConnection& connection, const QString& path, const QString& interface,
                     const QString& method, const QVariantList& args = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(serverName, path, interface, method);
        message.setArguments(args);
        return connection.call(message, QDBus::Block, 5000);
    }
    QString rawCreate(QDBusConnection& connection, const QString& iid = kEnumString) {
        const QDBusMessage reply =
            raw(connection, kClassObjectPath, QStringLiteral("org.quillon.com.IClassFactory"),
                QStringLiteral("CreateInstance"), {iid});
        EXPECT_EQ(reply.signature(), QStringLiteral("uo")) << reply.errorMessage().toStdString();
        return reply.arguments().value(1).value<QDBusObjectPath>().path();
    }

    bustest::TestBus bus;
    QStringList connections;
    std::shared_ptr<BusNode> server;
    std::shared_ptr<BusNode> client;
    NotebookFactory* factory = nullptr;
    QString serverName;
};

}  // namespace bustest
