#include "ferrow/ua/ua_endpoint.h"

#include <QHostInfo>
#include <QTimer>
#include <mutex>
#include <vector>

#include "ferrow/ua/server_core.h"
#include "ferrow/ua/tcp_listener.h"

namespace ferrow::ua {

// Where the data source's callbacks are posted: the endpoint's thread while it runs, nowhere after.
// Posted functions wait in `pending` and one queued call runs all that came meanwhile, so that a burst of
// changes wakes the endpoint's thread once rather than once per change (a wake-up costs a system call).
struct PostTarget {
    std::mutex mutex;
    QObject* anchor = nullptr;
    std::vector<std::function<void()>> pending;

    static void post(const std::shared_ptr<PostTarget>& target, std::function<void()> fn) {
        std::lock_guard lock(target->mutex);
        if (!target->anchor) return;
        target->pending.push_back(std::move(fn));
        if (target->pending.size() == 1)
            QMetaObject::invokeMethod(
                target->anchor, [target] { target->runPending(); }, Qt::QueuedConnection);
    }
    void runPending() {
        std::vector<std::function<void()>> batch;
        {
            std::lock_guard lock(mutex);
            batch.swap(pending);
        }
        for (const auto& fn : batch) fn();
    }
};

UaEndpoint::UaEndpoint(UaDataSource& source, Settings settings)
    : source_(source), settings_(std::move(settings)) {
    if (settings_.info.hostname.empty() || settings_.info.hostname == "localhost")
        settings_.info.hostname = QHostInfo::localHostName().toStdString();
}

UaEndpoint::~UaEndpoint() { stop(); }

QString UaEndpoint::endpointUrl() const {
    return QStringLiteral("opc.tcp://%1:%2").arg(QString::fromStdString(settings_.info.hostname)).arg(port_);
}

QString UaEndpoint::start() {
    if (thread_.isRunning()) return {};
    const QList<QHostAddress> addresses = settings_.addresses;
    thread_.setObjectName(QStringLiteral("OPC UA endpoint"));
    thread_.start();
    anchor_ = new QObject;
    anchor_->moveToThread(&thread_);
    postTarget_ = std::make_shared<PostTarget>();
    postTarget_->anchor = anchor_;
    QString error;
    QMetaObject::invokeMethod(
        anchor_,
        [&] {
            UaServerCore::Environment environment;
            environment.findConnection = [this](std::uint64_t id) {
                return listener_ ? listener_->connection(id) : nullptr;
            };
            environment.post = [target = postTarget_](std::function<void()> fn) {
                PostTarget::post(target, std::move(fn));
            };
            // Runs on this thread after `delay`, unless the endpoint stopped meanwhile.
            environment.postAfter = [this](std::chrono::milliseconds delay, std::function<void()> fn) {
                QTimer::singleShot(delay, anchor_, std::move(fn));
            };
            environment.security = settings_.security;
            environment.users = settings_.users;
            core_ = std::make_unique<UaServerCore>(source_, settings_.info, environment);
            listener_ = std::make_unique<UaTcpListener>(
                *core_, [this](Clock::time_point now) { core_->onHousekeeping(now); });
            listener_->setChannelSecurity(settings_.security);
            error = listener_->listen(addresses, settings_.port);
            port_ = listener_->port();
            if (!error.isEmpty()) {
                listener_.reset();
                core_.reset();
            }
        },
        Qt::BlockingQueuedConnection);
    // The URL clients are told is known only now that the port is.
    if (core_)
        QMetaObject::invokeMethod(
            anchor_, [this] { core_->setEndpointUrl(endpointUrl().toStdString()); },
            Qt::BlockingQueuedConnection);
    if (!error.isEmpty()) stop();
    return error;
}

void UaEndpoint::stop() {
    if (!thread_.isRunning()) return;
    {
        std::lock_guard lock(postTarget_->mutex);
        postTarget_->anchor = nullptr;
    }
    QMetaObject::invokeMethod(
        anchor_,
        [this] {
            listener_.reset();
            core_.reset();
            anchor_->deleteLater();  // goes when the thread ends
        },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    anchor_ = nullptr;
}

std::size_t UaEndpoint::sessionCount() {
    std::size_t count = 0;
    if (thread_.isRunning() && anchor_)
        QMetaObject::invokeMethod(
            anchor_, [&] { count = core_ ? core_->sessionCount() : 0; }, Qt::BlockingQueuedConnection);
    return count;
}

}  // namespace ferrow::ua
