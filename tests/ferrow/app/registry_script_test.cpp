#include "ferrow/app/registry_script.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "ferrow/app/server_registration.h"
#include "ferrow/opc/opc_ids.h"
#include "platform/settings/registry_store.h"
#include "tests/support/test_environment.h"

using platform::RegistryStore;
constexpr auto kHKCR = RegistryStore::Root::ClassesRoot;

namespace {

QString text(const RegistryStore& store, const QString& key, const QString& name = {}) {
    const auto value = store.queryValue(kHKCR, key, name);
    return value ? value->text : QStringLiteral("<none>");
}

std::optional<ferrow::RegistryScript> parse(const char* script, QString* error = nullptr) {
    return ferrow::parseRegistryScript(QString::fromLatin1(script),
                                       {{QStringLiteral("Module"), QStringLiteral("/opt/x")}}, error);
}

}  // namespace

TEST(RegistryScript, ReadsKeysFlagsValuesAndVariables) {
    const auto script = parse(R"(HKCR { NoRemove A { ForceRemove 'B c' = s 'it''s %MODULE% 100%%'
        { val N = d 0x10  val S = s '' } } })");
    ASSERT_TRUE(script);
    ASSERT_EQ(script->roots.size(), 1u);
    const auto& a = script->roots[0].keys.at(0);
    EXPECT_EQ(a.flag, ferrow::RegistryScriptKey::Flag::NoRemove);
    const auto& b = a.subKeys.at(0);
    EXPECT_EQ(b.flag, ferrow::RegistryScriptKey::Flag::ForceRemove);
    EXPECT_EQ(b.name, QStringLiteral("B c"));
    EXPECT_EQ(b.defaultValue->text, QStringLiteral("it's /opt/x 100%"));
    ASSERT_EQ(b.values.size(), 2u);
    EXPECT_EQ(b.values[0].type, RegistryStore::kDword);
    EXPECT_EQ(b.values[0].number, 16u);
    EXPECT_EQ(b.values[1].text, QString());
}

TEST(RegistryScript, MistakesAreReportedWithTheirLine) {
    struct Case {
        const char* script;
        const char* error;
    };
    for (const Case& c : {Case{"HKXX { }", "line 1: unknown root key \"HKXX\""},
                          Case{"HKCR {\n A = s 'x'\n", "line 2: \"}\" expected at the end"},
                          Case{"HKCR {\n A = s '%NOPE%' }", "line 2: unknown variable %NOPE%"},
                          Case{"HKCR { A = s 'open }", "line 1: a quoted text does not end"},
                          Case{"HKCR { A = q 'x' }", "line 1: value type s or d expected, not \"q\""},
                          Case{"HKCR { A = d 99999999999 }", "line 1: \"99999999999\" is no 32-bit number"},
                          Case{"HKCR { val V = s 'x' }", "line 1: a named value needs a key"}}) {
        QString error;
        EXPECT_FALSE(parse(c.script, &error)) << c.script;
        EXPECT_EQ(error, QString::fromLatin1(c.error)) << c.script;
    }
}

class FerrowRegistration : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = testsupport::freshFolder(QStringLiteral("registration"));
        qputenv("XDG_DATA_HOME", (folder + QStringLiteral("/data")).toLocal8Bit());
    }
    void TearDown() override { qunsetenv("XDG_DATA_HOME"); }

    QString folder;
    const QString module = QStringLiteral("/opt/ferrow dir/bin/ferrow");
    const QString clsid = QStringLiteral("{7CFD3EC3-B0F7-11d2-AA12-0080C79E15A1}");
    const QString cat10 = QStringLiteral("{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}");
    const QString cat20 = QStringLiteral("{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}");
};

TEST_F(FerrowRegistration, WritesTheKeysCategoriesAndActivationFile) {
    RegistryStore store(folder + QStringLiteral("/registry.json"));
    ASSERT_TRUE(ferrow::RegisterServer(module, store));
    EXPECT_EQ(text(store, QStringLiteral("Morvane.Ferrow.1")), QStringLiteral("Morvane Ferrow"));
    EXPECT_EQ(text(store, QStringLiteral("Morvane.Ferrow.1\\CLSID")), clsid);
    EXPECT_EQ(text(store, QStringLiteral("Morvane.Ferrow")), QStringLiteral("Morvane Ferrow"));
    EXPECT_EQ(text(store, QStringLiteral("Morvane.Ferrow\\CLSID")), clsid);
    EXPECT_EQ(text(store, QStringLiteral("Morvane.Ferrow\\OPC"), QStringLiteral("Vendor")),
              QStringLiteral("Morvane, GmbH"));
    const QString cls = QStringLiteral("CLSID\\") + clsid;
    EXPECT_EQ(text(store, cls), QStringLiteral("Morvane Ferrow"));
    EXPECT_EQ(text(store, cls + QStringLiteral("\\ProgID")), QStringLiteral("Morvane.Ferrow.1"));
    EXPECT_EQ(text(store, cls + QStringLiteral("\\VersionIndependentProgID")),
              QStringLiteral("Morvane.Ferrow"));
    EXPECT_EQ(text(store, cls + QStringLiteral("\\LocalServer32")), module);
    EXPECT_EQ(text(store, cls + QStringLiteral("\\LocalServer32"), QStringLiteral("ThreadingModel")),
              QStringLiteral("both"));
    EXPECT_EQ(text(store, QStringLiteral("AppID\\") + clsid), QStringLiteral("Morvane Ferrow"));
    EXPECT_EQ(text(store, QStringLiteral("Component Categories\\") + cat10, QStringLiteral("409")),
              QStringLiteral("OPC Data Access Servers Version 1.0"));
    EXPECT_EQ(text(store, QStringLiteral("Component Categories\\") + cat20, QStringLiteral("409")),
              QStringLiteral("OPC Data Access Servers Version 2.0"));
    EXPECT_EQ(store.subKeys(kHKCR, cls + QStringLiteral("\\Implemented Categories")).size(), 2);
    EXPECT_TRUE(store.keyExists(kHKCR, cls + QStringLiteral("\\Implemented Categories\\") + cat20));

    QFile service(folder + QStringLiteral("/data/dbus-1/services/org.quillon.Ferrow.service"));
    ASSERT_TRUE(service.open(QIODevice::ReadOnly));
    EXPECT_EQ(
        QString::fromUtf8(service.readAll()),
        QStringLiteral(
            "[D-BUS Service]\nName=org.quillon.Ferrow\nExec='/opt/ferrow dir/bin/ferrow' -Embedding\n"));
}

TEST_F(FerrowRegistration, RegisteringAgainReplacesStaleClassKeys) {
    RegistryStore store(folder + QStringLiteral("/registry.json"));
    const QString cls = QStringLiteral("CLSID\\") + clsid;
    ASSERT_TRUE(
        store.setString(kHKCR, cls + QStringLiteral("\\InprocServer32"), {}, QStringLiteral("old.dll")));
    ASSERT_TRUE(ferrow::RegisterServer(module, store));
    ASSERT_TRUE(ferrow::RegisterServer(module, store));
    EXPECT_FALSE(store.keyExists(kHKCR, cls + QStringLiteral("\\InprocServer32")));
    EXPECT_EQ(store.subKeys(kHKCR, cls + QStringLiteral("\\Implemented Categories")).size(), 2);
}

TEST_F(FerrowRegistration, UnregisterLeavesTheParentsTheCategoriesAndOtherServers) {
    RegistryStore store(folder + QStringLiteral("/registry.json"));
    const QString other = QStringLiteral("CLSID\\{00000000-1111-2222-3333-444444444444}");
    ASSERT_TRUE(store.setString(kHKCR, other, {}, QStringLiteral("Other server")));
    ASSERT_TRUE(
        store.setString(kHKCR, QStringLiteral("Morvane.Ferrow\\Extra"), {}, QStringLiteral("not ours")));
    ASSERT_TRUE(ferrow::RegisterServer(module, store));
    ASSERT_TRUE(ferrow::UnregisterServer(module, store));

    EXPECT_FALSE(store.keyExists(kHKCR, QStringLiteral("Morvane.Ferrow.1")));
    EXPECT_FALSE(store.keyExists(kHKCR, QStringLiteral("CLSID\\") + clsid));
    EXPECT_FALSE(store.keyExists(kHKCR, QStringLiteral("AppID\\") + clsid));
    EXPECT_TRUE(store.keyExists(kHKCR, QStringLiteral("AppID")));
    EXPECT_EQ(text(store, other), QStringLiteral("Other server"));
    // A key that holds something the script did not write stays, without what the script wrote.
    EXPECT_TRUE(store.keyExists(kHKCR, QStringLiteral("Morvane.Ferrow\\Extra")));
    EXPECT_FALSE(store.keyExists(kHKCR, QStringLiteral("Morvane.Ferrow\\OPC")));
    EXPECT_TRUE(store.keyExists(kHKCR, QStringLiteral("Component Categories\\") + cat10));
    EXPECT_TRUE(store.keyExists(kHKCR, QStringLiteral("Component Categories\\") + cat20));
    EXPECT_FALSE(QFile::exists(ferrow::activationFilePath()));
    // Unregistering what is not there is no failure.
    EXPECT_TRUE(ferrow::UnregisterServer(module, store));
}

TEST_F(FerrowRegistration, AStoreThatCannotBeWrittenFailsWithoutTheActivationFile) {
    QFile blocker(folder + QStringLiteral("/not-a-folder"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    RegistryStore store(folder + QStringLiteral("/not-a-folder/registry.json"));
    EXPECT_FALSE(ferrow::RegisterServer(module, store));
    EXPECT_FALSE(QFile::exists(ferrow::activationFilePath()));
}

TEST_F(FerrowRegistration, PlainPathsAreNotQuotedInTheActivationFile) {
    EXPECT_EQ(ferrow::activationFileText(QStringLiteral("/usr/bin/ferrow")),
              QStringLiteral("[D-BUS Service]\nName=org.quillon.Ferrow\nExec=/usr/bin/ferrow -Embedding\n"));
    EXPECT_TRUE(ferrow::activationFileText(QStringLiteral("/a/it's"))
                    .contains(QStringLiteral("Exec='/a/it'\\''s' -Embedding")));
}

TEST_F(FerrowRegistration, TheScriptNamesTheClassTheServerRegisters) {
    RegistryStore store(folder + QStringLiteral("/registry.json"));
    ASSERT_TRUE(ferrow::RegisterServer(module, store));
    const QString published =
        QString::fromStdString(platform::com::formatGuid(ferrow::opc::CLSID_FerrowServer));
    EXPECT_EQ(text(store, QStringLiteral("Morvane.Ferrow.1\\CLSID")).compare(published, Qt::CaseInsensitive),
              0);
    EXPECT_TRUE(
        store.keyExists(kHKCR, QStringLiteral("CLSID\\") + published + QStringLiteral("\\LocalServer32")));
}
