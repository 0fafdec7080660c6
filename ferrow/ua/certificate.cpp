#include "ferrow/ua/certificate.h"

#include <arpa/inet.h>
#include <openssl/pem.h>
#include <openssl/sha.h>

#include "ferrow/ua/x509_handles.h"

namespace ferrow::ua {

namespace {

// Certificates larger than this are not application certificates; refusing them bounds the work a peer
// can cause.
constexpr std::size_t kMaximumCertificateSize = 64 * 1024;

std::shared_ptr<X509> shared(X509* certificate) { return std::shared_ptr<X509>(certificate, X509_free); }

std::optional<std::string> derOf(X509* certificate) {
    unsigned char* buffer = nullptr;
    const int length = i2d_X509(certificate, &buffer);
    if (length <= 0) return std::nullopt;
    std::string der(reinterpret_cast<const char*>(buffer), std::size_t(length));
    OPENSSL_free(buffer);
    return der;
}

// Parses one DER certificate at the start of `bytes`; `used` tells how many bytes it took.
X509* parseDer(std::string_view bytes, std::size_t& used) {
    auto* start = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* cursor = start;
    X509* certificate = d2i_X509(nullptr, &cursor, long(bytes.size()));
    used = std::size_t(cursor - start);
    return certificate;
}

std::chrono::system_clock::time_point timeOf(const ASN1_TIME* time) {
    struct tm broken {};
    if (!time || ASN1_TIME_to_tm(time, &broken) != 1) return {};
    return std::chrono::system_clock::from_time_t(timegm(&broken));
}

x509::GeneralNames alternativeNames(X509* certificate) {
    return x509::GeneralNames(
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)));
}

std::string textOf(const ASN1_STRING* text) {
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                       std::size_t(ASN1_STRING_length(text)));
}

}  // namespace

Certificate::Certificate(std::shared_ptr<X509> x509, std::string der)
    : x509_(std::move(x509)), der_(std::move(der)) {}

std::optional<Certificate> Certificate::fromBytes(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > kMaximumCertificateSize) return std::nullopt;
    if (static_cast<unsigned char>(bytes.front()) == 0x30) {
        std::size_t used = 0;
        X509* certificate = parseDer(bytes, used);
        if (!certificate) return std::nullopt;
        auto owned = shared(certificate);
        if (used != bytes.size()) return std::nullopt;
        return Certificate(std::move(owned), std::string(bytes));
    }
    x509::Bio input(BIO_new_mem_buf(bytes.data(), int(bytes.size())));
    if (!input) return std::nullopt;
    X509* certificate = PEM_read_bio_X509(input.get(), nullptr, nullptr, nullptr);
    if (!certificate) return std::nullopt;
    auto owned = shared(certificate);
    auto der = derOf(certificate);
    if (!der) return std::nullopt;
    return Certificate(std::move(owned), std::move(*der));
}

std::vector<Certificate> Certificate::chainFromDer(std::string_view bytes) {
    // A chain of ten certificates is more than any real peer sends.
    constexpr std::size_t kMaximumChainLength = 10;
    std::vector<Certificate> chain;
    while (!bytes.empty()) {
        std::size_t used = 0;
        X509* certificate = parseDer(bytes.substr(0, kMaximumCertificateSize), used);
        if (!certificate || used == 0 || chain.size() == kMaximumChainLength) {
            X509_free(certificate);
            return {};
        }
        chain.push_back(Certificate(shared(certificate), std::string(bytes.substr(0, used))));
        bytes.remove_prefix(used);
    }
    return chain;
}

Certificate Certificate::fromX509(X509* certificate) {
    X509_up_ref(certificate);
    auto owned = shared(certificate);
    return Certificate(std::move(owned), derOf(certificate).value_or(std::string()));
}

std::string Certificate::thumbprint() const {
    std::string digest(SHA_DIGEST_LENGTH, '\0');
    SHA1(reinterpret_cast<const unsigned char*>(der_.data()), der_.size(),
         reinterpret_cast<unsigned char*>(digest.data()));
    return digest;
}

std::string Certificate::thumbprintHex() const {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : thumbprint()) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

EVP_PKEY* Certificate::publicKey() const { return X509_get0_pubkey(x509_.get()); }

std::string Certificate::applicationUri() const {
    const auto names = alternativeNames(x509_.get());
    for (int i = 0; names && i < sk_GENERAL_NAME_num(names.get()); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
        if (name->type == GEN_URI) return textOf(name->d.uniformResourceIdentifier);
    }
    return {};
}

std::vector<std::string> Certificate::hostNames() const {
    std::vector<std::string> hosts;
    const auto names = alternativeNames(x509_.get());
    for (int i = 0; names && i < sk_GENERAL_NAME_num(names.get()); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
        if (name->type == GEN_DNS) {
            hosts.push_back(textOf(name->d.dNSName));
        } else if (name->type == GEN_IPADD) {
            const int length = ASN1_STRING_length(name->d.iPAddress);
            char text[INET6_ADDRSTRLEN] = {};
            if ((length == 4 || length == 16) &&
                inet_ntop(length == 4 ? AF_INET : AF_INET6, ASN1_STRING_get0_data(name->d.iPAddress), text,
                          sizeof text))
                hosts.push_back(text);
        }
    }
    return hosts;
}

std::string Certificate::subjectText() const {
    x509::Bio output(BIO_new(BIO_s_mem()));
    X509_NAME_print_ex(output.get(), X509_get_subject_name(x509_.get()), 0, XN_FLAG_RFC2253);
    char* data = nullptr;
    const long length = BIO_get_mem_data(output.get(), &data);
    return std::string(data, std::size_t(length));
}

std::chrono::system_clock::time_point Certificate::notBefore() const {
    return timeOf(X509_get0_notBefore(x509_.get()));
}

std::chrono::system_clock::time_point Certificate::notAfter() const {
    return timeOf(X509_get0_notAfter(x509_.get()));
}

bool Certificate::isSelfSigned() const { return X509_self_signed(x509_.get(), 1) == 1; }

bool Certificate::isCertificateAuthority() const { return X509_check_ca(x509_.get()) != 0; }

std::optional<std::uint32_t> Certificate::keyUsage() const {
    if (!(X509_get_extension_flags(x509_.get()) & EXFLAG_KUSAGE)) return std::nullopt;
    return X509_get_key_usage(x509_.get());
}

bool Certificate::hasExtendedKeyUsage() const {
    return (X509_get_extension_flags(x509_.get()) & EXFLAG_XKUSAGE) != 0;
}

bool Certificate::allowsServerAuthentication() const {
    return !hasExtendedKeyUsage() || (X509_get_extended_key_usage(x509_.get()) & XKU_SSL_SERVER);
}

bool Certificate::allowsClientAuthentication() const {
    return !hasExtendedKeyUsage() || (X509_get_extended_key_usage(x509_.get()) & XKU_SSL_CLIENT);
}

}  // namespace ferrow::ua
