#include "ferrow/ua/pki_store.h"

#include <openssl/pem.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "ferrow/ua/data_files.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/x509_handles.h"

namespace ferrow::ua {

namespace {

// Bounds what one validation reads: a folder with more files, or a file larger than this, is not a
// trust list a user keeps by hand.
constexpr int kMaximumFilesPerFolder = 1000;
constexpr qint64 kMaximumCertificateFileSize = 64 * 1024;
constexpr qint64 kMaximumRevocationFileSize = 4 * 1024 * 1024;

QStringList filesIn(const QString& folder, qint64 maximumFileSize) {
    QStringList paths;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (paths.size() == kMaximumFilesPerFolder) break;
        if (entry.size() <= maximumFileSize) paths << entry.absoluteFilePath();
    }
    return paths;
}

QByteArray contentsOf(const QString& path, qint64 maximumFileSize) {
    QByteArray bytes;
    return readSmallFile(path, maximumFileSize, bytes, nullptr) ? bytes : QByteArray();
}

std::vector<Certificate> certificatesIn(const QString& folder) {
    std::vector<Certificate> certificates;
    for (const QString& path : filesIn(folder, kMaximumCertificateFileSize)) {
        const QByteArray bytes = contentsOf(path, kMaximumCertificateFileSize);
        if (auto certificate =
                Certificate::fromBytes(std::string_view(bytes.constData(), std::size_t(bytes.size()))))
            certificates.push_back(std::move(*certificate));
    }
    return certificates;
}

std::shared_ptr<X509_CRL> revocationListOf(const QByteArray& bytes) {
    const auto* cursor = reinterpret_cast<const unsigned char*>(bytes.constData());
    X509_CRL* list = d2i_X509_CRL(nullptr, &cursor, long(bytes.size()));
    if (!list) {
        x509::Bio input(BIO_new_mem_buf(bytes.constData(), int(bytes.size())));
        list = input ? PEM_read_bio_X509_CRL(input.get(), nullptr, nullptr, nullptr) : nullptr;
    }
    return list ? std::shared_ptr<X509_CRL>(list, X509_CRL_free) : nullptr;
}

void addRevocationListsIn(const QString& folder, std::vector<std::shared_ptr<X509_CRL>>& lists) {
    for (const QString& path : filesIn(folder, kMaximumRevocationFileSize))
        if (auto list = revocationListOf(contentsOf(path, kMaximumRevocationFileSize)))
            lists.push_back(std::move(list));
}

QString fileNameOf(const Certificate& certificate) {
    return QString::fromStdString(certificate.thumbprintHex()) + QStringLiteral(".der");
}

QByteArray bytesOf(const std::string& der) { return QByteArray(der.data(), qsizetype(der.size())); }

}  // namespace

PkiStore::PkiStore(QString root, std::size_t rejectedLimit)
    : root_(std::move(root)), rejectedLimit_(rejectedLimit) {}

QString PkiStore::defaultRoot() { return ferrowDataFolder() + QStringLiteral("/pki"); }

QString PkiStore::trustedCertificatesFolder() const { return root_ + QStringLiteral("/trusted/certs"); }
QString PkiStore::trustedRevocationFolder() const { return root_ + QStringLiteral("/trusted/crl"); }
QString PkiStore::issuerCertificatesFolder() const { return root_ + QStringLiteral("/issuers/certs"); }
QString PkiStore::issuerRevocationFolder() const { return root_ + QStringLiteral("/issuers/crl"); }
QString PkiStore::rejectedCertificatesFolder() const { return root_ + QStringLiteral("/rejected/certs"); }

bool PkiStore::createFolders(QString* error) const {
    for (const QString& folder :
         {trustedCertificatesFolder(), trustedRevocationFolder(), issuerCertificatesFolder(),
          issuerRevocationFolder(), rejectedCertificatesFolder()}) {
        if (!QDir().mkpath(folder)) {
            if (error) *error = QStringLiteral("%1 cannot be created").arg(folder);
            return false;
        }
    }
    return true;
}

TrustMaterial PkiStore::readTrustMaterial() const {
    TrustMaterial material;
    material.trusted = certificatesIn(trustedCertificatesFolder());
    material.issuers = certificatesIn(issuerCertificatesFolder());
    addRevocationListsIn(trustedRevocationFolder(), material.revocationLists);
    addRevocationListsIn(issuerRevocationFolder(), material.revocationLists);
    return material;
}

std::uint32_t PkiStore::validate(std::string_view certificateDer) const {
    const std::vector<Certificate> chain = Certificate::chainFromDer(certificateDer);
    if (chain.empty()) return status::BadCertificateInvalid;
    createFolders();
    const std::uint32_t result = verifyChain(chain, readTrustMaterial());
    if (result == status::BadCertificateUntrusted || result == status::BadCertificateChainIncomplete)
        keepRejected(chain.front());
    return result;
}

void PkiStore::keepRejected(const Certificate& certificate) const {
    const QString folder = rejectedCertificatesFolder();
    const QString path = folder + QLatin1Char('/') + fileNameOf(certificate);
    if (QFileInfo::exists(path)) return;
    // Oldest first; those beyond the limit make room for this one.
    const QFileInfoList kept = QDir(folder).entryInfoList(QDir::Files, QDir::Time | QDir::Reversed);
    for (qsizetype i = 0; rejectedLimit_ > 0 && kept.size() - i >= qsizetype(rejectedLimit_); ++i)
        QFile::remove(kept[i].absoluteFilePath());
    if (rejectedLimit_ > 0) writeFileAtomically(path, bytesOf(certificate.der()), 0644, nullptr);
}

bool PkiStore::trust(const Certificate& certificate, QString* error) const {
    if (!createFolders(error)) return false;
    if (!writeFileAtomically(trustedCertificatesFolder() + QLatin1Char('/') + fileNameOf(certificate),
                             bytesOf(certificate.der()), 0644, error))
        return false;
    QFile::remove(rejectedCertificatesFolder() + QLatin1Char('/') + fileNameOf(certificate));
    return true;
}

bool applicationUriMatches(const Certificate& certificate, std::string_view applicationUri) {
    return !applicationUri.empty() && certificate.applicationUri() == applicationUri;
}

}  // namespace ferrow::ua
