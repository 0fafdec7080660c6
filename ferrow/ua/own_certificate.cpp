#include "ferrow/ua/own_certificate.h"

#include <openssl/bn.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>

#include "ferrow/ua/data_files.h"
#include "ferrow/ua/x509_handles.h"

namespace ferrow::ua {

namespace {

constexpr int kKeyBits = 2048;
// Long enough that nobody has to renew it while a plant runs; a day back so that peers whose clocks are
// a little behind accept it at once.
constexpr long kValiditySeconds = 20L * 365 * 24 * 3600;
constexpr long kBackdateSeconds = 24L * 3600;
constexpr qint64 kFileLimit = 64 * 1024;

bool addExtension(X509* certificate, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    x509::Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

bool addAlternativeName(GENERAL_NAMES* names, int type, const QString& value) {
    const QByteArray text = value.toUtf8();
    ASN1_IA5STRING* string = ASN1_IA5STRING_new();
    GENERAL_NAME* name = GENERAL_NAME_new();
    if (!string || !name || ASN1_STRING_set(string, text.constData(), int(text.size())) != 1) {
        ASN1_IA5STRING_free(string);
        GENERAL_NAME_free(name);
        return false;
    }
    GENERAL_NAME_set0_value(name, type, string);
    if (sk_GENERAL_NAME_push(names, name) <= 0) {
        GENERAL_NAME_free(name);
        return false;
    }
    return true;
}

// Built from values rather than a configuration string, so that no host name can inject a name.
bool addAlternativeNames(X509* certificate, const OwnCertificateRequest& request) {
    x509::GeneralNames names(GENERAL_NAMES_new());
    if (!names || !addAlternativeName(names.get(), GEN_URI, request.applicationUri)) return false;
    for (const QString& host : request.hostNames)
        if (!addAlternativeName(names.get(), GEN_DNS, host)) return false;
    return X509_add1_ext_i2d(certificate, NID_subject_alt_name, names.get(), 0, X509V3_ADD_DEFAULT) == 1;
}

bool setRandomSerial(X509* certificate) {
    std::unique_ptr<BIGNUM, x509::Freer<BN_free>> serial(BN_new());
    // 159 bits: positive and within the 20 bytes a serial may have.
    return serial && BN_rand(serial.get(), 159, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
           BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate)) != nullptr;
}

bool setSubject(X509* certificate, const OwnCertificateRequest& request) {
    X509_NAME* name = X509_get_subject_name(certificate);
    const auto add = [name](const char* field, const QString& value) {
        const QByteArray text = value.toUtf8();
        return X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                          reinterpret_cast<const unsigned char*>(text.constData()),
                                          int(text.size()), -1, 0) == 1;
    };
    const QString host = request.hostNames.value(0, QStringLiteral("localhost"));
    return add("CN", QStringLiteral("Ferrow")) && add("O", QStringLiteral("Quillon")) && add("DC", host) &&
           X509_set_issuer_name(certificate, name) == 1;
}

std::optional<OwnCertificate> makePair(const OwnCertificateRequest& request, QString* error) {
    x509::Key key(EVP_RSA_gen(kKeyBits));
    x509::Certificate certificate(X509_new());
    const bool made = key && certificate && X509_set_version(certificate.get(), X509_VERSION_3) == 1 &&
                      setRandomSerial(certificate.get()) &&
                      X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -kBackdateSeconds) &&
                      X509_gmtime_adj(X509_getm_notAfter(certificate.get()), kValiditySeconds) &&
                      X509_set_pubkey(certificate.get(), key.get()) == 1 &&
                      setSubject(certificate.get(), request) &&
                      addExtension(certificate.get(), NID_basic_constraints, "critical,CA:FALSE") &&
                      addExtension(certificate.get(), NID_key_usage,
                                   "critical,digitalSignature,nonRepudiation,keyEncipherment,"
                                   "dataEncipherment,keyCertSign") &&
                      addExtension(certificate.get(), NID_ext_key_usage, "serverAuth,clientAuth") &&
                      addExtension(certificate.get(), NID_subject_key_identifier, "hash") &&
                      addExtension(certificate.get(), NID_authority_key_identifier, "keyid:always") &&
                      addAlternativeNames(certificate.get(), request) &&
                      X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0;
    if (!made) {
        if (error) *error = QStringLiteral("OpenSSL could not make the application certificate");
        return std::nullopt;
    }
    return OwnCertificate{Certificate::fromX509(certificate.get()),
                          std::shared_ptr<EVP_PKEY>(key.release(), EVP_PKEY_free),
                          {}};
}

QByteArray privateKeyPem(EVP_PKEY* key) {
    x509::Bio output(BIO_new(BIO_s_mem()));
    if (!output || PEM_write_bio_PrivateKey(output.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    char* data = nullptr;
    const long length = BIO_get_mem_data(output.get(), &data);
    return QByteArray(data, qsizetype(length));
}

bool store(const QString& pkiFolder, const OwnCertificate& pair, QString* error) {
    const QString privateFolder = QFileInfo(ownPrivateKeyPath(pkiFolder)).absolutePath();
    if (!QDir().mkpath(privateFolder) ||
        !QFile::setPermissions(privateFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        if (error) *error = QStringLiteral("%1 cannot be created").arg(privateFolder);
        return false;
    }
    const QByteArray pem = privateKeyPem(pair.privateKey.get());
    const std::string& der = pair.certificate.der();
    // The key first: a certificate on disk without its key is set aside at the next start anyway.
    return !pem.isEmpty() && writeFileAtomically(ownPrivateKeyPath(pkiFolder), pem, 0600, error) &&
           writeFileAtomically(ownCertificatePath(pkiFolder), QByteArray(der.data(), qsizetype(der.size())),
                               0644, error);
}

// The stored pair, or nullopt with the reason it cannot be used.
std::optional<OwnCertificate> loadPair(const QString& pkiFolder, QString& why) {
    QByteArray der;
    QByteArray pem;
    if (!readSmallFile(ownCertificatePath(pkiFolder), kFileLimit, der, &why) ||
        !readSmallFile(ownPrivateKeyPath(pkiFolder), kFileLimit, pem, &why))
        return std::nullopt;
    auto certificate = Certificate::fromBytes(std::string_view(der.constData(), std::size_t(der.size())));
    if (!certificate) {
        why = QStringLiteral("%1 holds no certificate").arg(ownCertificatePath(pkiFolder));
        return std::nullopt;
    }
    x509::Bio input(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    x509::Key key(input ? PEM_read_bio_PrivateKey(input.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key) {
        why = QStringLiteral("%1 holds no private key").arg(ownPrivateKeyPath(pkiFolder));
        return std::nullopt;
    }
    if (X509_check_private_key(certificate->x509(), key.get()) != 1) {
        why = QStringLiteral("the private key does not belong to the certificate");
        return std::nullopt;
    }
    return OwnCertificate{*certificate, std::shared_ptr<EVP_PKEY>(key.release(), EVP_PKEY_free), {}};
}

// Renames the files that exist to "<name>.unusable-<time>"; says which.
QStringList setAside(const QString& pkiFolder) {
    QStringList kept;
    const QString suffix = QStringLiteral(".unusable-") +
                           QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmss"));
    for (const QString& path : {ownCertificatePath(pkiFolder), ownPrivateKeyPath(pkiFolder)}) {
        if (!QFileInfo::exists(path)) continue;
        if (QFile::rename(path, path + suffix))
            kept << path + suffix;
        else
            QFile::remove(path);
    }
    return kept;
}

}  // namespace

QString defaultApplicationUri() {
    return QStringLiteral("urn:%1:Quillon:Ferrow").arg(QHostInfo::localHostName());
}

QStringList localHostNames() {
    QStringList names{QHostInfo::localHostName()};
    if (!QHostInfo::localDomainName().isEmpty())
        names << QHostInfo::localHostName() + QLatin1Char('.') + QHostInfo::localDomainName();
    names << QStringLiteral("localhost");
    names.removeDuplicates();
    names.removeAll(QString());
    return names;
}

OwnCertificateRequest defaultOwnCertificateRequest() {
    return OwnCertificateRequest{defaultApplicationUri(), localHostNames()};
}

QString ownCertificatePath(const QString& pkiFolder) {
    return pkiFolder + QStringLiteral("/own/certs/ferrow.der");
}

QString ownPrivateKeyPath(const QString& pkiFolder) {
    return pkiFolder + QStringLiteral("/own/private/ferrow.pem");
}

std::optional<OwnCertificate> loadOrCreateOwnCertificate(const QString& pkiFolder,
                                                         const OwnCertificateRequest& request,
                                                         QString* error) {
    QStringList notices;
    const bool anyStored =
        QFileInfo::exists(ownCertificatePath(pkiFolder)) || QFileInfo::exists(ownPrivateKeyPath(pkiFolder));
    if (anyStored) {
        QString why;
        if (auto stored = loadPair(pkiFolder, why)) return stored;
        const QStringList kept = setAside(pkiFolder);
        notices << QStringLiteral(
                       "The OPC UA application certificate could not be used (%1); a new one was "
                       "made%2")
                       .arg(why, kept.isEmpty() ? QString()
                                                : QStringLiteral(", the old files kept as ") +
                                                      kept.join(QStringLiteral(" and ")));
    }
    auto pair = makePair(request, error);
    if (!pair || !store(pkiFolder, *pair, error)) return std::nullopt;
    notices << QStringLiteral("Made the OPC UA application certificate %1 for %2")
                   .arg(ownCertificatePath(pkiFolder), request.applicationUri);
    pair->notices = notices;
    return pair;
}

}  // namespace ferrow::ua
