// Certificates read from bytes, and the endpoint's own certificate: made once with the fields peers
// check, the key readable by the user only, loaded again later, replaced when broken.
#include "ferrow/ua/certificate.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "ferrow/ua/own_certificate.h"
#include "tests/ferrow/ua/test_certificates.h"
#include "tests/support/test_environment.h"

namespace ferrow::ua {
namespace {

std::string pemOf(X509* certificate) {
    BIO* output = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(output, certificate);
    char* data = nullptr;
    const long length = BIO_get_mem_data(output, &data);
    std::string pem(data, std::size_t(length));
    BIO_free(output);
    return pem;
}

mode_t modeOf(const QString& path) {
    struct stat status {};
    ::stat(QFile::encodeName(path).constData(), &status);
    return status.st_mode & 0777;
}

TEST(CertificateTest, ReadsDerAndPemAndRefusesTheRest) {
    const test::TestCertificate made = test::makeTestCertificate({});
    const auto fromDer = Certificate::fromBytes(made.der());
    const auto fromPem = Certificate::fromBytes("comment line\n" + pemOf(made.certificate.get()));
    ASSERT_TRUE(fromDer);
    ASSERT_TRUE(fromPem);
    EXPECT_EQ(fromDer->der(), made.der());
    EXPECT_EQ(fromPem->der(), made.der());
    EXPECT_EQ(fromDer->thumbprint().size(), 20u);
    EXPECT_EQ(fromDer->applicationUri(), "urn:peer:Test:Client");
    EXPECT_EQ(fromDer->hostNames(), std::vector<std::string>{"peer.test"});
    EXPECT_TRUE(fromDer->isSelfSigned());
    EXPECT_NE(fromDer->publicKey(), nullptr);

    EXPECT_FALSE(Certificate::fromBytes(""));
    EXPECT_FALSE(Certificate::fromBytes("-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n"));
    EXPECT_FALSE(Certificate::fromBytes(made.der().substr(0, 100)));
    EXPECT_FALSE(Certificate::fromBytes(made.der() + "trailing"));
    EXPECT_TRUE(Certificate::chainFromDer(made.der() + made.der().substr(0, 50)).empty());
    EXPECT_EQ(Certificate::chainFromDer(made.der() + made.der()).size(), 2u);
}

class OwnCertificateTest : public ::testing::Test {
  protected:
    QString pki = testsupport::freshFolder(QStringLiteral("pki"));
    OwnCertificateRequest request{QStringLiteral("urn:testhost:Quillon:Ferrow"),
                                  {QStringLiteral("testhost"), QStringLiteral("localhost")}};
};

TEST_F(OwnCertificateTest, MadeOnceWithTheFieldsPeersCheckAndLoadedAfterwards) {
    QString error;
    const auto made = loadOrCreateOwnCertificate(pki, request, &error);
    ASSERT_TRUE(made) << error.toStdString();
    EXPECT_FALSE(made->notices.isEmpty());
    const Certificate& certificate = made->certificate;
    EXPECT_EQ(certificate.applicationUri(), "urn:testhost:Quillon:Ferrow");
    EXPECT_EQ(certificate.hostNames(), (std::vector<std::string>{"testhost", "localhost"}));
    EXPECT_NE(certificate.subjectText().find("CN=Ferrow"), std::string::npos);
    EXPECT_TRUE(certificate.isSelfSigned());
    EXPECT_FALSE(certificate.isCertificateAuthority());
    EXPECT_EQ(certificate.keyUsage(),
              std::uint32_t(Certificate::DigitalSignature | Certificate::NonRepudiation |
                            Certificate::KeyEncipherment | Certificate::DataEncipherment |
                            Certificate::KeyCertSign));
    EXPECT_TRUE(certificate.allowsServerAuthentication());
    EXPECT_TRUE(certificate.allowsClientAuthentication());
    EXPECT_LT(certificate.notBefore(), certificate.notAfter());
    EXPECT_EQ(EVP_PKEY_get_bits(certificate.publicKey()), 2048);
    EXPECT_EQ(X509_get_signature_nid(certificate.x509()), NID_sha256WithRSAEncryption);
    EXPECT_EQ(X509_check_private_key(certificate.x509(), made->privateKey.get()), 1);

    EXPECT_EQ(modeOf(ownPrivateKeyPath(pki)), 0600u);
    EXPECT_EQ(modeOf(QFileInfo(ownPrivateKeyPath(pki)).absolutePath()), 0700u);
    EXPECT_TRUE(QFileInfo::exists(ownCertificatePath(pki)));

    const auto loaded = loadOrCreateOwnCertificate(pki, request, &error);
    ASSERT_TRUE(loaded) << error.toStdString();
    EXPECT_EQ(loaded->certificate.der(), certificate.der());
    EXPECT_TRUE(loaded->notices.isEmpty());
    EXPECT_EQ(EVP_PKEY_eq(loaded->privateKey.get(), made->privateKey.get()), 1);
}

TEST_F(OwnCertificateTest, BrokenPairIsSetAsideAndReplaced) {
    QString error;
    const auto first = loadOrCreateOwnCertificate(pki, request, &error);
    ASSERT_TRUE(first) << error.toStdString();
    QFile key(ownPrivateKeyPath(pki));
    ASSERT_TRUE(key.open(QIODevice::WriteOnly | QIODevice::Truncate));
    key.write("garbage");
    key.close();

    const auto second = loadOrCreateOwnCertificate(pki, request, &error);
    ASSERT_TRUE(second) << error.toStdString();
    EXPECT_NE(second->certificate.der(), first->certificate.der());
    ASSERT_FALSE(second->notices.isEmpty());
    EXPECT_TRUE(second->notices.front().contains(QStringLiteral("could not be used")));
    const QStringList keptKeys = QDir(QFileInfo(ownPrivateKeyPath(pki)).absolutePath())
                                     .entryList({QStringLiteral("ferrow.pem.unusable-*")}, QDir::Files);
    const QStringList keptCertificates =
        QDir(QFileInfo(ownCertificatePath(pki)).absolutePath())
            .entryList({QStringLiteral("ferrow.der.unusable-*")}, QDir::Files);
    EXPECT_EQ(keptKeys.size(), 1);
    EXPECT_EQ(keptCertificates.size(), 1);
    EXPECT_EQ(X509_check_private_key(second->certificate.x509(), second->privateKey.get()), 1);
}

}  // namespace
}  // namespace ferrow::ua
