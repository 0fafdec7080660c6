#include "ferrow/ua/chain_verifier.h"

#include <openssl/err.h>

#include <algorithm>

#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/x509_handles.h"

namespace ferrow::ua {

namespace {

// The checks in the order their failures take precedence.
enum class Step { Chain, Signature, Trust, Validity, Use, RevocationUnknown, Revoked, Ignored };

struct Failure {
    Step step;
    std::uint32_t status;
};

Failure failureOf(int error, bool issuer) {
    const auto pick = [issuer](std::uint32_t own, std::uint32_t ofIssuer) { return issuer ? ofIssuer : own; };
    switch (error) {
        case X509_V_ERR_UNABLE_TO_GET_CRL:
            // No list kept for this CA: revocation is checked where the user put lists.
            return {Step::Ignored, status::Good};
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_CHAIN_TOO_LONG:
            return {Step::Chain, status::BadCertificateChainIncomplete};
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
            return {Step::Trust, status::BadCertificateUntrusted};
        case X509_V_ERR_CERT_NOT_YET_VALID:
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return {Step::Validity,
                    pick(status::BadCertificateTimeInvalid, status::BadCertificateIssuerTimeInvalid)};
        case X509_V_ERR_INVALID_CA:
        case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
        case X509_V_ERR_INVALID_PURPOSE:
        case X509_V_ERR_PATH_LENGTH_EXCEEDED:
            return {Step::Use,
                    pick(status::BadCertificateUseNotAllowed, status::BadCertificateIssuerUseNotAllowed)};
        case X509_V_ERR_CRL_SIGNATURE_FAILURE:
        case X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE:
        case X509_V_ERR_CRL_NOT_YET_VALID:
        case X509_V_ERR_CRL_HAS_EXPIRED:
        case X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD:
        case X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD:
        case X509_V_ERR_KEYUSAGE_NO_CRL_SIGN:
        case X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER:
            return {Step::RevocationUnknown, pick(status::BadCertificateRevocationUnknown,
                                                  status::BadCertificateIssuerRevocationUnknown)};
        case X509_V_ERR_CERT_REVOKED:
            return {Step::Revoked, pick(status::BadCertificateRevoked, status::BadCertificateIssuerRevoked)};
        default:
            // Bad signatures, malformed fields and anything else OpenSSL refuses.
            return {Step::Signature, status::BadCertificateInvalid};
    }
}

// OpenSSL reports every problem through this callback; all are kept and verification goes on, so that
// the most important one can be chosen at the end rather than the first OpenSSL happens to meet.
int collectFailure(int ok, X509_STORE_CTX* context) {
    if (ok) return 1;
    auto* failures = static_cast<std::vector<Failure>*>(X509_STORE_CTX_get_app_data(context));
    const Failure failure =
        failureOf(X509_STORE_CTX_get_error(context), X509_STORE_CTX_get_error_depth(context) > 0);
    if (failure.step != Step::Ignored) failures->push_back(failure);
    return 1;
}

// The RSA policies sign and encrypt with the peer's key; a key limited to other uses cannot serve.
bool leafUseAllowed(const Certificate& leaf) {
    constexpr std::uint32_t kNeeded = Certificate::DigitalSignature | Certificate::KeyEncipherment;
    if (const auto usage = leaf.keyUsage(); usage && (*usage & kNeeded) != kNeeded) return false;
    return leaf.allowsClientAuthentication() || leaf.allowsServerAuthentication();
}

bool fillStore(X509_STORE* store, const TrustMaterial& material) {
    for (const Certificate& certificate : material.trusted)
        if (X509_STORE_add_cert(store, certificate.x509()) != 1) ERR_clear_error();
    for (const auto& list : material.revocationLists)
        if (X509_STORE_add_crl(store, list.get()) != 1) ERR_clear_error();
    // Partial chains: a trusted CA below a root, or the peer's own certificate, ends the chain.
    return X509_STORE_set_flags(store, X509_V_FLAG_PARTIAL_CHAIN | X509_V_FLAG_CHECK_SS_SIGNATURE |
                                           X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL) == 1;
}

}  // namespace

std::uint32_t verifyChain(const std::vector<Certificate>& chain, const TrustMaterial& material) {
    if (chain.empty()) return status::BadCertificateInvalid;
    x509::Store store(X509_STORE_new());
    x509::CertificateStack untrusted(sk_X509_new_null());
    x509::StoreContext context(X509_STORE_CTX_new());
    if (!store || !untrusted || !context || !fillStore(store.get(), material))
        return status::BadInternalError;
    const auto addUntrusted = [&untrusted](const Certificate& certificate) {
        return X509_add_cert(untrusted.get(), certificate.x509(), X509_ADD_FLAG_UP_REF) == 1;
    };
    if (!std::all_of(chain.begin() + 1, chain.end(), addUntrusted) ||
        !std::all_of(material.issuers.begin(), material.issuers.end(), addUntrusted))
        return status::BadInternalError;

    std::vector<Failure> failures;
    if (X509_STORE_CTX_init(context.get(), store.get(), chain.front().x509(), untrusted.get()) != 1)
        return status::BadInternalError;
    X509_STORE_CTX_set_app_data(context.get(), &failures);
    X509_STORE_CTX_set_verify_cb(context.get(), collectFailure);
    if (X509_verify_cert(context.get()) < 0 && failures.empty())
        failures.push_back({Step::Signature, status::BadCertificateInvalid});
    ERR_clear_error();
    if (!leafUseAllowed(chain.front())) failures.push_back({Step::Use, status::BadCertificateUseNotAllowed});

    if (failures.empty()) return status::Good;
    return std::min_element(failures.begin(), failures.end(),
                            [](const Failure& a, const Failure& b) { return a.step < b.step; })
        ->status;
}

}  // namespace ferrow::ua
