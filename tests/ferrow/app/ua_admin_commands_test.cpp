// The OPC UA administration commands, run as the program itself with its data in a folder of the test's
// own: each ends by itself, changes what it says and refuses bad input with exit code 1.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include "ferrow/ua/certificate.h"
#include "ferrow/ua/own_certificate.h"
#include "ferrow/ua/user_store.h"
#include "tests/ferrow/ua/test_certificates.h"
#include "tests/support/test_environment.h"

namespace {

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

class UaAdminCommandsTest : public ::testing::Test {
  protected:
    QString home = testsupport::freshFolder(QStringLiteral("admin"));
    QString dataHome = home + QStringLiteral("/data");
    QString pki = dataHome + QStringLiteral("/quillon/ferrow/pki");

    Outcome ferrow(const QStringList& arguments, const QByteArray& input = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(FERROW_EXECUTABLE), arguments);
        Outcome run;
        if (!process.waitForStarted(30000)) return run;
        process.write(input);
        process.closeWriteChannel();
        // Bounds a hang only: every command ends by itself.
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished(30000);
            return run;
        }
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        run.err = QString::fromLocal8Bit(process.readAllStandardError());
        return run;
    }

    QString writeInput(const QString& name, const std::string& bytes) {
        const QString path = home + QLatin1Char('/') + name;
        ferrow::ua::test::writeTestFile(path, bytes);
        return path;
    }
};

TEST_F(UaAdminCommandsTest, PkiFolderIsPrintedWithTheOwnCertificateMadeOnce) {
    const Outcome first = ferrow({QStringLiteral("--ua-pki")});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    EXPECT_EQ(first.out.trimmed(), pki);
    for (const char* folder :
         {"trusted/certs", "trusted/crl", "issuers/certs", "issuers/crl", "rejected/certs"})
        EXPECT_TRUE(QDir(pki + QLatin1Char('/') + QLatin1String(folder)).exists()) << folder;
    QFile certificateFile(ferrow::ua::ownCertificatePath(pki));
    ASSERT_TRUE(certificateFile.open(QIODevice::ReadOnly));
    const QByteArray der = certificateFile.readAll();
    const auto certificate =
        ferrow::ua::Certificate::fromBytes(std::string_view(der.constData(), der.size()));
    ASSERT_TRUE(certificate);
    EXPECT_EQ(QString::fromStdString(certificate->applicationUri()), ferrow::ua::defaultApplicationUri());
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(ferrow::ua::ownPrivateKeyPath(pki)).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    const Outcome second = ferrow({QStringLiteral("--ua-pki")});
    ASSERT_EQ(second.exitCode, 0) << second.err.toStdString();
    QFile again(ferrow::ua::ownCertificatePath(pki));
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), der) << "the stored certificate is kept";
}

TEST_F(UaAdminCommandsTest, TrustTakesPemAndDerAndRefusesTheRest) {
    const auto peer = ferrow::ua::test::makeTestCertificate({});
    BIO* output = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(output, peer.certificate.get());
    char* data = nullptr;
    const std::string pem(data, std::size_t(BIO_get_mem_data(output, &data)));
    BIO_free(output);
    const auto parsed = ferrow::ua::Certificate::fromBytes(peer.der());
    ASSERT_TRUE(parsed);
    const QString trustedFile = pki + QStringLiteral("/trusted/certs/") +
                                QString::fromStdString(parsed->thumbprintHex()) + QStringLiteral(".der");

    const Outcome refused =
        ferrow({QStringLiteral("--ua-trust"), writeInput(QStringLiteral("notes.txt"), "hello\n")});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("is not a certificate"))) << refused.err.toStdString();
    EXPECT_EQ(ferrow({QStringLiteral("--ua-trust"), home + QStringLiteral("/missing.der")}).exitCode, 1);

    const Outcome fromPem =
        ferrow({QStringLiteral("--ua-trust=") + writeInput(QStringLiteral("peer.pem"), pem)});
    ASSERT_EQ(fromPem.exitCode, 0) << fromPem.err.toStdString();
    QFile stored(trustedFile);
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll().toStdString(), peer.der()) << "kept as DER";
    EXPECT_EQ(QDir(pki + QStringLiteral("/trusted/certs")).entryList(QDir::Files).size(), 1);

    EXPECT_EQ(
        ferrow({QStringLiteral("--ua-trust"), writeInput(QStringLiteral("peer.der"), peer.der())}).exitCode,
        0);
    EXPECT_EQ(QDir(pki + QStringLiteral("/trusted/certs")).entryList(QDir::Files).size(), 1);
}

TEST_F(UaAdminCommandsTest, UsersAreAddedWithThePasswordFromStandardInputAndRemoved) {
    const ferrow::ua::UserStore users(dataHome + QStringLiteral("/quillon/ferrow/ua-users"));
    const Outcome added =
        ferrow({QStringLiteral("--ua-user-add"), QStringLiteral("operator")}, "line 7 pw\n");
    ASSERT_EQ(added.exitCode, 0) << added.err.toStdString();
    EXPECT_TRUE(users.verify("operator", "line 7 pw"));

    ASSERT_EQ(ferrow({QStringLiteral("--ua-user-add"), QStringLiteral("operator")}, "new pw\r\n").exitCode,
              0);
    EXPECT_TRUE(users.verify("operator", "new pw"));
    EXPECT_FALSE(users.verify("operator", "line 7 pw"));

    const Outcome noPassword = ferrow({QStringLiteral("--ua-user-add"), QStringLiteral("engineer")});
    EXPECT_EQ(noPassword.exitCode, 1);
    EXPECT_FALSE(users.contains("engineer"));
    EXPECT_EQ(ferrow({QStringLiteral("--ua-user-add"), QStringLiteral("a:b")}, "pw\n").exitCode, 1);
    EXPECT_EQ(ferrow({QStringLiteral("--ua-user-add")}).exitCode, 1);

    const Outcome unknown = ferrow({QStringLiteral("--ua-user-remove"), QStringLiteral("nobody")});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("nobody")));
    ASSERT_EQ(ferrow({QStringLiteral("--ua-user-remove"), QStringLiteral("operator")}).exitCode, 0);
    EXPECT_FALSE(users.contains("operator"));
}

}  // namespace
