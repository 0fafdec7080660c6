#include "ferrow/app/ua_admin_commands.h"

#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <cstdio>
#include <string>

#include "ferrow/ua/certificate.h"
#include "ferrow/ua/own_certificate.h"
#include "ferrow/ua/pki_store.h"
#include "ferrow/ua/user_store.h"

namespace ferrow {

namespace {

constexpr qint64 kMaximumCertificateFileSize = 1024 * 1024;

int refuse(const QString& message) {
    std::fprintf(stderr, "ferrow: %s\n", message.toLocal8Bit().constData());
    return 1;
}

void say(const QString& message) { std::fprintf(stdout, "%s\n", message.toLocal8Bit().constData()); }

// One line of standard input without its line end; nullopt at the end of input or when the line is
// longer than a password may be.
std::optional<std::string> readLine() {
    std::string line;
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
        if (line.size() > ua::UserStore::kMaximumPasswordLength) return std::nullopt;
        line += char(c);
    }
    if (line.empty() && std::feof(stdin)) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// Asks on the terminal with echo off; the terminal's settings come back whatever happens.
std::optional<std::string> askWithoutEcho(const char* prompt) {
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    termios saved{};
    const bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::optional<std::string> line = readLine();
    if (terminal) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
    return line;
}

std::optional<std::string> readPassword(QString& problem) {
    if (!isatty(STDIN_FILENO)) {
        auto line = readLine();
        if (!line) problem = QStringLiteral("no password on standard input (one line expected)");
        return line;
    }
    auto first = askWithoutEcho("Password: ");
    auto second = first ? askWithoutEcho("Password again: ") : std::nullopt;
    if (!first || !second) {
        problem = QStringLiteral("no password given");
        return std::nullopt;
    }
    if (*first != *second) {
        problem = QStringLiteral("the two passwords differ; nothing changed");
        return std::nullopt;
    }
    return first;
}

// Makes the own certificate too, so that it can be handed to the clients before the first start.
int showPkiFolder() {
    const ua::PkiStore store(ua::PkiStore::defaultRoot());
    QString error;
    if (!store.createFolders(&error)) return refuse(error);
    const auto own = ua::loadOrCreateOwnCertificate(store.root(), ua::defaultOwnCertificateRequest(), &error);
    if (!own) return refuse(error);
    for (const QString& notice : own->notices)
        std::fprintf(stderr, "ferrow: %s\n", notice.toLocal8Bit().constData());
    say(store.root());
    return 0;
}

int trustCertificate(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("%1: %2").arg(fileName, file.errorString()));
    const QByteArray bytes = file.read(kMaximumCertificateFileSize + 1);
    const auto certificate =
        ua::Certificate::fromBytes(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    if (!certificate)
        return refuse(QStringLiteral("%1 is not a certificate (DER or PEM expected)").arg(fileName));
    const ua::PkiStore store(ua::PkiStore::defaultRoot());
    QString error;
    if (!store.trust(*certificate, &error)) return refuse(error);
    say(QStringLiteral("Trusted %1 (thumbprint %2) in %3")
            .arg(QString::fromStdString(certificate->subjectText()),
                 QString::fromStdString(certificate->thumbprintHex()), store.trustedCertificatesFolder()));
    return 0;
}

int addUser(const QString& name) {
    const std::string utf8 = name.toStdString();
    if (const QString problem = ua::UserStore::nameProblem(utf8); !problem.isEmpty()) return refuse(problem);
    QString problem;
    const auto password = readPassword(problem);
    if (!password) return refuse(problem);
    const ua::UserStore users(ua::UserStore::defaultPath());
    const bool existed = users.contains(utf8);
    if (!users.add(utf8, *password, &problem)) return refuse(problem);
    say(existed ? QStringLiteral("New password for OPC UA user %1").arg(name)
                : QStringLiteral("Added OPC UA user %1").arg(name));
    return 0;
}

int removeUser(const QString& name) {
    const ua::UserStore users(ua::UserStore::defaultPath());
    QString error;
    if (!users.remove(name.toStdString(), &error)) return refuse(error);
    say(QStringLiteral("Removed OPC UA user %1").arg(name));
    return 0;
}

}  // namespace

std::optional<int> runUaAdminCommand(const QStringList& arguments) {
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        std::optional<QString> value;
        if (const qsizetype equals = name.indexOf(QLatin1Char('='));
            name.startsWith(QLatin1String("--")) && equals > 0) {
            value = name.mid(equals + 1);
            name = name.left(equals);
        }
        if (name == QLatin1String("--ua-pki")) return showPkiFolder();
        const bool takesValue = name == QLatin1String("--ua-trust") ||
                                name == QLatin1String("--ua-user-add") ||
                                name == QLatin1String("--ua-user-remove");
        if (!takesValue) continue;
        if (!value && i + 1 < arguments.size()) value = arguments[i + 1];
        if (!value || value->isEmpty()) return refuse(QStringLiteral("%1 needs a value").arg(name));
        if (name == QLatin1String("--ua-trust")) return trustCertificate(*value);
        if (name == QLatin1String("--ua-user-add")) return addUser(*value);
        return removeUser(*value);
    }
    return std::nullopt;
}

}  // namespace ferrow
