#include "ferrow/ua/endpoint_security.h"

#include "ferrow/ua/own_certificate.h"
#include "ferrow/ua/pki_store.h"
#include "ferrow/ua/security_policy.h"

namespace ferrow::ua {

namespace {

QString modeName(MessageSecurityMode mode) {
    switch (mode) {
        case MessageSecurityMode::Sign:
            return QStringLiteral("Sign");
        case MessageSecurityMode::SignAndEncrypt:
            return QStringLiteral("SignAndEncrypt");
        default:
            return QStringLiteral("None");
    }
}

QString policyName(const std::string& uri) {
    const auto hash = uri.rfind('#');
    return QString::fromStdString(hash == std::string::npos ? uri : uri.substr(hash + 1));
}

}  // namespace

std::shared_ptr<const ChannelSecurityConfig> makeChannelSecurity(const SecurityChoice& choice, QString* error,
                                                                 QStringList* notices) {
    auto pki = std::make_shared<PkiStore>(choice.pkiFolder);
    if (!pki->createFolders(error)) return nullptr;
    const auto own = loadOrCreateOwnCertificate(pki->root(), defaultOwnCertificateRequest(), error);
    if (!own) return nullptr;
    if (notices) *notices << own->notices;

    auto security = std::make_shared<ChannelSecurityConfig>();
    security->certificateDer = own->certificate.der();
    security->privateKey = own->privateKey;
    security->validateCertificate = [pki](const std::string& der) { return pki->validate(der); };
    security->offered.clear();
    if (choice.offerNone)
        security->offered.push_back({std::string(kSecurityPolicyNone), MessageSecurityMode::None});
    for (const QString& name : choice.policies) {
        const SecurityPolicy* policy =
            findSecurityPolicy("http://opcfoundation.org/UA/SecurityPolicy#" + name.toStdString());
        if (!policy) continue;
        for (const auto mode : {MessageSecurityMode::Sign, MessageSecurityMode::SignAndEncrypt})
            security->offered.push_back({std::string(policy->uri), mode});
    }
    return security;
}

QString describeOffers(const ChannelSecurityConfig& security) {
    QStringList parts;
    QString policy;
    QStringList modes;
    const auto flush = [&] {
        if (policy.isEmpty()) return;
        parts << (modes == QStringList{QStringLiteral("None")}
                      ? policy
                      : QStringLiteral("%1 (%2)").arg(policy, modes.join(QStringLiteral(", "))));
        modes.clear();
    };
    for (const ChannelSecurityConfig::Offer& offer : security.offered) {
        const QString name = policyName(offer.policyUri);
        if (name != policy) {
            flush();
            policy = name;
        }
        modes << modeName(offer.mode);
    }
    flush();
    return parts.join(QStringLiteral(", "));
}

}  // namespace ferrow::ua
