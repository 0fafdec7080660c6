#include "devsim/simulated_device.h"

#include <QDir>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <condition_variable>
#include <mutex>

#include "devsim/basic_commands.h"
#include "devsim/datapoint_service.h"
#include "devsim/debug_service.h"
#include "devsim/file_commands.h"
#include "devsim/image_loader.h"
#include "devsim/settings_commands.h"
#include "devsim/shell_service.h"
#include "devsim/sql_service.h"
#include "platform/ui/time_scale.h"

namespace devsim {

SimulatedDevice::SimulatedDevice(DeviceOptions options)
    : options_(std::move(options)), files_(options_.root) {}

SimulatedDevice::~SimulatedDevice() { stop(); }

bool SimulatedDevice::start(QString* error) {
    if (thread_) return true;
    if (options_.root.isEmpty() || !DeviceFiles::seed(options_.root, error)) {
        if (error && error->isEmpty()) *error = QStringLiteral("no root folder given");
        return false;
    }
    thread_ = std::make_unique<QThread>();
    thread_->setObjectName(QStringLiteral("devsim ") + options_.address);
    thread_->start();
    context_ = new QObject;
    context_->moveToThread(thread_.get());
    QObject::connect(thread_.get(), &QThread::finished, context_, &QObject::deleteLater);
    bool ok = false;
    QString message;
    run([&] { ok = startServices(&message); });
    if (!ok) {
        if (error) *error = message;
        stop();
        return false;
    }
    log_.append("device " + options_.address.toStdString() + " started, root " + files_.root().toStdString());
    return true;
}

void SimulatedDevice::stop() {
    if (!thread_) return;
    run([this] { stopServices(); });
    thread_->quit();
    thread_->wait();
    thread_.reset();
    context_ = nullptr;
}

void SimulatedDevice::run(const std::function<void()>& task) {
    if (!context_ || QThread::currentThread() == thread_.get()) {
        task();
        return;
    }
    // Completion is signalled with a standard mutex rather than Qt's blocking connection, so that the
    // hand-over is visible to ThreadSanitizer too.
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool done = false;
    QMetaObject::invokeMethod(
        context_,
        [&] {
            task();
            std::lock_guard lock(doneMutex);
            done = true;
            doneChanged.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(doneMutex);
    doneChanged.wait(lock, [&] { return done; });
}

bool SimulatedDevice::startServices(QString* error) {
    shell_ = new ShellService(*this);
    shell_->setParent(context_);
    installBasicCommands(*shell_);
    installSettingsCommands(*shell_);
    datapoints_ = new DatapointService(*this);
    datapoints_->setParent(context_);
    imageLoader_ = new ImageLoader(*this);
    imageLoader_->setParent(context_);
    installFileCommands(*shell_);
    sql_ = new SqlService(*this);
    sql_->setParent(context_);
    debug_ = new DebugService(*this);
    debug_->setParent(context_);
    return listenAll(error);
}

bool SimulatedDevice::listenAll(QString* error) {
    const QHostAddress host(options_.address);
    if (host.isNull()) {
        if (error) *error = QStringLiteral("not an address: %1").arg(options_.address);
        return false;
    }
    if (!imageLoader_->listen(host, error)) return false;
    if (!datapoints_->listen(host, error)) return false;
    return shell_->listen(host, error) && sql_->listen(host, error) && debug_->listen(host, error);
}

void SimulatedDevice::stopServices() {
    if (shell_) {
        shell_->stopListening();
        shell_->closeAllSessions();
    }
    // Services are children of the context, which goes when the thread has finished.
    qDeleteAll(context_->children());
    shell_ = nullptr;
    datapoints_ = nullptr;
    imageLoader_ = nullptr;
    sql_ = nullptr;
    debug_ = nullptr;
}

void SimulatedDevice::reboot(const std::string& kind) {
    log_.append("boot: " + kind + " boot, connections closed");
    {
        std::lock_guard lock(mutex_);
        ++bootCount_;
    }
    std::vector<std::function<void()>> hooks;
    {
        std::lock_guard lock(mutex_);
        hooks = rebootHooks_;
    }
    for (const auto& hook : hooks) hook();
    shell_->stopListening();
    shell_->closeAllSessions();
    datapoints_->stopListening();
    datapoints_->closeAllSessions();
    sql_->stopListening();
    sql_->closeAllSessions();
    debug_->stopListening();
    debug_->closeAllSessions();
    QTimer::singleShot(platform::scaled(options_.rebootDelay), context_, [this] {
        QString error;
        if (listenAll(&error))
            log_.append("boot: device is up again");
        else
            log_.append("boot: cannot listen again: " + error.toStdString());
    });
}

void SimulatedDevice::onReboot(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    rebootHooks_.push_back(std::move(hook));
}

int SimulatedDevice::bootCount() const {
    std::lock_guard lock(mutex_);
    return bootCount_;
}

}  // namespace devsim
