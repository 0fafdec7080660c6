#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "ferrow/ua/channel_security_config.h"

namespace ferrow::ua {

// What the endpoint offers: the secure policies by name ("Basic256Sha256", "Aes128_Sha256_RsaOaep"),
// each with Sign and SignAndEncrypt, and whether policy None is offered beside them.
struct SecurityChoice {
    QStringList policies;
    bool offerNone = true;
    QString pkiFolder;  // the trust store's root; its own/ holds the endpoint's certificate
};

// The channel security for `choice`: the endpoint's certificate (made at the first start), the trust
// store checking every client certificate, and the offers. Null with `error` when no certificate could
// be had; `notices` gets what the user should hear (a new certificate made, ...). Call it before the
// endpoint starts; the result is read-only afterwards, its trust store used on the endpoint's thread.
std::shared_ptr<const ChannelSecurityConfig> makeChannelSecurity(const SecurityChoice& choice, QString* error,
                                                                 QStringList* notices);

// One line for a person: what is offered, e.g. "None, Basic256Sha256 (Sign, SignAndEncrypt)".
QString describeOffers(const ChannelSecurityConfig& security);

}  // namespace ferrow::ua
