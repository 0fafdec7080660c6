// The trust store: peers' certificates checked against the folders, each failure named by its status,
// rejected copies kept (and bounded), trust given by moving a file.
#include "ferrow/ua/pki_store.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "ferrow/ua/certificate.h"
#include "ferrow/ua/status_codes.h"
#include "tests/ferrow/ua/test_certificates.h"
#include "tests/support/test_environment.h"

namespace ferrow::ua {
namespace {

using test::makeTestAuthority;
using test::makeTestCertificate;
using test::TestCertificate;
using test::TestCertificateFields;

constexpr long kDay = 24L * 3600;

class PkiStoreTest : public ::testing::Test {
  protected:
    QString root = testsupport::freshFolder(QStringLiteral("pki"));
    PkiStore store{root};

    void put(const QString& folder, const TestCertificate& certificate, const QString& name) {
        test::writeTestFile(folder + QLatin1Char('/') + name, certificate.der());
    }
    static QStringList filesIn(const QString& folder) { return QDir(folder).entryList(QDir::Files); }
    static QString thumbprintFile(const TestCertificate& certificate) {
        return QString::fromStdString(Certificate::fromBytes(certificate.der())->thumbprintHex()) +
               QStringLiteral(".der");
    }
};

TEST_F(PkiStoreTest, UntrustedSelfSignedIsRejectedAndTrustedOnceMoved) {
    const TestCertificate peer = makeTestCertificate({});
    EXPECT_EQ(store.validate(peer.der()), status::BadCertificateUntrusted);
    ASSERT_EQ(filesIn(store.rejectedCertificatesFolder()), QStringList{thumbprintFile(peer)});
    for (const auto& folder : {store.trustedRevocationFolder(), store.issuerCertificatesFolder(),
                               store.issuerRevocationFolder(), store.trustedCertificatesFolder()})
        EXPECT_TRUE(QDir(folder).exists()) << folder.toStdString();

    const QString name = thumbprintFile(peer);
    ASSERT_TRUE(QFile::rename(store.rejectedCertificatesFolder() + QLatin1Char('/') + name,
                              store.trustedCertificatesFolder() + QLatin1Char('/') + name));
    EXPECT_EQ(store.validate(peer.der()), status::Good);
    EXPECT_TRUE(filesIn(store.rejectedCertificatesFolder()).isEmpty());
}

TEST_F(PkiStoreTest, TrustPutsTheCertificateInPlaceOfItsRejectedCopy) {
    const TestCertificate peer = makeTestCertificate({});
    store.validate(peer.der());
    ASSERT_TRUE(store.trust(*Certificate::fromBytes(peer.der())));
    EXPECT_TRUE(filesIn(store.rejectedCertificatesFolder()).isEmpty());
    EXPECT_EQ(store.validate(peer.der()), status::Good);
}

TEST_F(PkiStoreTest, RejectedCopiesAreBounded) {
    PkiStore bounded(root, 3);
    for (long serial = 1; serial <= 6; ++serial) {
        TestCertificateFields fields;
        fields.serial = serial;
        EXPECT_EQ(bounded.validate(makeTestCertificate(fields).der()), status::BadCertificateUntrusted);
    }
    EXPECT_EQ(filesIn(bounded.rejectedCertificatesFolder()).size(), 3);
}

TEST_F(PkiStoreTest, TrustedCertificateOutsideItsValidityIsRefused) {
    TestCertificateFields expired;
    expired.validFromSeconds = -30 * kDay;
    expired.validUntilSeconds = -kDay;
    TestCertificateFields future;
    future.validFromSeconds = kDay;
    future.serial = 2;
    const TestCertificate expiredPeer = makeTestCertificate(expired);
    const TestCertificate futurePeer = makeTestCertificate(future);
    put(store.trustedCertificatesFolder(), expiredPeer, QStringLiteral("expired.der"));
    put(store.trustedCertificatesFolder(), futurePeer, QStringLiteral("future.der"));
    EXPECT_EQ(store.validate(expiredPeer.der()), status::BadCertificateTimeInvalid);
    EXPECT_EQ(store.validate(futurePeer.der()), status::BadCertificateTimeInvalid);
}

TEST_F(PkiStoreTest, NotCertificatesAndBrokenSignaturesAreInvalid) {
    EXPECT_EQ(store.validate(""), status::BadCertificateInvalid);
    EXPECT_EQ(store.validate("not a certificate"), status::BadCertificateInvalid);
    const TestCertificate peer = makeTestCertificate({});
    put(store.trustedCertificatesFolder(), peer, QStringLiteral("peer.der"));
    std::string tampered = peer.der();
    tampered[tampered.size() - 10] ^= 0x01;  // inside the signature
    EXPECT_EQ(store.validate(tampered), status::BadCertificateInvalid);
    EXPECT_EQ(store.validate(peer.der() + "x"), status::BadCertificateInvalid);
}

TEST_F(PkiStoreTest, ImpostorWithATrustedNameIsNotTrusted) {
    const TestCertificate peer = makeTestCertificate({});
    put(store.trustedCertificatesFolder(), peer, QStringLiteral("peer.der"));
    const TestCertificate impostor = makeTestCertificate({}, nullptr, 2);  // same name, other key
    EXPECT_TRUE(status::isBad(store.validate(impostor.der())));
}

TEST_F(PkiStoreTest, WrongKeyUsageIsNotAllowed) {
    TestCertificateFields signOnly;
    signOnly.keyUsage = "critical,dataEncipherment";
    const TestCertificate peer = makeTestCertificate(signOnly);
    put(store.trustedCertificatesFolder(), peer, QStringLiteral("peer.der"));
    EXPECT_EQ(store.validate(peer.der()), status::BadCertificateUseNotAllowed);
}

class IssuedCertificateTest : public PkiStoreTest {
  protected:
    TestCertificate authority = makeTestAuthority("Plant CA");
    TestCertificate leaf = makeTestCertificate({}, &authority);
};

TEST_F(IssuedCertificateTest, ChainsToATrustedAuthority) {
    EXPECT_EQ(store.validate(leaf.der()), status::BadCertificateChainIncomplete);
    EXPECT_EQ(filesIn(store.rejectedCertificatesFolder()), QStringList{thumbprintFile(leaf)});

    put(store.issuerCertificatesFolder(), authority, QStringLiteral("ca.der"));
    EXPECT_EQ(store.validate(leaf.der()), status::BadCertificateUntrusted) << "issuers are not trusted";

    QFile::remove(store.issuerCertificatesFolder() + QStringLiteral("/ca.der"));
    put(store.trustedCertificatesFolder(), authority, QStringLiteral("ca.der"));
    EXPECT_EQ(store.validate(leaf.der()), status::Good);
}

TEST_F(IssuedCertificateTest, ChainSentByThePeerEndsAtATrustedRoot) {
    const TestCertificate root = makeTestAuthority("Root CA", nullptr, 365L * 24 * 3600, 2);
    const TestCertificate intermediate = makeTestAuthority("Line CA", &root);
    const TestCertificate peer = makeTestCertificate({}, &intermediate);
    put(store.trustedCertificatesFolder(), root, QStringLiteral("root.der"));
    EXPECT_EQ(store.validate(peer.der()), status::BadCertificateChainIncomplete);
    EXPECT_EQ(store.validate(peer.der() + intermediate.der()), status::Good);
}

TEST_F(IssuedCertificateTest, ExpiredAuthorityIsTheIssuersTimeFault) {
    const TestCertificate expiredAuthority = makeTestAuthority("Old CA", nullptr, -kDay);
    const TestCertificate peer = makeTestCertificate({}, &expiredAuthority);
    put(store.trustedCertificatesFolder(), expiredAuthority, QStringLiteral("old.der"));
    EXPECT_EQ(store.validate(peer.der()), status::BadCertificateIssuerTimeInvalid);
}

TEST_F(IssuedCertificateTest, AuthorityWithoutCertificateSigningCannotIssue) {
    TestCertificateFields notAnIssuer;
    notAnIssuer.commonName = "Plain CA";
    notAnIssuer.authority = true;
    notAnIssuer.keyUsage = "critical,digitalSignature";
    const TestCertificate root = makeTestAuthority("Root CA", nullptr, 365L * 24 * 3600, 2);
    const TestCertificate middle = makeTestCertificate(notAnIssuer, &root, 1);
    const TestCertificate peer = makeTestCertificate({}, &middle);
    put(store.trustedCertificatesFolder(), root, QStringLiteral("root.der"));
    EXPECT_EQ(store.validate(peer.der() + middle.der()), status::BadCertificateIssuerUseNotAllowed);
}

TEST_F(IssuedCertificateTest, RevocationListsWhereTheyAre) {
    put(store.trustedCertificatesFolder(), authority, QStringLiteral("ca.der"));
    test::writeTestFile(store.trustedRevocationFolder() + QStringLiteral("/ca.crl"),
                        test::makeRevocationList(authority, {7}));
    EXPECT_EQ(store.validate(leaf.der()), status::Good) << "serial 1 is not on the list";

    test::writeTestFile(store.trustedRevocationFolder() + QStringLiteral("/ca.crl"),
                        test::makeRevocationList(authority, {1}));
    EXPECT_EQ(store.validate(leaf.der()), status::BadCertificateRevoked);
}

TEST_F(IssuedCertificateTest, RevokedIntermediateIsTheIssuersRevocation) {
    const TestCertificate root = makeTestAuthority("Root CA", nullptr, 365L * 24 * 3600, 2);
    const TestCertificate intermediate = makeTestAuthority("Line CA", &root);
    const TestCertificate peer = makeTestCertificate({}, &intermediate);
    put(store.trustedCertificatesFolder(), root, QStringLiteral("root.der"));
    put(store.issuerCertificatesFolder(), intermediate, QStringLiteral("line.der"));
    EXPECT_EQ(store.validate(peer.der()), status::Good);
    test::writeTestFile(store.issuerRevocationFolder() + QStringLiteral("/root.crl"),
                        test::makeRevocationList(root, {1001}));
    EXPECT_EQ(store.validate(peer.der()), status::BadCertificateIssuerRevoked);
}

TEST(ApplicationUriTest, MatchesTheUriInTheAlternativeNames) {
    TestCertificateFields fields;
    fields.applicationUri = "urn:plant:Line7:Hmi";
    const auto certificate = Certificate::fromBytes(makeTestCertificate(fields).der());
    ASSERT_TRUE(certificate);
    EXPECT_TRUE(applicationUriMatches(*certificate, "urn:plant:Line7:Hmi"));
    EXPECT_FALSE(applicationUriMatches(*certificate, "urn:plant:Line7:Other"));
    EXPECT_FALSE(applicationUriMatches(*certificate, ""));
    fields.applicationUri.clear();
    EXPECT_FALSE(applicationUriMatches(*Certificate::fromBytes(makeTestCertificate(fields).der()), ""));
}

}  // namespace
}  // namespace ferrow::ua
