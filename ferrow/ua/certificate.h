#pragma once

#include <openssl/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferrow::ua {

// An X.509 certificate as the endpoint sees it: the DER bytes and the fields the channel and the trust
// store ask about. A value: copies share the parsed certificate, which nobody changes. Safe to read from
// any thread.
class Certificate {
  public:
    // Bits of the key usage extension (the same values as OpenSSL's KU_* constants).
    enum KeyUsage : std::uint32_t {
        DigitalSignature = 0x0080,
        NonRepudiation = 0x0040,
        KeyEncipherment = 0x0020,
        DataEncipherment = 0x0010,
        KeyAgreement = 0x0008,
        KeyCertSign = 0x0004,
        CrlSign = 0x0002,
    };

    // One certificate in DER, or the first "CERTIFICATE" block of PEM text; nullopt for anything else,
    // including DER with bytes left over after the certificate.
    static std::optional<Certificate> fromBytes(std::string_view bytes);
    // The certificates of a chain sent as DER certificates one after the other; empty when any part is
    // not a certificate.
    static std::vector<Certificate> chainFromDer(std::string_view bytes);
    // Takes over a reference to `certificate` (the caller keeps its own).
    static Certificate fromX509(X509* certificate);

    const std::string& der() const { return der_; }
    // SHA-1 of the DER bytes: 20 bytes, the name under which peers and folders know a certificate.
    std::string thumbprint() const;
    // The thumbprint as lowercase hexadecimal.
    std::string thumbprintHex() const;
    // The subject's public key; stays valid as long as a copy of this certificate lives.
    EVP_PKEY* publicKey() const;
    X509* x509() const { return x509_.get(); }

    // The first URI in the subject alternative names, or empty.
    std::string applicationUri() const;
    // The DNS names and IP addresses (as text) in the subject alternative names.
    std::vector<std::string> hostNames() const;
    std::string subjectText() const;
    std::chrono::system_clock::time_point notBefore() const;
    std::chrono::system_clock::time_point notAfter() const;
    // Issuer and subject are the same name and the certificate's own key verifies its signature.
    bool isSelfSigned() const;
    bool isCertificateAuthority() const;
    // The key usage bits, or nullopt when the certificate has no key usage extension (no limits).
    std::optional<std::uint32_t> keyUsage() const;
    // Whether an extended key usage extension exists, and whether it allows server or client use.
    bool hasExtendedKeyUsage() const;
    bool allowsServerAuthentication() const;
    bool allowsClientAuthentication() const;

    bool operator==(const Certificate& other) const { return der_ == other.der_; }

  private:
    Certificate(std::shared_ptr<X509> x509, std::string der);

    std::shared_ptr<X509> x509_;
    std::string der_;
};

}  // namespace ferrow::ua
