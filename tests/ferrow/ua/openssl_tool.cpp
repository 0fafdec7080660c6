#include "openssl_tool.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cctype>

namespace ferrow::ua::test {

std::string runOpenssl(const QStringList& arguments, std::string_view input) {
    QProcess process;
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForStarted(30000)) {
        ADD_FAILURE() << "openssl did not start";
        return {};
    }
    process.write(input.data(), static_cast<qint64>(input.size()));
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        ADD_FAILURE() << "openssl " << arguments.join(' ').toStdString()
                      << " failed: " << process.readAllStandardError().toStdString();
        return {};
    }
    return process.readAllStandardOutput().toStdString();
}

std::string toHex(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 0xF];
    }
    return hex;
}

std::string fromHex(std::string_view hex) {
    std::string bytes;
    int pending = -1;
    for (const char character : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(character))) continue;
        const int value = std::isdigit(static_cast<unsigned char>(character))
                              ? character - '0'
                              : std::tolower(static_cast<unsigned char>(character)) - 'a' + 10;
        if (pending < 0) {
            pending = value;
        } else {
            bytes += static_cast<char>(pending * 16 + value);
            pending = -1;
        }
    }
    return bytes;
}

TestIdentity makeTestIdentity(int keyBits) {
    QTemporaryDir folder;
    const QString keyPath = folder.filePath(QStringLiteral("key.pem"));
    const QString certificatePath = folder.filePath(QStringLiteral("certificate.der"));
    runOpenssl({"req", "-x509", "-newkey", QStringLiteral("rsa:%1").arg(keyBits), "-nodes", "-keyout",
                keyPath, "-outform", "DER", "-out", certificatePath, "-subj", "/CN=ferrow channel test",
                "-days", "2"});
    TestIdentity identity;
    QFile certificate(certificatePath);
    if (certificate.open(QIODevice::ReadOnly)) identity.certificateDer = certificate.readAll().toStdString();
    QFile key(keyPath);
    if (key.open(QIODevice::ReadOnly)) {
        const QByteArray pem = key.readAll();
        std::unique_ptr<BIO, decltype(&BIO_free)> bio(
            BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())), &BIO_free);
        identity.privateKey.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    }
    EXPECT_FALSE(identity.certificateDer.empty());
    EXPECT_TRUE(identity.privateKey);
    return identity;
}

}  // namespace ferrow::ua::test
