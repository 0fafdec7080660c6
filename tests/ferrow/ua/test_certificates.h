#pragma once

#include <openssl/types.h>

#include <QString>
#include <memory>
#include <string>
#include <vector>

// Certificates, keys and revocation lists for the trust store tests, made with OpenSSL directly (not with
// the code under test).
namespace ferrow::ua::test {

struct TestCertificateFields {
    std::string commonName = "Peer";
    std::string applicationUri = "urn:peer:Test:Client";
    long validFromSeconds = -3600;  // relative to now
    long validUntilSeconds = 365L * 24 * 3600;
    std::string keyUsage = "critical,digitalSignature,nonRepudiation,keyEncipherment,dataEncipherment";
    bool authority = false;
    long serial = 1;
};

struct TestCertificate {
    std::shared_ptr<X509> certificate;
    std::shared_ptr<EVP_PKEY> key;
    std::string der() const;
};

// Self-signed when `issuer` is null, else signed by the issuer's key. Keys are RSA 2048, made once per
// test process and shared (`keyIndex` picks one), since making them dominates the tests' time.
TestCertificate makeTestCertificate(const TestCertificateFields& fields,
                                    const TestCertificate* issuer = nullptr, int keyIndex = 0);
// A CA certificate for issuing others (keyCertSign and cRLSign).
TestCertificate makeTestAuthority(const std::string& name, const TestCertificate* issuer = nullptr,
                                  long validUntilSeconds = 365L * 24 * 3600, int keyIndex = 1);
// A DER revocation list by `issuer` naming `revokedSerials`, valid from an hour ago for a year.
std::string makeRevocationList(const TestCertificate& issuer, const std::vector<long>& revokedSerials);

// Writes `bytes` to `path`, creating its folder.
void writeTestFile(const QString& path, const std::string& bytes);

}  // namespace ferrow::ua::test
