#include "pavane/automation.h"

#include <QDBusObjectPath>

#include "pavane/frm_download_ce.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/time_scale.h"

namespace pavane {

QDBusObjectPath DownloadFactory::CreateDownload() { return QDBusObjectPath(server_.createDownload()); }

void DownloadObject::SetSource(const QString& Ip, const QString& Path) {
    // The answer comes when the image is on the device, long after this slot has returned.
    setDelayedReply(true);
    server_.setSource(*this, message(), Ip, Path);
}

void DownloadObject::Release() { server_.release(path_); }

AutomationServer::AutomationServer(QDBusConnection connection, Options options)
    : connection_(std::move(connection)), options_(options) {
    idle_.setSingleShot(true);
    connect(&idle_, &QTimer::timeout, this, [this] {
        if (!pending_ && !(window_ && window_->isVisible())) emit finished();
    });
}

AutomationServer::~AutomationServer() {
    failPending(kErrorEnded, QStringLiteral("Pavane ended before the image download was complete"));
    for (const auto& [path, object] : objects_) connection_.unregisterObject(path);
    if (registered_) {
        connection_.unregisterObject(QString::fromLatin1(kFactoryPath));
        connection_.unregisterService(QString::fromLatin1(kServiceName));
    }
    delete window_.data();
}

bool AutomationServer::start(QString* error) {
    if (!connection_.isConnected()) {
        if (error) *error = QStringLiteral("no session bus: ") + connection_.lastError().message();
        return false;
    }
    factory_ = std::make_unique<DownloadFactory>(*this);
    // The class object first, so that a client that sees the name finds it.
    if (!connection_.registerObject(QString::fromLatin1(kFactoryPath), factory_.get(),
                                    QDBusConnection::ExportScriptableSlots)) {
        if (error) *error = QStringLiteral("cannot register %1").arg(QString::fromLatin1(kFactoryPath));
        return false;
    }
    if (!connection_.registerService(QString::fromLatin1(kServiceName))) {
        connection_.unregisterObject(QString::fromLatin1(kFactoryPath));
        if (error)
            *error = QStringLiteral("cannot own %1: %2")
                         .arg(QString::fromLatin1(kServiceName), connection_.lastError().message());
        return false;
    }
    registered_ = true;
    idle_.start(platform::scaled(kIdleTime));
    connect(&busCheck_, &QTimer::timeout, this, [this] {
        if (!connection_.isConnected()) {
            busCheck_.stop();
            emit finished();
        }
    });
    busCheck_.start(1000);
    return true;
}

QString AutomationServer::createDownload() {
    idle_.start(platform::scaled(kIdleTime));
    const QString path = QString::fromLatin1(kDownloadPathPrefix) + QString::number(nextObject_++);
    auto object = std::make_unique<DownloadObject>(*this, path);
    connection_.registerObject(path, object.get(), QDBusConnection::ExportScriptableSlots);
    objects_[path] = std::move(object);
    return path;
}

void AutomationServer::setSource(DownloadObject& object, const QDBusMessage& call, const QString& ip,
                                 const QString& path) {
    idle_.start(platform::scaled(kIdleTime));
    if (pending_) {
        reply(call.createErrorReply(QString::fromLatin1(kErrorBusy),
                                    QStringLiteral("Another client's download is not complete yet")));
        return;
    }
    if (window_ && window_->isUnloaded()) {
        reply(call.createErrorReply(QString::fromLatin1(kErrorEnded), QStringLiteral("Pavane is ending")));
        return;
    }
    pending_ = Pending{call, object.path()};
    // The steps show a modal box and wait for the operator: run them outside the bus's dispatch.
    QMetaObject::invokeMethod(
        this, [this, ip, path] { runSetSource(ip, path); }, Qt::QueuedConnection);
}

void AutomationServer::runSetSource(const QString& ip, const QString& path) {
    platform::ui::msgBox(QStringLiteral("Entfernen Sie den Ethernetloopbackstecker und schließen das "
                                        "Ethernetkabel an Hub und Board an!!"),
                         platform::ui::mb::OkOnly | platform::ui::mb::Exclamation,
                         QStringLiteral("Info für Download"));
    if (!pending_) return;  // released or ended while the box was open
    frmDownloadCE* window = ensureWindow();
    if (!window->prepareForClient(ip, path)) {
        failPending(kErrorPathNotFound, QStringLiteral("Path not found: ") + path);
        return;
    }
    if (window->isAborted()) {
        failPending(kErrorAborted, window->statusText());
        return;
    }
    if (options_.pressDownload)
        QMetaObject::invokeMethod(
            window, [window] { window->CmdDownload_Click(); }, Qt::QueuedConnection);
}

frmDownloadCE* AutomationServer::ensureWindow() {
    if (window_) return window_;
    window_ = new frmDownloadCE;
    connect(window_, &frmDownloadCE::statusChanged, this, &AutomationServer::onStatusChanged);
    connect(window_, &frmDownloadCE::aborted, this, &AutomationServer::onAborted);
    connect(window_, &frmDownloadCE::unloaded, this, &AutomationServer::onUnloaded);
    return window_;
}

void AutomationServer::onStatusChanged(const QString& text) {
    if (!pending_ || text != QLatin1String(frmDownloadCE::kCompleteText)) return;
    const QDBusMessage call = pending_->call;
    pending_.reset();
    reply(call.createReply());
}

void AutomationServer::onAborted(const QString& statusText) {
    // An aborted window can never complete the download: waiting would hold the client for nothing.
    failPending(kErrorAborted, statusText);
}

void AutomationServer::onUnloaded() {
    failPending(kErrorEnded, QStringLiteral("Pavane ended before the image download was complete"));
    emit finished();
}

void AutomationServer::release(const QString& path) {
    const auto it = objects_.find(path);
    if (it == objects_.end()) return;
    if (pending_ && pending_->objectPath == path)
        failPending(
            kErrorEnded,
            QStringLiteral("The Download object was released before the image download was complete"));
    connection_.unregisterObject(path);
    // The object may be the one whose slot is running now.
    it->second.release()->deleteLater();
    objects_.erase(it);
    if (!objects_.empty()) return;
    if (window_ && !window_->isUnloaded())
        window_->Unload();  // unloading ends the component through onUnloaded
    else
        emit finished();
}

void AutomationServer::reply(const QDBusMessage& message) { connection_.send(message); }

void AutomationServer::failPending(const char* errorName, const QString& text) {
    if (!pending_) return;
    const QDBusMessage call = pending_->call;
    pending_.reset();
    reply(call.createErrorReply(QString::fromLatin1(errorName), text));
}

void AutomationServer::flush() {
    if (!connection_.isConnected()) return;
    // The bus handles a connection's messages in order: once it has answered this, every reply sent
    // before has left the process.
    const QDBusMessage ping = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    connection_.call(ping, QDBus::Block, 2000);
}

}  // namespace pavane
