#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ferrow/ua/certificate.h"
#include "ferrow/ua/chain_verifier.h"

namespace ferrow::ua {

// The endpoint's trust store: folders under one root (trusted/certs, trusted/crl, issuers/certs,
// issuers/crl, rejected/certs; own/ belongs to the own certificate). The folders are read on every
// validation, so a certificate the user moves from rejected/certs to trusted/certs is trusted from the
// next connection on. Owns nothing but its paths; call it from one thread at a time (the endpoint's).
class PkiStore {
  public:
    static constexpr std::size_t kDefaultRejectedLimit = 100;

    // `rejectedLimit` bounds rejected/certs: a peer sending ever new certificates pushes out the oldest
    // ones rather than filling the disk.
    explicit PkiStore(QString root, std::size_t rejectedLimit = kDefaultRejectedLimit);
    // $XDG_DATA_HOME/quillon/ferrow/pki.
    static QString defaultRoot();

    const QString& root() const { return root_; }
    QString trustedCertificatesFolder() const;
    QString trustedRevocationFolder() const;
    QString issuerCertificatesFolder() const;
    QString issuerRevocationFolder() const;
    QString rejectedCertificatesFolder() const;

    // Creates the folders that are missing; false with `error` when one cannot be made.
    bool createFolders(QString* error = nullptr) const;

    // 0 (Good) when the peer's certificate may be used, else the status that names why not (see
    // verifyChain). `certificateDer` may hold a chain: DER certificates one after the other, the
    // peer's own first. An untrusted certificate is copied to rejected/certs as <thumbprint>.der. What
    // the peer is told is the caller's choice: a channel being opened answers BadSecurityChecksFailed
    // and logs this status, so that a peer learns nothing about the trust list.
    std::uint32_t validate(std::string_view certificateDer) const;

    // Puts `certificate` into trusted/certs as <thumbprint>.der and removes its rejected copy.
    bool trust(const Certificate& certificate, QString* error = nullptr) const;

    // What validate() reads: the folders' certificates and revocation lists, files that are none
    // skipped.
    TrustMaterial readTrustMaterial() const;

  private:
    void keepRejected(const Certificate& certificate) const;

    QString root_;
    std::size_t rejectedLimit_;
};

// Whether the certificate names `applicationUri` in its subject alternative names: the session layer
// answers BadCertificateUriInvalid when not.
bool applicationUriMatches(const Certificate& certificate, std::string_view applicationUri);

}  // namespace ferrow::ua
