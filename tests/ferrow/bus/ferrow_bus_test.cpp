// Ferrow as a local server on the bus, reached from other processes: activation by the first call, the
// README's gdbus example, the interfaces every live object introspects against the published
// signatures, two clients on one tag, a client killed mid-subscription, a client that ends normally, a
// client whose sink never returns.

#include <QXmlStreamReader>

#include "platform/com/class_table.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dbus/remote_object.h"
#include "tests/ferrow/bus/ferrow_bus_fixture.h"

namespace ferrowbustest {
namespace {

using namespace platform::com;
using namespace ferrow::opc;

using Methods = std::map<QString, std::pair<QString, QString>>;
using Interfaces = std::map<QString, Methods>;

Interfaces parse(const QString& xml) {
    Interfaces result;
    QXmlStreamReader reader(xml);
    QString interface, method;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement) continue;
        const auto a = reader.attributes();
        if (reader.name() == QLatin1String("interface")) {
            interface = a.value(QLatin1String("name")).toString();
            if (!interface.startsWith(QStringLiteral("org.quillon.com."))) interface.clear();
            if (!interface.isEmpty()) result[interface];
        } else if (interface.isEmpty()) {
            continue;
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

// The published signatures (in -> out), transcribed from the bus contract, one interface per entry.
const std::map<QString, Methods>& reference() {
    static const std::map<QString, Methods> table = [] {
        auto m = [](std::initializer_list<std::tuple<const char*, const char*, const char*>> list) {
            Methods methods;
            for (const auto& [name, in, out] : list)
                methods[QString::fromLatin1(name)] = {QString::fromLatin1(in), QString::fromLatin1(out)};
            return methods;
        };
        const Methods enumTail = m({{"Skip", "u", "u"}, {"Reset", "", "u"}, {"Clone", "", "uo"}});
        auto withTail = [&](Methods methods) {
            methods.insert(enumTail.begin(), enumTail.end());
            return methods;
        };
        std::map<QString, Methods> t;
        t["IUnknown"] = m({{"QueryInterface", "s", "uo"}, {"AddRef", "", "u"}, {"Release", "", "u"}});
        t["IOPCServer"] = m({{"AddGroup", "sbuuaiadus", "uuuo"},
                             {"GetErrorString", "uu", "us"},
                             {"GetGroupByName", "ss", "uo"},
                             {"GetStatus", "", "u(tttuuuqqqs)"},
                             {"RemoveGroup", "ub", "u"},
                             {"CreateGroupEnumerator", "us", "uo"}});
        t["IOPCCommon"] = m({{"SetLocaleID", "u", "u"},
                             {"GetLocaleID", "", "uu"},
                             {"QueryAvailableLocaleIDs", "", "uau"},
                             {"GetErrorString", "u", "us"},
                             {"SetClientName", "s", "u"}});
        t["IOPCBrowseServerAddressSpace"] = m({{"QueryOrganization", "", "uu"},
                                               {"ChangeBrowsePosition", "us", "u"},
                                               {"BrowseOPCItemIDs", "usqu", "uo"},
                                               {"GetItemID", "s", "us"},
                                               {"BrowseAccessPaths", "s", "uo"}});
        t["IOPCItemProperties"] = m({{"QueryAvailableProperties", "s", "uauasaq"},
                                     {"GetItemProperties", "sau", "ua(qv)au"},
                                     {"LookupItemIDs", "sau", "uasau"}});
        t["IConnectionPointContainer"] =
            m({{"EnumConnectionPoints", "", "uo"}, {"FindConnectionPoint", "s", "uo"}});
        t["IOPCGroupStateMgt"] = m({{"GetState", "", "uubsiduuu"},
                                    {"SetState", "auabaiadauau", "uu"},
                                    {"SetName", "s", "u"},
                                    {"CloneGroup", "ss", "uo"}});
        t["IOPCItemMgt"] = m({{"AddItems", "a(ssbuayq)", "ua(uquay)au"},
                              {"ValidateItems", "a(ssbuayq)b", "ua(uquay)au"},
                              {"RemoveItems", "au", "uau"},
                              {"SetActiveState", "aub", "uau"},
                              {"SetClientHandles", "auau", "uau"},
                              {"SetDatatypes", "auaq", "uau"},
                              {"CreateEnumerator", "s", "uo"}});
        t["IOPCSyncIO"] = m({{"Read", "uau", "ua(utq(qv))au"}, {"Write", "aua(qv)", "uau"}});
        t["IOPCAsyncIO"] = m({{"Read", "uuau", "uuau"},
                              {"Write", "uaua(qv)", "uuau"},
                              {"Refresh", "uu", "uu"},
                              {"Cancel", "u", "u"}});
        t["IOPCAsyncIO2"] = m({{"Read", "auu", "uuau"},
                               {"Write", "aua(qv)u", "uuau"},
                               {"Refresh2", "uu", "uu"},
                               {"Cancel2", "u", "u"},
                               {"SetEnable", "b", "u"},
                               {"GetEnable", "", "ub"}});
        t["IDataObject"] = m({{"GetData", "(suiu)", "u(uay)"},
                              {"QueryGetData", "(suiu)", "u"},
                              {"DAdvise", "(suiu)uo", "uu"},
                              {"DUnadvise", "u", "u"},
                              {"GetDataHere", "(suiu)", "u(uay)"},
                              {"GetCanonicalFormatEtc", "(suiu)", "u(suiu)"},
                              {"SetData", "(suiu)(uay)b", "u"},
                              {"EnumFormatEtc", "u", "uo"},
                              {"EnumDAdvise", "", "uo"}});
        t["IEnumString"] = withTail(m({{"Next", "u", "uas"}}));
        t["IEnumOPCItemAttributes"] = withTail(m({{"Next", "u", "ua(ssbuuuayqqu(qv))"}}));
        return t;
    }();
    return table;
}

Interfaces expectedFor(std::initializer_list<const char*> names) {
    Interfaces out;
    for (const char* name : names)
        out[QStringLiteral("org.quillon.com.") + QString::fromLatin1(name)] =
            reference().at(QString::fromLatin1(name));
    return out;
}

QString pathOf(IUnknown* proxy) {
    ComPtr<IUnknown> identity;
    proxy->QueryInterface(IID_IUnknown, identity.putVoid());
    auto* remote = dynamic_cast<platform::com::dbus::RemoteObject*>(identity.get());
    return remote ? remote->path() : QString();
}

TEST_F(FerrowBusTest, TheLiveObjectsIntrospectExactlyThePublishedSignatures) {
    ComPtr<IOPCServer> server;
    ASSERT_EQ(
        CoCreateInstance(CLSID_FerrowServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer, server.putVoid()),
        S_OK);
    ComPtr<IUnknown> group;
    OPCHANDLE handle = 0;
    DWORD rate = 0;
    ASSERT_EQ(server->AddGroup(u"Tables", 1, 100, 1, nullptr, nullptr, 0, &handle, &rate, IID_IOPCItemMgt,
                               group.put()),
              S_OK);
    ComPtr<IOPCBrowseServerAddressSpace> browse;
    ASSERT_EQ(server->QueryInterface(IID_IOPCBrowseServerAddressSpace, browse.putVoid()), S_OK);
    ComPtr<IEnumString> names;
    ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, u"", VT_EMPTY, 0, names.put()), S_OK);
    ComPtr<IUnknown> items;
    ComPtr<IOPCItemMgt> itemMgt;
    ASSERT_EQ(group->QueryInterface(IID_IOPCItemMgt, itemMgt.putVoid()), S_OK);
    ASSERT_TRUE(SUCCEEDED(itemMgt->CreateEnumerator(IID_IEnumOPCItemAttributes, items.put())));
    ASSERT_TRUE(items);
    auto introspect = [&](IUnknown* object) {
        return parse(call(pathOf(object), QStringLiteral("org.freedesktop.DBus.Introspectable"),
                          QStringLiteral("Introspect"))
                         .arguments()
                         .value(0)
                         .toString());
    };
    EXPECT_EQ(introspect(server.get()),
              expectedFor({"IUnknown", "IOPCServer", "IOPCCommon", "IOPCBrowseServerAddressSpace",
                           "IOPCItemProperties", "IConnectionPointContainer"}));
    EXPECT_EQ(introspect(group.get()),
              expectedFor({"IUnknown", "IOPCGroupStateMgt", "IOPCItemMgt", "IOPCSyncIO", "IOPCAsyncIO",
                           "IOPCAsyncIO2", "IDataObject", "IConnectionPointContainer"}));
    EXPECT_EQ(introspect(names.get()), expectedFor({"IUnknown", "IEnumString"}));
    EXPECT_EQ(introspect(items.get()), expectedFor({"IUnknown", "IEnumOPCItemAttributes"}));
}

// The gdbus commands of the README's bus example with the answer printed under each.
std::vector<std::pair<QString, QString>> readmeExample() {
    QFile file(QStringLiteral(README_FILE));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QString text = QString::fromUtf8(file.readAll());
    const qsizetype section = text.indexOf(QStringLiteral("### Ferrow's COM objects on the session bus"));
    const qsizetype begin = text.indexOf(QStringLiteral("```sh\n"), section);
    const qsizetype end = text.indexOf(QStringLiteral("```"), begin + 5);
    if (section < 0 || begin < 0 || end < 0) return {};
    std::vector<std::pair<QString, QString>> steps;
    QString command;
    for (const QString& line : text.mid(begin + 6, end - begin - 6).split(QLatin1Char('\n'))) {
        if (line.startsWith(QStringLiteral("# "))) {
            steps.emplace_back(command, line.mid(2));
            command.clear();
        } else if (!line.trimmed().isEmpty()) {
            command += line.endsWith(QLatin1Char('\\')) ? line.chopped(1) : line;
        }
    }
    return steps;
}

TEST_F(FerrowBusTest, TheReadmeExampleRunsAsPrintedAndItsFirstCallStartsFerrow) {
    const auto steps = readmeExample();
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_FALSE(ferrowRunning());
    for (const auto& [command, answer] : steps) {
        QProcess shell;
        shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
        ASSERT_TRUE(shell.waitForFinished(60000));
        EXPECT_EQ(QString::fromUtf8(shell.readAllStandardOutput()).trimmed(), answer)
            << command.toStdString() << "\n"
            << shell.readAllStandardError().toStdString();
    }
    EXPECT_TRUE(ferrowRunning());
}

TEST_F(FerrowBusTest, TwoClientsOnOneTagBothHearTheDeviceAndAKilledOneLeavesNothingBehind) {
    ClientProcess first(QStringLiteral("watch"), QStringLiteral("Device1.Setpoint"), 20);
    ASSERT_TRUE(first.lineStarting(QStringLiteral("ready")));
    // A value set before any group has registered the tag with the device would never be pushed.
    ASSERT_TRUE(sim->log().waitFor("< chgdp/", 30s));
    const QStringList before = exportedObjects();
    ClientProcess second(QStringLiteral("watch"), QStringLiteral("Device1.Setpoint"), 20);
    ASSERT_TRUE(second.lineStarting(QStringLiteral("ready")));
    EXPECT_GT(exportedObjects().size(), before.size());

    setSetpoint(50.0f);
    EXPECT_TRUE(first.lineStarting(QStringLiteral("change 50")));
    EXPECT_TRUE(second.lineStarting(QStringLiteral("change 50")));

    second.killHard();
    // Its server and group go once its name has left the bus (and the grace has passed).
    EXPECT_TRUE(eventually([&] { return exportedObjects() == before; }))
        << exportedObjects().join(' ').toStdString();
    setSetpoint(75.5f);
    EXPECT_TRUE(first.lineStarting(QStringLiteral("change 75.5")));
    EXPECT_TRUE(first.finish());
    EXPECT_TRUE(eventually([&] { return exportedObjects().isEmpty(); }))
        << exportedObjects().join(' ').toStdString();
}

// Ferrow with long limits: the objects of a client that left the bus are kept three minutes, so only
// the client's own releases can empty the table within the hang limit below.
class FerrowBusRealTimeTest : public FerrowBusTest {
  protected:
    QByteArray timeScale() const override { return "6"; }
};

TEST_F(FerrowBusRealTimeTest, AClientThatEndsNormallyLeavesNothingBehindAtOnce) {
    // The last releases leave as the client ends; a few clients in a row, as they were not always lost.
    for (int round = 0; round < 4; ++round) {
        ClientProcess client(QStringLiteral("watch"), QStringLiteral("Device1.Setpoint"), 20);
        ASSERT_TRUE(client.lineStarting(QStringLiteral("ready"))) << round;
        EXPECT_FALSE(exportedObjects().isEmpty());
        ASSERT_TRUE(client.finish()) << round;
        // Only the client's own releases empty the table this soon.
        EXPECT_TRUE(eventually([&] { return exportedObjects().isEmpty(); }, 30s))
            << round << ": " << exportedObjects().join(' ').toStdString();
    }
}

// Callbacks with a limit of a minute: a client held up behind the sleepy one's callback would see its
// changes only after it, far beyond the hang limit of each wait below.
class FerrowBusLongCallbackLimit : public FerrowBusTest {
  protected:
    QByteArray timeScale() const override { return "6"; }
};

TEST_F(FerrowBusLongCallbackLimit, ASinkThatNeverReturnsDoesNotSlowAnotherClient) {
    ClientProcess sleepy(QStringLiteral("sleepy"), QStringLiteral("Device1.Setpoint"), 20);
    ASSERT_TRUE(sleepy.lineStarting(QStringLiteral("ready")));
    ASSERT_TRUE(sim->log().waitFor("< chgdp/", 30s));
    ClientProcess awake(QStringLiteral("watch"), QStringLiteral("Device1.Setpoint"), 20);
    ASSERT_TRUE(awake.lineStarting(QStringLiteral("ready")));
    setSetpoint(1.0f);
    ASSERT_TRUE(sleepy.lineStarting(QStringLiteral("asleep")));
    ASSERT_TRUE(awake.lineStarting(QStringLiteral("change 1")));
    // Every value reaches the awake client while the sleepy one's callback is stuck.
    for (int i = 2; i <= 6; ++i) {
        setSetpoint(static_cast<float>(i));
        EXPECT_TRUE(awake.lineStarting(QStringLiteral("change %1").arg(i), 30s)) << i;
    }
}

}  // namespace
}  // namespace ferrowbustest
