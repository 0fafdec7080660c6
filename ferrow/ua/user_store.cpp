#include "ferrow/ua/user_store.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <QByteArrayList>
#include <QFileInfo>
#include <optional>

#include "ferrow/ua/data_files.h"
#include "ferrow/ua/random_bytes.h"

namespace ferrow::ua {

namespace {

constexpr std::size_t kSaltLength = 16;
constexpr std::size_t kHashLength = 32;
// A file edited into absurd work per login is refused rather than obeyed.
constexpr int kMaximumIterations = 10'000'000;
constexpr qint64 kMaximumFileSize = 4 * 1024 * 1024;
const QByteArray kScheme = QByteArrayLiteral("pbkdf2-sha256");

struct Entry {
    QByteArray name;
    int iterations = 0;
    QByteArray salt;
    QByteArray hash;
};

QByteArray bytesOf(std::string_view text) { return QByteArray(text.data(), qsizetype(text.size())); }

QByteArray derive(std::string_view password, const QByteArray& salt, int iterations) {
    QByteArray hash(qsizetype(kHashLength), '\0');
    if (PKCS5_PBKDF2_HMAC(password.data(), int(password.size()),
                          reinterpret_cast<const unsigned char*>(salt.constData()), int(salt.size()),
                          iterations, EVP_sha256(), int(hash.size()),
                          reinterpret_cast<unsigned char*>(hash.data())) != 1)
        return {};
    return hash;
}

std::optional<Entry> parse(const QByteArray& line) {
    const QByteArrayList fields = line.split(':');
    if (fields.size() != 5 || fields[1] != kScheme) return std::nullopt;
    Entry entry;
    entry.name = fields[0];
    bool ok = false;
    entry.iterations = fields[2].toInt(&ok);
    entry.salt = QByteArray::fromBase64(fields[3]);
    entry.hash = QByteArray::fromBase64(fields[4]);
    if (!ok || entry.iterations < 1 || entry.iterations > kMaximumIterations || entry.salt.isEmpty() ||
        entry.hash.size() != qsizetype(kHashLength))
        return std::nullopt;
    return entry;
}

QByteArray format(const Entry& entry) {
    return entry.name + ':' + kScheme + ':' + QByteArray::number(entry.iterations) + ':' +
           entry.salt.toBase64() + ':' + entry.hash.toBase64();
}

QByteArray nameOf(const QByteArray& line) { return line.left(line.indexOf(':')); }

// The file's lines; a missing file is an empty list. Lines this version does not understand are kept.
bool readLines(const QString& path, QByteArrayList& lines, QString* error) {
    if (!QFileInfo::exists(path)) return true;
    QByteArray contents;
    if (!readSmallFile(path, kMaximumFileSize, contents, error)) return false;
    lines = contents.split('\n');
    lines.removeAll(QByteArray());
    return true;
}

bool writeLines(const QString& path, const QByteArrayList& lines, QString* error) {
    QByteArray contents;
    for (const QByteArray& line : lines) contents += line + '\n';
    return writeFileAtomically(path, contents, 0600, error);
}

std::optional<Entry> find(const QString& path, std::string_view name) {
    QByteArrayList lines;
    if (!readLines(path, lines, nullptr)) return std::nullopt;
    for (const QByteArray& line : lines)
        if (nameOf(line) == bytesOf(name)) return parse(line);
    return std::nullopt;
}

}  // namespace

UserStore::UserStore(QString path) : path_(std::move(path)) {}

QString UserStore::defaultPath() { return ferrowDataFolder() + QStringLiteral("/ua-users"); }

QString UserStore::nameProblem(std::string_view name) {
    if (name.empty()) return QStringLiteral("the user name is empty");
    if (name.size() > kMaximumNameLength)
        return QStringLiteral("the user name is longer than %1 bytes").arg(kMaximumNameLength);
    if (name.find_first_of(std::string_view(":\n\r\0", 4)) != std::string_view::npos)
        return QStringLiteral("the user name holds a ':', a line break or a zero byte");
    return {};
}

bool UserStore::add(std::string_view name, std::string_view password, QString* error) const {
    const auto fail = [error](const QString& why) {
        if (error) *error = why;
        return false;
    };
    if (const QString problem = nameProblem(name); !problem.isEmpty()) return fail(problem);
    if (password.empty()) return fail(QStringLiteral("the password is empty"));
    if (password.size() > kMaximumPasswordLength)
        return fail(QStringLiteral("the password is longer than %1 bytes").arg(kMaximumPasswordLength));
    QByteArrayList lines;
    if (!readLines(path_, lines, error)) return false;
    Entry entry{bytesOf(name), kIterations, {}, {}};
    const std::string salt = randomBytes(kSaltLength);
    entry.salt = QByteArray(salt.data(), qsizetype(salt.size()));
    entry.hash = derive(password, entry.salt, entry.iterations);
    if (entry.hash.isEmpty()) return fail(QStringLiteral("OpenSSL could not hash the password"));
    lines.removeIf([&](const QByteArray& line) { return nameOf(line) == entry.name; });
    lines << format(entry);
    return writeLines(path_, lines, error);
}

bool UserStore::remove(std::string_view name, QString* error) const {
    QByteArrayList lines;
    if (!readLines(path_, lines, error)) return false;
    if (lines.removeIf([&](const QByteArray& line) { return nameOf(line) == bytesOf(name); }) == 0) {
        if (error)
            *error = QStringLiteral("there is no OPC UA user \"%1\"").arg(QString::fromUtf8(bytesOf(name)));
        return false;
    }
    return writeLines(path_, lines, error);
}

bool UserStore::contains(std::string_view name) const { return find(path_, name).has_value(); }

bool UserStore::verify(std::string_view name, std::string_view password) const {
    // Unknown users are compared against a made-up entry with the same cost, and refused afterwards.
    static const Entry kStandIn{
        {}, kIterations, QByteArray(qsizetype(kSaltLength), 'x'), QByteArray(qsizetype(kHashLength), '\0')};
    const std::optional<Entry> stored = nameProblem(name).isEmpty() ? find(path_, name) : std::nullopt;
    const Entry& entry = stored ? *stored : kStandIn;
    const QByteArray offered =
        derive(password.substr(0, kMaximumPasswordLength), entry.salt, entry.iterations);
    const bool same =
        offered.size() == entry.hash.size() &&
        CRYPTO_memcmp(offered.constData(), entry.hash.constData(), std::size_t(offered.size())) == 0;
    return stored.has_value() && same && password.size() <= kMaximumPasswordLength;
}

}  // namespace ferrow::ua
