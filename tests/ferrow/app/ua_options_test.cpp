// The OPC UA endpoint's options: the settings group, the command line over it, values that cannot be
// used, and the arguments left for the rest of the start-up.
#include "ferrow/app/ua_options.h"

#include <gtest/gtest.h>

#include "platform/settings/settings_store.h"
#include "tests/support/test_environment.h"

using ferrow::UaOptions;

namespace {

void store(const char* key, const char* value) {
    platform::SaveSetting(QStringLiteral("Ferrow"), QStringLiteral("UA"), QString::fromLatin1(key),
                          QString::fromLatin1(value));
}

QStringList args(const char* line) {
    return QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

class UaOptionsTest : public ::testing::Test {
  protected:
    void SetUp() override { testsupport::resetFolders(); }
};

TEST_F(UaOptionsTest, WithoutSettingsTheEndpointListensOnLoopbackPort4840) {
    const UaOptions options = UaOptions::stored();
    EXPECT_TRUE(options.enabled);
    EXPECT_EQ(options.port, 4840);
    EXPECT_TRUE(options.addresses.isEmpty());
    EXPECT_TRUE(options.problems.isEmpty());
}

TEST_F(UaOptionsTest, TheSettingsGroupGivesPortAddressesAndSwitch) {
    store("Port", "4841");
    store("Listen", "127.0.0.1, ::1  localhost");
    store("Enabled", "0");
    const UaOptions options = UaOptions::stored();
    EXPECT_FALSE(options.enabled);
    EXPECT_EQ(options.port, 4841);
    EXPECT_EQ(options.addresses, (QList<QHostAddress>{QHostAddress(QStringLiteral("127.0.0.1")),
                                                      QHostAddress(QStringLiteral("::1")),
                                                      QHostAddress(QHostAddress::LocalHost)}));
    EXPECT_TRUE(options.problems.isEmpty());
}

TEST_F(UaOptionsTest, TheCommandLineWinsAndLeavesTheOtherArgumentsAsTheyWere) {
    store("Port", "4841");
    store("Listen", "::1");
    store("Enabled", "1");
    UaOptions options = UaOptions::stored();
    QStringList arguments =
        args("-Embedding --ua-port 4900 plant.tdb --ua-listen 127.0.0.1 --ua-listen=::1 --no-ua");
    options.takeFromArguments(arguments);
    EXPECT_EQ(arguments, args("-Embedding plant.tdb"));
    EXPECT_EQ(options.port, 4900);
    EXPECT_FALSE(options.enabled);
    EXPECT_EQ(options.addresses, (QList<QHostAddress>{QHostAddress(QStringLiteral("127.0.0.1")),
                                                      QHostAddress(QStringLiteral("::1"))}));

    // Without addresses on the command line the stored ones stay; "=" works for the port too.
    UaOptions stored = UaOptions::stored();
    QStringList portOnly = args("--ua-port=4901");
    stored.takeFromArguments(portOnly);
    EXPECT_TRUE(portOnly.isEmpty());
    EXPECT_EQ(stored.port, 4901);
    EXPECT_EQ(stored.addresses, QList<QHostAddress>{QHostAddress(QStringLiteral("::1"))});
    EXPECT_TRUE(stored.enabled);
}

TEST_F(UaOptionsTest, UnusableValuesAreNamedAndTheDefaultsStay) {
    store("Port", "http");
    store("Listen", "plant.example");
    store("Enabled", "maybe");
    UaOptions options = UaOptions::stored();
    EXPECT_EQ(options.problems.size(), 3);
    EXPECT_EQ(options.port, 4840);
    EXPECT_TRUE(options.addresses.isEmpty());
    EXPECT_TRUE(options.enabled);

    UaOptions fromLine;
    QStringList arguments = args("--ua-port 70000 --ua-listen 300.1.1.1 file.tdb --ua-port");
    fromLine.takeFromArguments(arguments);
    EXPECT_EQ(arguments, args("file.tdb"));
    EXPECT_EQ(fromLine.port, 4840);
    EXPECT_TRUE(fromLine.addresses.isEmpty());
    ASSERT_EQ(fromLine.problems.size(), 3);
    EXPECT_TRUE(fromLine.problems[0].contains(QStringLiteral("70000")));
    EXPECT_TRUE(fromLine.problems[2].contains(QStringLiteral("--ua-port needs a value")));
}

TEST_F(UaOptionsTest, OnLoopbackAloneNoneAndAnonymousWritesAreOnBesideBothSecurePolicies) {
    const UaOptions options = UaOptions::stored();
    EXPECT_EQ(options.policies,
              (QStringList{QStringLiteral("Basic256Sha256"), QStringLiteral("Aes128_Sha256_RsaOaep")}));
    EXPECT_FALSE(options.listensBeyondLoopback());
    EXPECT_TRUE(options.noneOffered());
    EXPECT_TRUE(options.anonymousWriteAllowed());
}

TEST_F(UaOptionsTest, BeyondLoopbackNoneAndAnonymousWritesAreOffUnlessTurnedOnExplicitly) {
    store("Listen", "127.0.0.1 192.0.2.7");
    UaOptions options = UaOptions::stored();
    EXPECT_TRUE(options.listensBeyondLoopback());
    EXPECT_FALSE(options.noneOffered());
    EXPECT_FALSE(options.anonymousWriteAllowed());
    QString notice;
    EXPECT_EQ(options.servedAddresses(&notice).size(), 2);
    EXPECT_TRUE(notice.isEmpty());

    store("AllowNone", "1");
    store("AnonymousWrite", "yes");
    options = UaOptions::stored();
    EXPECT_TRUE(options.noneOffered());
    EXPECT_TRUE(options.anonymousWriteAllowed());

    // And on loopback, a setting turns them off.
    testsupport::resetFolders();
    store("AllowNone", "0");
    store("AnonymousWrite", "0");
    options = UaOptions::stored();
    EXPECT_FALSE(options.noneOffered());
    EXPECT_FALSE(options.anonymousWriteAllowed());
}

TEST_F(UaOptionsTest, WithoutASecurePolicyOnlyLoopbackIsServedAndNoneStaysOn) {
    store("Listen", "192.0.2.7 ::1");
    store("Policies", "none");
    store("AllowNone", "0");
    const UaOptions options = UaOptions::stored();
    EXPECT_TRUE(options.policies.isEmpty());
    EXPECT_FALSE(options.listensBeyondLoopback());
    EXPECT_TRUE(options.noneOffered());
    QString notice;
    EXPECT_EQ(options.servedAddresses(&notice), QList<QHostAddress>{QHostAddress(QStringLiteral("::1"))});
    EXPECT_TRUE(notice.contains(QStringLiteral("192.0.2.7"))) << notice.toStdString();
}

TEST_F(UaOptionsTest, PolicyNamesAreCheckedAndUnknownOnesNamed) {
    store("Policies", "aes128_sha256_rsaoaep, Basic128Rsa15");
    store("AnonymousWrite", "perhaps");
    const UaOptions options = UaOptions::stored();
    EXPECT_EQ(options.policies, QStringList{QStringLiteral("Aes128_Sha256_RsaOaep")});
    ASSERT_EQ(options.problems.size(), 2);
    EXPECT_TRUE(options.problems[0].contains(QStringLiteral("Basic128Rsa15")));
    EXPECT_TRUE(options.problems[1].contains(QStringLiteral("AnonymousWrite")));
}

TEST(FerrowUsage, HelpSaysWhereTheEndpointListensAndItsOptions) {
    EXPECT_TRUE(ferrow::helpRequested(args("-Embedding --help")));
    EXPECT_FALSE(ferrow::helpRequested(args("-Embedding help.tdb")));
    const QString usage = ferrow::ferrowUsage();
    for (const char* text : {"opc.tcp://localhost:4840", "--ua-port", "--ua-listen", "--no-ua", "[UA] Port",
                             "--ua-pki", "--ua-trust", "--ua-user-add", "--ua-user-remove"})
        EXPECT_TRUE(usage.contains(QString::fromLatin1(text))) << text;
}

}  // namespace
