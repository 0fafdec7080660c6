#pragma once

#include <openssl/types.h>

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "ferrow/ua/certificate.h"

namespace ferrow::ua {

// The endpoint's application instance certificate and its private key.
struct OwnCertificate {
    Certificate certificate;
    std::shared_ptr<EVP_PKEY> privateKey;
    // What happened that the user should hear about: a new pair made, a broken one set aside.
    QStringList notices;
};

// What a new certificate says about the application.
struct OwnCertificateRequest {
    QString applicationUri;  // the URI in the subject alternative names
    QStringList hostNames;   // its DNS names
};

// "urn:<host name>:Quillon:Ferrow", the URI Ferrow's endpoint names itself with.
QString defaultApplicationUri();
// This machine's name (and its full name when it has a domain) and "localhost".
QStringList localHostNames();
OwnCertificateRequest defaultOwnCertificateRequest();

// The pair kept under `<pkiFolder>/own/`: certs/ferrow.der and private/ferrow.pem (the key readable by
// the user only). Made at the first start (RSA 2048, SHA-256, self-signed), loaded on later ones. A pair
// that cannot be used (unreadable, broken, key not matching) is renamed aside and a new one made; the
// notices say so. nullopt with `error` when nothing could be loaded or written. Runs on the caller's
// thread; call it once before the endpoint starts.
std::optional<OwnCertificate> loadOrCreateOwnCertificate(const QString& pkiFolder,
                                                         const OwnCertificateRequest& request,
                                                         QString* error);

// The two files' paths under `pkiFolder`.
QString ownCertificatePath(const QString& pkiFolder);
QString ownPrivateKeyPath(const QString& pkiFolder);

}  // namespace ferrow::ua
