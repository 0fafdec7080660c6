#include "tests/platform/com/dbus/bus_node_fixture.h"

namespace bustest {

std::atomic<long> Notebook::live{0};

namespace {

std::vector<std::string> next(IEnumString* e, ULONG count, HRESULT* result) {
    std::vector<LPOLESTR> texts(count, nullptr);
    ULONG fetched = 99;
    *result = e->Next(count, texts.data(), &fetched);
    std::vector<std::string> out;
    for (ULONG i = 0; i < fetched && i < count; ++i) {
        out.push_back(ansiFromWide(wideView(texts[i])));
        CoTaskMemFree(texts[i]);
    }
    return out;
}

TEST_F(BusNodeTest, ProxiesCallTheRemoteObjectAndItGoesWithTheLastReference) {
    ComPtr<IEnumString> notebook = createNotebook();
    ASSERT_TRUE(notebook);
    HRESULT result;
    EXPECT_EQ(next(notebook.get(), 2, &result), (std::vector<std::string>{"alpha", "beta"}));
    EXPECT_EQ(result, S_OK);
    EXPECT_EQ(next(notebook.get(), 5, &result), (std::vector<std::string>{"gamma"}));
    EXPECT_EQ(result, S_FALSE);

    ComPtr<IEnumString> copy;
    ASSERT_EQ(notebook->Reset(), S_OK);
    ASSERT_EQ(notebook->Skip(1), S_OK);
    ASSERT_EQ(notebook->Clone(copy.put()), S_OK);
    EXPECT_EQ(next(copy.get(), 1, &result), (std::vector<std::string>{"beta"}));

    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(notebook->QueryInterface(IID_IConnectionPointContainer, container.putVoid()), S_OK);
    ComPtr<IUnknown> a, b;
    notebook->QueryInterface(IID_IUnknown, a.putVoid());
    container->QueryInterface(IID_IUnknown, b.putVoid());
    EXPECT_EQ(a.get(), b.get()) << "one proxy identity per remote object";
    ComPtr<IDataObject> data;
    EXPECT_EQ(notebook->QueryInterface(IID_IDataObject, data.putVoid()), E_NOINTERFACE);
    EXPECT_EQ(server->exportedCount(), 2u);
    EXPECT_EQ(Notebook::live.load(), 2);

    notebook.reset();
    copy.reset();
    container.reset();
    a.reset();
    b.reset();
    EXPECT_TRUE(eventually([&] { return server->exportedCount() == 0 && Notebook::live.load() == 0; }));
    EXPECT_EQ(client->proxyCount(), 0u);
}

TEST_F(BusNodeTest, IntrospectionListsExactlyTheInterfacesTheObjectAnswers) {
    QDBusConnection caller = connect(QStringLiteral("caller"));
    const QString path = rawCreate(caller);
    ASSERT_TRUE(path.startsWith(QStringLiteral("/org/quillon/com/obj/")));
    const QDBusMessage reply = raw(caller, path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                   QStringLiteral("Introspect"));
    Introspection found = parseIntrospection(reply.arguments().value(0).toString());
    std::erase_if(
        found, [](const auto& entry) { return entry.first.startsWith(QStringLiteral("org.freedesktop")); });
    const Introspection expected{
        {QStringLiteral("org.quillon.com.IUnknown"),
         {{QStringLiteral("QueryInterface"), {QStringLiteral("s"), QStringLiteral("uo")}},
          {QStringLiteral("AddRef"), {QString(), QStringLiteral("u")}},
          {QStringLiteral("Release"), {QString(), QStringLiteral("u")}}}},
        {QStringLiteral("org.quillon.com.IEnumString"),
         {{QStringLiteral("Next"), {QStringLiteral("u"), QStringLiteral("uas")}},
          {QStringLiteral("Skip"), {QStringLiteral("u"), QStringLiteral("u")}},
          {QStringLiteral("Reset"), {QString(), QStringLiteral("u")}},
          {QStringLiteral("Clone"), {QString(), QStringLiteral("uo")}}}},
        {QStringLiteral("org.quillon.com.IConnectionPointContainer"),
         {{QStringLiteral("EnumConnectionPoints"), {QString(), QStringLiteral("uo")}},
          {QStringLiteral("FindConnectionPoint"), {QStringLiteral("s"), QStringLiteral("uo")}}}}};
    EXPECT_EQ(found, expected);

    const QDBusMessage point = raw(caller, path, QStringLiteral("org.quillon.com.IConnectionPointContainer"),
                                   QStringLiteral("FindConnectionPoint"),
                                   {QStringLiteral("{0000010f-0000-0000-c000-000000000046}")});
    ASSERT_EQ(point.arguments().value(0).toUInt(), 0u) << "IIDs compare ignoring case";
    const QString pointPath = point.arguments().value(1).value<QDBusObjectPath>().path();
    Introspection pointFound =
        parseIntrospection(raw(caller, pointPath, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                               QStringLiteral("Introspect"))
                               .arguments()
                               .value(0)
                               .toString());
    const std::map<QString, std::pair<QString, QString>> pointMethods{
        {QStringLiteral("GetConnectionInterface"), {QString(), QStringLiteral("us")}},
        {QStringLiteral("GetConnectionPointContainer"), {QString(), QStringLiteral("uo")}},
        {QStringLiteral("Advise"), {QStringLiteral("o"), QStringLiteral("uu")}},
        {QStringLiteral("Unadvise"), {QStringLiteral("u"), QStringLiteral("u")}},
        {QStringLiteral("EnumConnections"), {QString(), QStringLiteral("uo")}}};
    EXPECT_EQ(pointFound[QStringLiteral("org.quillon.com.IConnectionPoint")], pointMethods);
    EXPECT_EQ(pointFound.count(QStringLiteral("org.quillon.com.IEnumString")), 0u);
}

TEST_F(BusNodeTest, ReferencesBelongToTheirCallerAndGoWhenItLeavesTheBus) {
    auto caller = std::make_unique<QDBusConnection>(connect(QStringLiteral("caller")));
    QDBusConnection other = connect(QStringLiteral("other"));
    const QString path = rawCreate(*caller);
    const QString unknown = QStringLiteral("org.quillon.com.IUnknown");
    EXPECT_EQ(raw(*caller, path, unknown, QStringLiteral("AddRef")).arguments().value(0).toUInt(), 2u);
    EXPECT_EQ(raw(*caller, path, unknown, QStringLiteral("Release")).arguments().value(0).toUInt(), 1u);
    // Another caller cannot release what it does not hold.
    EXPECT_EQ(raw(other, path, unknown, QStringLiteral("Release")).arguments().value(0).toUInt(), 0u);
    EXPECT_EQ(Notebook::live.load(), 1);
    EXPECT_EQ(server->referencesOf(caller->baseService()), 1u);

    // Its class-object locks are its own too.
    const QString factoryInterface = QStringLiteral("org.quillon.com.IClassFactory");
    raw(other, kClassObjectPath, factoryInterface, QStringLiteral("LockServer"), {false});
    EXPECT_EQ(factory->locks.load(), 0);
    raw(*caller, kClassObjectPath, factoryInterface, QStringLiteral("LockServer"), {true});
    raw(*caller, kClassObjectPath, factoryInterface, QStringLiteral("LockServer"), {true});
    EXPECT_EQ(factory->locks.load(), 2);

    caller.reset();
    QDBusConnection::disconnectFromBus(connections[2]);
    EXPECT_TRUE(eventually([&] { return Notebook::live.load() == 0 && factory->locks.load() == 0; }));
    EXPECT_EQ(server->exportedCount(), 0u);
}

TEST_F(BusNodeTest, ADisconnectedObjectFailsWithRpcDisconnected) {
    ComPtr<IEnumString> notebook = createNotebook();
    ASSERT_TRUE(notebook);
    Notebook* object = factory->last.load();
    ASSERT_EQ(CoDisconnectObject(static_cast<IEnumString*>(object), 0), S_OK);
    EXPECT_EQ(notebook->Reset(), RPC_E_DISCONNECTED);
    EXPECT_EQ(server->exportedCount(), 0u);
}

TEST_F(BusNodeTest, AClientSinkIsCalledBackWithTheFormatByNameAndTheBytesAsSent) {
    ComPtr<IEnumString> notebook = createNotebook();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(notebook->QueryInterface(IID_IConnectionPointContainer, container.putVoid()), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IAdviseSink, point.put()), S_OK);
    IID iid{};
    EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, IID_IAdviseSink);

    auto* sink = new RecordingSink;
    ComPtr<IAdviseSink> holdSink(sink);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    Notebook* object = factory->last.load();
    EXPECT_EQ(object->sinkCount(), 1u);

    const std::string bytes("\x01\x00\xff stream", 10);
    object->notify(static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATDATATIME")), bytes);
    ASSERT_TRUE(sink->waitFor(1));
    EXPECT_EQ(sink->formats[0], "OPCSTMFORMATDATATIME");
    EXPECT_EQ(sink->data[0], bytes);

    ASSERT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_EQ(object->sinkCount(), 0u);
    // The server's proxy gave the sink back.
    EXPECT_TRUE(eventually([&] { return client->exportedCount() == 0; }));
}

TEST_F(BusNodeTest, ASlowCallDoesNotHoldUpTheOtherCalls) {
    ComPtr<IEnumString> notebook = createNotebook();
    Notebook* object = factory->last.load();
    object->close();
    HRESULT slow = E_FAIL;
    std::thread skipping([&] { slow = notebook->Skip(1); });
    ASSERT_TRUE(object->waitForSkip());
    EXPECT_EQ(notebook->Reset(), S_OK);
    HRESULT result;
    EXPECT_EQ(next(notebook.get(), 1, &result), (std::vector<std::string>{"alpha"}));
    object->open();
    skipping.join();
    EXPECT_EQ(slow, S_OK);
}

TEST_F(BusNodeTest, BadCallsGetClearAnswersAndNothingIsLeftBehind) {
    QDBusConnection caller = connect(QStringLiteral("caller"));
    const QString path = rawCreate(caller);
    const QString enumString = QStringLiteral("org.quillon.com.IEnumString");

    EXPECT_EQ(raw(caller, QStringLiteral("/org/quillon/com/obj/999"), enumString, QStringLiteral("Reset"))
                  .errorName(),
              QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"));
    EXPECT_EQ(raw(caller, path + QStringLiteral("0"), enumString, QStringLiteral("Reset")).errorName(),
              QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"));
    EXPECT_EQ(raw(caller, path, enumString, QStringLiteral("Next"), {QStringLiteral("many")}).errorName(),
              QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
    EXPECT_EQ(raw(caller, path, QStringLiteral("org.quillon.com.IDataObject"), QStringLiteral("GetData"))
                  .errorName(),
              QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"));

    const QDBusMessage huge = raw(caller, path, enumString, QStringLiteral("Next"), {uint{4000000000u}});
    ASSERT_EQ(huge.signature(), QStringLiteral("uas"));
    EXPECT_EQ(huge.arguments().value(0).toUInt(), static_cast<uint>(E_OUTOFMEMORY));
    EXPECT_TRUE(huge.arguments().value(1).toStringList().isEmpty());

    const QDBusMessage badIid = raw(caller, path, QStringLiteral("org.quillon.com.IUnknown"),
                                    QStringLiteral("QueryInterface"), {QStringLiteral("IEnumString")});
    EXPECT_EQ(badIid.arguments().value(0).toUInt(), static_cast<uint>(E_INVALIDARG));
    EXPECT_EQ(badIid.arguments().value(1).value<QDBusObjectPath>().path(), QStringLiteral("/"));
    EXPECT_EQ(rawCreate(caller, QStringLiteral("{not an iid}")), QStringLiteral("/"));

    EXPECT_EQ(Notebook::live.load(), 1);
    EXPECT_EQ(raw(caller, path, QStringLiteral("org.quillon.com.IUnknown"), QStringLiteral("Release"))
                  .arguments()
                  .value(0)
                  .toUInt(),
              0u);
    EXPECT_TRUE(eventually([] { return Notebook::live.load() == 0; }));
}

}  // namespace
}  // namespace bustest
