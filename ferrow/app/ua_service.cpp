#include "ferrow/app/ua_service.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <cstdio>

#include "ferrow/ua/endpoint_security.h"
#include "ferrow/ua/pki_store.h"
#include "ferrow/ua/ua_endpoint.h"
#include "ferrow/ua/user_store.h"
#include "ferrow/ua_bridge/access_data_source.h"

namespace ferrow {

namespace {

void tellStandardError(const QString& line) {
    std::fputs(QStringLiteral("Ferrow: %1\n").arg(line).toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

ua::DateTime dateTimeOf(const QDateTime& time) {
    // 100 ns steps since 1601 from milliseconds since 1970.
    constexpr std::int64_t kUnixEpochTicks = 116444736000000000LL;
    return ua::DateTime{time.toMSecsSinceEpoch() * 10000 + kUnixEpochTicks};
}

ua::ServerInfo serverInfo() {
    ua::ServerInfo info;  // the endpoint names the machine itself
    info.softwareVersion = FERROW_VERSION;
    info.buildNumber = FERROW_VERSION;
    info.buildDate = dateTimeOf(QFileInfo(QCoreApplication::applicationFilePath()).lastModified());
    info.startTime = ua::DateTime::now();
    return info;
}

QString addressList(const QList<QHostAddress>& addresses) {
    QStringList texts;
    for (const QHostAddress& address : addresses) texts << address.toString();
    return texts.join(QStringLiteral(", "));
}

}  // namespace

UaService::UaService(CDoc& doc, UaOptions options) : doc_(doc), options_(std::move(options)) {}

UaService::~UaService() {
    if (endpoint_) endpoint_->stop();
    endpoint_.reset();
    source_.reset();
}

QString UaService::start() {
    for (const QString& problem : options_.problems) tellStandardError(problem + QStringLiteral(": ignored"));
    if (!options_.enabled) {
        tellStandardError(QStringLiteral("OPC UA endpoint switched off (--no-ua or [UA] Enabled=0)"));
        return {};
    }
    ua::UaEndpoint::Settings settings;
    settings.port = options_.port;
    settings.info = serverInfo();
    UaOptions served = options_;
    if (!options_.policies.isEmpty()) {
        QString error;
        QStringList notices;
        settings.security = ua::makeChannelSecurity(
            {options_.policies, options_.noneOffered(), ua::PkiStore::defaultRoot()}, &error, &notices);
        for (const QString& notice : notices) tellStandardError(notice);
        if (!settings.security) {
            // Without a certificate only policy None is left, and with it loopback alone.
            tellStandardError(QStringLiteral("OPC UA security off: %1").arg(error));
            served.policies.clear();
        }
    }
    QString notice;
    settings.addresses = served.servedAddresses(&notice);
    if (!notice.isEmpty()) tellStandardError(notice);
    auto users = std::make_shared<ua::UserStore>(ua::UserStore::defaultPath());
    settings.users.checkPassword = [users](const std::string& name, const std::string& password) {
        return users->verify(name, password);
    };
    settings.users.anonymousWrite = served.anonymousWriteAllowed();

    source_ = std::make_unique<ua_bridge::AccessDataSource>(doc_);
    endpoint_ = std::make_unique<ua::UaEndpoint>(*source_, settings);
    const QString error = endpoint_->start();
    if (!error.isEmpty()) {
        endpoint_.reset();
        source_.reset();
        const QString text = QStringLiteral("OPC UA endpoint not started: %1").arg(error);
        tellStandardError(text);
        return text;
    }
    tellStandardError(QStringLiteral("OPC UA endpoint listening on %1 (%2)")
                          .arg(endpoint_->endpointUrl(), addressList(settings.addresses)));
    const QString offers =
        settings.security ? ua::describeOffers(*settings.security) : QStringLiteral("None");
    tellStandardError(QStringLiteral("OPC UA security: %1; anonymous sessions %2; users in %3%4")
                          .arg(offers,
                               settings.users.anonymousWrite ? QStringLiteral("read and write")
                                                             : QStringLiteral("read (writes need a user)"),
                               ua::UserStore::defaultPath(),
                               settings.security
                                   ? QStringLiteral("; certificates in %1").arg(ua::PkiStore::defaultRoot())
                                   : QString()));
    return {};
}

QString UaService::endpointUrl() const { return endpoint_ ? endpoint_->endpointUrl() : QString(); }

quint16 UaService::port() const { return endpoint_ ? endpoint_->port() : 0; }

bool UaService::holdsTags() const { return source_ && source_->holdsTags(); }

}  // namespace ferrow
