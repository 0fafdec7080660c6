#include <QDBusPendingCall>
#include <QDBusVirtualObject>
#include <QThread>

#include "tests/platform/com/dbus/bus_node_fixture.h"

namespace bustest {
namespace {

const QString kIntrospectable = QStringLiteral("org.freedesktop.DBus.Introspectable");
const QString kUnknown = QStringLiteral("org.quillon.com.IUnknown");

// The names of the child nodes an introspection lists.
QStringList childNodes(const QString& xml) {
    QStringList names;
    QXmlStreamReader reader(xml);
    int depth = 0;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && reader.name() == QLatin1String("node")) {
            if (depth++ == 1) names << reader.attributes().value(QLatin1String("name")).toString();
        } else if (token == QXmlStreamReader::EndElement && reader.name() == QLatin1String("node")) {
            --depth;
        }
    }
    return names;
}

// Tells its sinks about new data in one format and counts them, on the notebook it watches.
void advise(IEnumString* notebook, IAdviseSink* sink) {
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(notebook->QueryInterface(IID_IConnectionPointContainer, container.putVoid()), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IAdviseSink, point.put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink, &cookie), S_OK);
}

class AccessTest : public BusNodeTest {
  protected:
    // The references of a client that left are kept: what is sent to it meanwhile is what counts.
    BusNode::Options serverOptions() const override {
        BusNode::Options options;
        options.departedGrace = std::chrono::hours(1);
        return options;
    }
    QDBusMessage rawTo(QDBusConnection& connection, const QString& service, const QString& path,
                       const QString& interface, const QString& method) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        if (method == QLatin1String("QueryInterface"))
            message << QStringLiteral("{00000000-0000-0000-C000-000000000046}");
        return connection.call(message, QDBus::Block, 5000);
    }
};

TEST_F(AccessTest, ASinkAnswersOnlyTheServerItWasGivenTo) {
    ComPtr<IEnumString> notebook = createNotebook();
    ASSERT_TRUE(notebook);
    auto* sink = new RecordingSink;
    ComPtr<IAdviseSink> holdSink(sink);
    advise(notebook.get(), sink);
    ASSERT_EQ(client->exportedCount(), 1u);
    const QString clientName = client->connection().baseService();
    const QString sinkPath = QStringLiteral("/org/quillon/com/obj/1");

    QDBusConnection stranger = connect(QStringLiteral("stranger"));
    for (const QString& method :
         {QStringLiteral("QueryInterface"), QStringLiteral("AddRef"), QStringLiteral("Release")})
        EXPECT_EQ(rawTo(stranger, clientName, sinkPath, kUnknown, method).errorName(),
                  QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"))
            << method.toStdString();
    EXPECT_EQ(
        rawTo(stranger, clientName, sinkPath, kIntrospectable, QStringLiteral("Introspect")).errorName(),
        QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"));
    EXPECT_TRUE(childNodes(rawTo(stranger, clientName, QStringLiteral("/org/quillon/com/obj"),
                                 kIntrospectable, QStringLiteral("Introspect"))
                               .arguments()
                               .value(0)
                               .toString())
                    .isEmpty());

    // The server still reaches it.
    factory->last.load()->notify(static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATDATA")), "x");
    EXPECT_TRUE(sink->waitFor(1));
    EXPECT_EQ(client->exportedCount(), 1u);
}

TEST_F(AccessTest, IntrospectionShowsACallerItsOwnObjectsAndOnlyWhatAnswers) {
    QDBusConnection first = connect(QStringLiteral("first"));
    QDBusConnection second = connect(QStringLiteral("second"));
    const QString firstPath = rawCreate(first);
    const QString secondPath = rawCreate(second);
    const QString parent = QStringLiteral("/org/quillon/com/obj");
    const auto children = [&](QDBusConnection& c) {
        return childNodes(rawTo(c, serverName, parent, kIntrospectable, QStringLiteral("Introspect"))
                              .arguments()
                              .value(0)
                              .toString());
    };
    EXPECT_EQ(children(first), QStringList{firstPath.section(QLatin1Char('/'), -1)});
    EXPECT_EQ(children(second), QStringList{secondPath.section(QLatin1Char('/'), -1)});

    // Every interface listed answers; Properties, which nothing answers here, is not listed.
    const Introspection found =
        parseIntrospection(rawTo(second, serverName, firstPath, kIntrospectable, QStringLiteral("Introspect"))
                               .arguments()
                               .value(0)
                               .toString());
    EXPECT_EQ(found.count(QStringLiteral("org.freedesktop.DBus.Properties")), 0u);
    ASSERT_EQ(found.count(QStringLiteral("org.freedesktop.DBus.Peer")), 1u);
    EXPECT_EQ(rawTo(second, serverName, firstPath, QStringLiteral("org.freedesktop.DBus.Peer"),
                    QStringLiteral("Ping"))
                  .type(),
              QDBusMessage::ReplyMessage);
    EXPECT_EQ(rawTo(second, serverName, QStringLiteral("/org/quillon/com/obj/999"), kIntrospectable,
                    QStringLiteral("Introspect"))
                  .errorName(),
              QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"));
}

TEST_F(AccessTest, NothingIsSentToAClientThatLeftTheBus) {
    const QString visitorConnection = QStringLiteral("visitor");
    auto visitor =
        BusNode::start(QDBusConnection::connectToBus(bus.address(), visitorConnection), clientOptions());
    ASSERT_TRUE(visitor);
    const QString visitorName = visitor->connection().baseService();
    auto* sink = new RecordingSink;
    ComPtr<IAdviseSink> holdSink(sink);
    QDBusConnection keeper = connect(QStringLiteral("keeper"));
    {
        ComPtr<IEnumString> notebook;
        ComPtr<IClassFactory> cf;
        ASSERT_EQ(visitor->importObject(serverName, QDBusObjectPath(kClassObjectPath), IID_IClassFactory,
                                        true, cf.putVoid()),
                  S_OK);
        ASSERT_EQ(cf->CreateInstance(nullptr, IID_IEnumString, notebook.putVoid()), S_OK);
        advise(notebook.get(), sink);
        // Another caller keeps the notebook (and so the sink advised to it) while the visitor goes.
        ASSERT_EQ(raw(keeper, QStringLiteral("/org/quillon/com/obj/1"), kUnknown, QStringLiteral("AddRef"))
                      .arguments()
                      .value(0)
                      .toUInt(),
                  1u);
    }
    Notebook* object = factory->last.load();
    const CLIPFORMAT format = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATDATA"));
    object->notify(format, "before");
    ASSERT_TRUE(sink->waitFor(1));

    visitor->stop();
    visitor.reset();
    QDBusConnection::disconnectFromBus(visitorConnection);
    ASSERT_TRUE(eventually([&] { return server->departed(visitorName); }));
    // Its objects are kept for the grace, but its sink hears nothing more: the callback is not sent.
    EXPECT_EQ(object->sinkCount(), 1u);
    const quint64 withheld = server->withheldCount();
    object->notify(format, "after");
    EXPECT_EQ(server->withheldCount(), withheld + 1);
    EXPECT_EQ(sink->data.size(), 1u);
}

TEST_F(AccessTest, ACallerThatLeftDuringACallKeepsNothingHoweverManyLeftSince) {
    BusNode::Options options;
    server->stop();
    server = BusNode::start(connect(QStringLiteral("server")), options);  // no grace: references go at once
    ASSERT_TRUE(server);
    server->setClassObject(factory);
    serverName = server->connection().baseService();

    const QString leaverConnection = QStringLiteral("leaver");
    auto leaver =
        std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(bus.address(), leaverConnection));
    const QString path = rawCreate(*leaver);
    Notebook* object = factory->last.load();
    object->close();
    QDBusMessage clone = QDBusMessage::createMethodCall(
        serverName, path, QStringLiteral("org.quillon.com.IEnumString"), QStringLiteral("Clone"));
    leaver->asyncCall(clone, 30000);
    ASSERT_TRUE(object->waitForSkip());
    leaver.reset();
    QDBusConnection::disconnectFromBus(leaverConnection);

    // Many callers come and go meanwhile; each is forgotten once nothing of it is left.
    for (int i = 0; i < 300; ++i) {
        const QString name = QStringLiteral("passer-%1").arg(i);
        QDBusConnection::connectToBus(bus.address(), name);
        QDBusConnection::disconnectFromBus(name);
    }
    ASSERT_TRUE(eventually([&] { return server->departedCount() == 1; })) << server->departedCount();
    // The clone made for the caller that left is not kept for it.
    object->open();
    EXPECT_TRUE(eventually([&] { return Notebook::live.load() == 0 && server->exportedCount() == 0; }))
        << Notebook::live.load();
    EXPECT_TRUE(eventually([&] { return server->departedCount() == 0; }));
}

TEST_F(AccessTest, EnumConnectionsHandsAClientItsOwnSinkBack) {
    ComPtr<IEnumString> notebook = createNotebook();
    ASSERT_TRUE(notebook);
    auto* sink = new RecordingSink;
    ComPtr<IAdviseSink> holdSink(sink);
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(notebook->QueryInterface(IID_IConnectionPointContainer, container.putVoid()), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IAdviseSink, point.put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink, &cookie), S_OK);
    const std::size_t serverObjects = server->exportedCount();

    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(point->EnumConnections(connections.put()), S_OK);
    CONNECTDATA data[2] = {};
    ULONG fetched = 0;
    ASSERT_EQ(connections->Next(2, data, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(data[0].dwCookie, cookie);
    ComPtr<IUnknown> own;
    sink->QueryInterface(IID_IUnknown, own.putVoid());
    EXPECT_EQ(data[0].pUnk, own.get()) << "the client's own sink, not a proxy of a server object";
    if (data[0].pUnk) data[0].pUnk->Release();
    // Nothing of the server stands in for the sink.
    EXPECT_EQ(server->exportedCount(), serverObjects + 1) << "the enumerator only";
    EXPECT_EQ(client->exportedCount(), 1u);
}

// A server that answers every QueryInterface and CreateInstance with success and no object.
class HollowServer final : public QDBusVirtualObject {
  public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        connection.send(message.createReply(QVariantList{
            QVariant::fromValue(uint{0}), QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")))}));
        return true;
    }
};

TEST_F(BusNodeTest, ASuccessWithoutAnObjectIsNoNullPointer) {
    const QString hollowConnection = QStringLiteral("hollow");
    QDBusConnection hollow = QDBusConnection::connectToBus(bus.address(), hollowConnection);
    // On a thread of its own: this one waits in the calls it answers.
    HollowServer server;
    QThread thread;
    struct Stop {
        QThread& thread;
        ~Stop() {
            thread.quit();
            thread.wait();
        }
    } stop{thread};
    ASSERT_TRUE(
        hollow.registerVirtualObject(QStringLiteral("/org/quillon/com"), &server, QDBusConnection::SubPath));
    server.moveToThread(&thread);
    thread.start();
    const QString name = hollow.baseService();

    void* pointer = reinterpret_cast<void*>(1);
    EXPECT_EQ(
        client->importObject(name, QDBusObjectPath(kClassObjectPath), IID_IClassFactory, false, &pointer),
        RPC_X_BAD_STUB_DATA);
    EXPECT_EQ(pointer, nullptr);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(client->importObject(name, QDBusObjectPath(kClassObjectPath), IID_IClassFactory, true,
                                   factory.putVoid()),
              S_OK);
    ComPtr<IEnumString> created;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IEnumString, created.putVoid()), RPC_X_BAD_STUB_DATA);
    EXPECT_FALSE(created);
    hollow.unregisterObject(QStringLiteral("/org/quillon/com"), QDBusConnection::UnregisterTree);
}

// An object with two interfaces of the same method names.
class Twins final : public ComObject<IEnumString, IEnumConnections> {
  public:
    HRESULT Next(ULONG, LPOLESTR*, ULONG* fetched) override {
        return fetched ? (*fetched = 0, S_FALSE) : S_FALSE;
    }
    HRESULT Next(ULONG, CONNECTDATA*, ULONG* fetched) override {
        return fetched ? (*fetched = 0, S_FALSE) : S_FALSE;
    }
    HRESULT Skip(ULONG) override { return S_OK; }
    HRESULT Reset() override { return S_OK; }
    HRESULT Clone(IEnumString** out) override { return (*out = nullptr, E_NOTIMPL); }
    HRESULT Clone(IEnumConnections** out) override { return (*out = nullptr, E_NOTIMPL); }
};

TEST_F(BusNodeTest, ACallWithoutAnInterfaceIsRefusedWhereItsNameIsAmbiguous) {
    QDBusConnection caller = connect(QStringLiteral("caller"));
    auto* twins = new Twins;
    ComPtr<IEnumString> hold(twins);
    const QString path = server->exportFor(static_cast<IEnumString*>(twins), caller.baseService()).path();
    const QDBusMessage ambiguous = raw(caller, path, QString(), QStringLiteral("Reset"));
    EXPECT_EQ(ambiguous.errorName(), QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"));
    EXPECT_EQ(raw(caller, path, QString(), QStringLiteral("AddRef")).arguments().value(0).toUInt(), 2u)
        << "a name of one interface only is found without it";
    EXPECT_EQ(raw(caller, path, QStringLiteral("org.quillon.com.IEnumConnections"), QStringLiteral("Reset"))
                  .arguments()
                  .value(0)
                  .toUInt(),
              0u);
}

}  // namespace
}  // namespace bustest
