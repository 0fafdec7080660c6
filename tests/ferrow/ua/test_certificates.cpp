#include "tests/ferrow/ua/test_certificates.h"

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <array>
#include <stdexcept>

namespace ferrow::ua::test {

namespace {

std::shared_ptr<EVP_PKEY> sharedKey(int index) {
    static std::array<std::shared_ptr<EVP_PKEY>, 3> keys;
    auto& key = keys.at(std::size_t(index));
    if (!key) key = std::shared_ptr<EVP_PKEY>(EVP_RSA_gen(2048), EVP_PKEY_free);
    if (!key) throw std::runtime_error("no RSA key");
    return key;
}

void addExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (!extension) throw std::runtime_error("bad extension " + value);
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

void setName(X509_NAME* name, const std::string& commonName) {
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
}

}  // namespace

std::string TestCertificate::der() const {
    unsigned char* buffer = nullptr;
    const int length = i2d_X509(certificate.get(), &buffer);
    std::string bytes(reinterpret_cast<char*>(buffer), std::size_t(length));
    OPENSSL_free(buffer);
    return bytes;
}

TestCertificate makeTestCertificate(const TestCertificateFields& fields, const TestCertificate* issuer,
                                    int keyIndex) {
    TestCertificate made{std::shared_ptr<X509>(X509_new(), X509_free), sharedKey(keyIndex)};
    X509* certificate = made.certificate.get();
    X509_set_version(certificate, X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), fields.serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate), fields.validFromSeconds);
    X509_gmtime_adj(X509_getm_notAfter(certificate), fields.validUntilSeconds);
    X509_set_pubkey(certificate, made.key.get());
    setName(X509_get_subject_name(certificate), fields.commonName);
    X509* signer = issuer ? issuer->certificate.get() : certificate;
    X509_set_issuer_name(certificate, X509_get_subject_name(signer));
    addExtension(certificate, signer, NID_basic_constraints,
                 fields.authority ? "critical,CA:TRUE" : "critical,CA:FALSE");
    if (!fields.keyUsage.empty()) addExtension(certificate, signer, NID_key_usage, fields.keyUsage);
    addExtension(certificate, signer, NID_subject_key_identifier, "hash");
    addExtension(certificate, signer, NID_authority_key_identifier, "keyid:always");
    if (!fields.applicationUri.empty())
        addExtension(certificate, signer, NID_subject_alt_name,
                     "URI:" + fields.applicationUri + ",DNS:peer.test");
    X509_sign(certificate, issuer ? issuer->key.get() : made.key.get(), EVP_sha256());
    return made;
}

TestCertificate makeTestAuthority(const std::string& name, const TestCertificate* issuer,
                                  long validUntilSeconds, int keyIndex) {
    TestCertificateFields fields;
    fields.commonName = name;
    fields.applicationUri.clear();
    fields.authority = true;
    fields.keyUsage = "critical,keyCertSign,cRLSign";
    fields.validUntilSeconds = validUntilSeconds;
    fields.serial = 1000 + keyIndex;
    return makeTestCertificate(fields, issuer, keyIndex);
}

std::string makeRevocationList(const TestCertificate& issuer, const std::vector<long>& revokedSerials) {
    X509_CRL* list = X509_CRL_new();
    X509_CRL_set_version(list, 1);
    X509_CRL_set_issuer_name(list, X509_get_subject_name(issuer.certificate.get()));
    ASN1_TIME* lastUpdate = X509_gmtime_adj(nullptr, -3600);
    ASN1_TIME* nextUpdate = X509_gmtime_adj(nullptr, 365L * 24 * 3600);
    X509_CRL_set1_lastUpdate(list, lastUpdate);
    X509_CRL_set1_nextUpdate(list, nextUpdate);
    for (const long serial : revokedSerials) {
        X509_REVOKED* revoked = X509_REVOKED_new();
        ASN1_INTEGER* number = ASN1_INTEGER_new();
        ASN1_INTEGER_set(number, serial);
        X509_REVOKED_set_serialNumber(revoked, number);
        X509_REVOKED_set_revocationDate(revoked, lastUpdate);
        X509_CRL_add0_revoked(list, revoked);
        ASN1_INTEGER_free(number);
    }
    X509_CRL_sort(list);
    X509_CRL_sign(list, issuer.key.get(), EVP_sha256());
    unsigned char* buffer = nullptr;
    const int length = i2d_X509_CRL(list, &buffer);
    std::string der(reinterpret_cast<char*>(buffer), std::size_t(length));
    OPENSSL_free(buffer);
    ASN1_TIME_free(lastUpdate);
    ASN1_TIME_free(nextUpdate);
    X509_CRL_free(list);
    return der;
}

void writeTestFile(const QString& path, const std::string& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
        throw std::runtime_error("cannot write " + path.toStdString());
}

}  // namespace ferrow::ua::test
